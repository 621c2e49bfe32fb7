// The host's, the tests' and the fuzzers' side of the translation kit: the
// pixel cap and two test hooks. Not installed with the SDK.
#pragma once

#include <platform/translation.h>

#include <cstddef>

// Pictures over the cap are refused (B_NO_MEMORY) instead of decoded: 32 Mi
// pixels, a 128 MiB bitmap, unless set otherwise for tests and fuzzing.
constexpr int64 kDefaultPixelCap = int64(1) << 25;
int64 tw_translator_pixel_cap();
void tw_set_translator_pixel_cap(int64 pixels);  // 0 or less restores the default

// Test hook: the most bytes libpng held at once during the calling thread's
// last PNG decode. libpng's allocations are also refused past a fixed
// budget, so a chunk that claims gigabytes fails without being allocated.
size_t tw_png_peak_bytes();

// Test hook: called on the calling thread at the start of every Translate
// (null to remove). Lets a test hold a decode in progress.
typedef void (*tw_translate_hook)(void* arg);
void tw_set_translate_hook(tw_translate_hook hook, void* arg);
