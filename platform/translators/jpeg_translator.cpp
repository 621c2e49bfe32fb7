// JPEG through TurboJPEG, which writes blue, green, red, alpha straight into
// the bitmap's rows at the bitmap's stride.
#include <turbojpeg.h>

#include "../src/translator.h"

namespace {

// A progressive file may split its picture into many scans, each of which
// costs a pass over the whole coefficient buffer; a real encoder writes about
// ten. Files with more are refused before decoding.
constexpr int kMaxScans = 100;

bool identify(const uint8* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// Counts start-of-scan markers by walking the marker segments and skipping
// each scan's entropy-coded data. A stream too damaged to walk is left to the
// decoder, which refuses it.
int countScans(const uint8* d, size_t size) {
  int scans = 0;
  size_t i = 2;
  while (i + 1 < size) {
    if (d[i] != 0xFF) return scans;
    while (i < size && d[i] == 0xFF) ++i;  // fill bytes
    if (i >= size) return scans;
    const uint8 marker = d[i++];
    if (marker == 0xD9) return scans;                                    // end of image
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (i + 2 > size) return scans;
    const size_t length = size_t(d[i]) << 8 | d[i + 1];
    if (length < 2) return scans;
    i += length;
    if (marker != 0xDA) continue;
    if (++scans > kMaxScans) return scans;
    // Entropy-coded data ends at the first marker that is neither a stuffed
    // zero nor a restart marker.
    while (i + 1 < size) {
      if (d[i] == 0xFF && d[i + 1] != 0x00 && d[i + 1] != 0xFF && !(d[i + 1] >= 0xD0 && d[i + 1] <= 0xD7))
        break;
      ++i;
    }
  }
  return scans;
}

status_t decode(const uint8* data, size_t size, BBitmap** out) {
  if (countScans(data, size) > kMaxScans) return B_ILLEGAL_DATA;
  tjhandle tj = tjInitDecompress();
  if (tj == nullptr) return B_NO_MEMORY;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  BBitmap* bitmap = nullptr;
  status_t result = B_ILLEGAL_DATA;
  if (tjDecompressHeader3(tj, data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                          &colorspace) == 0) {
    result = tw::newPictureBitmap(width, height, &bitmap);
    // A warning (a truncated or damaged stream) stops the decode: a picture
    // with made-up parts is refused.
    if (result == B_OK &&
        tjDecompress2(tj, data, static_cast<unsigned long>(size), static_cast<unsigned char*>(bitmap->Bits()),
                      width, bitmap->BytesPerRow(), height, TJPF_BGRA, TJFLAG_STOPONWARNING) != 0) {
      result = B_ILLEGAL_DATA;
    }
  }
  tjDestroy(tj);
  if (result != B_OK) {
    delete bitmap;
    return result;
  }
  *out = bitmap;
  return B_OK;
}

}  // namespace

const tw::Translator& tw::jpegTranslator() {
  static const Translator t{"JPEG", identify, decode};
  return t;
}
