// The contract between the roster and the translators in
// platform/translators/: each one recognises its format from the first bytes
// and decodes a whole file held in memory into a new B_RGB32 bitmap (bytes
// blue, green, red, alpha). A translator never reads outside the bytes it is
// given and never allocates for a picture over the pixel cap.
#pragma once

#include <platform/interface.h>
#include <platform/support.h>

#include <cstddef>

namespace tw {

struct Translator {
  const char* name;
  bool (*identify)(const uint8* data, size_t size);
  // B_OK and *out set, or an error and *out untouched.
  status_t (*decode)(const uint8* data, size_t size, BBitmap** out);
};

const Translator& pngTranslator();
const Translator& jpegTranslator();
const Translator& tgaTranslator();

// Largest side a picture may have, whatever the pixel cap.
constexpr int64 kMaxPictureSide = 16384;

// A zero-filled B_RGB32 bitmap of width × height after checking both sides
// and the pixel cap: B_ILLEGAL_DATA for an empty size, B_NO_MEMORY for one
// over the cap or when memory runs out.
status_t newPictureBitmap(int64 width, int64 height, BBitmap** out);

}  // namespace tw
