// One translator on arbitrary bytes. TW_FUZZ_FORMAT picks it (png, jpeg,
// tga). The pixel cap is lowered so that a header claiming a large picture
// costs the fuzzer no time; what the cap guards is tested elsewhere.
#include <cstddef>
#include <cstdint>

#include <platform/translation_host.h>
#include "translator.h"

namespace {

#define TW_CAT(a, b) a##b
#define TW_TRANSLATOR(f) TW_CAT(f, Translator)

const tw::Translator& translator() { return tw::TW_TRANSLATOR(TW_FUZZ_FORMAT)(); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tw_set_translator_pixel_cap(1 << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tw::Translator& t = translator();
  if (!t.identify(data, size)) return 0;
  BBitmap* bitmap = nullptr;
  if (t.decode(data, size, &bitmap) == B_OK) {
    // A decoded picture is whole: every byte of it can be read.
    const uint8_t* bits = static_cast<const uint8_t*>(bitmap->Bits());
    volatile uint8_t sum = 0;
    for (int32 i = 0; i < bitmap->BitsLength(); ++i) sum = uint8_t(sum + bits[i]);
    delete bitmap;
  }
  return 0;
}
