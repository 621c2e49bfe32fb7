// TGA, our own reader: uncompressed and run-length data; colour-mapped,
// grey and 15/16/24/32-bit true colour; any of the four origins. Every read
// is checked against the end of the file.
#include <cstring>
#include <vector>

#include "../src/translator.h"

namespace {

struct Header {
  uint8 idLength, mapType, imageType;
  uint16 mapFirst, mapLength;
  uint8 mapEntryBits;
  uint16 width, height;
  uint8 pixelBits, descriptor;
};

uint16 le16(const uint8* p) { return uint16(p[0] | p[1] << 8); }

Header parseHeader(const uint8* d) {
  return Header{d[0], d[1], d[2], le16(d + 3), le16(d + 5), d[7], le16(d + 12), le16(d + 14), d[16], d[17]};
}

bool isColourMapped(const Header& h) { return (h.imageType & 7) == 1; }
bool isGrey(const Header& h) { return (h.imageType & 7) == 3; }
bool isRunLength(const Header& h) { return (h.imageType & 8) != 0; }

bool validEntryBits(uint8 bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// TGA has no signature, so the header must be consistent in every field.
bool plausible(const Header& h) {
  if (h.mapType > 1 || h.width == 0 || h.height == 0 || (h.descriptor & 0xC0) != 0) return false;
  const uint8 kind = h.imageType & ~8;
  if (kind < 1 || kind > 3 || (h.imageType & ~0x0B) != 0) return false;
  if (isColourMapped(h))
    return h.mapType == 1 && h.mapLength > 0 && validEntryBits(h.mapEntryBits) &&
           (h.pixelBits == 8 || h.pixelBits == 16);
  if (h.mapType == 1 && (h.mapLength == 0 || !validEntryBits(h.mapEntryBits))) return false;
  if (isGrey(h)) return h.pixelBits == 8 || h.pixelBits == 16;
  return validEntryBits(h.pixelBits);
}

bool identify(const uint8* data, size_t size) { return size >= 18 && plausible(parseHeader(data)); }

// One pixel of `bits` bits, as blue, green, red, alpha. 16-bit true colour
// carries an attribute bit that is alpha only when the descriptor says so.
void toBgra(const uint8* p, uint8 bits, bool greyData, bool attributeIsAlpha, uint8* out) {
  if (greyData) {
    out[0] = out[1] = out[2] = p[0];
    out[3] = bits == 16 ? p[1] : 0xFF;
    return;
  }
  switch (bits) {
    case 15:
    case 16: {
      const uint16 v = le16(p);
      const uint8 r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      out[0] = uint8(b << 3 | b >> 2);
      out[1] = uint8(g << 3 | g >> 2);
      out[2] = uint8(r << 3 | r >> 2);
      out[3] = bits == 16 && attributeIsAlpha ? ((v & 0x8000) ? 0xFF : 0) : 0xFF;
      return;
    }
    case 24:
      std::memcpy(out, p, 3);
      out[3] = 0xFF;
      return;
    default:
      std::memcpy(out, p, 4);
      return;
  }
}

status_t decode(const uint8* data, size_t size, BBitmap** out) {
  if (!identify(data, size)) return B_NO_TRANSLATOR;
  const Header h = parseHeader(data);
  const uint8* const end = data + size;
  const uint8* p = data + 18 + h.idLength;
  const bool attributeIsAlpha = (h.descriptor & 0x0F) == 1;

  // The colour map, turned to blue, green, red, alpha once.
  std::vector<uint8> map;
  if (h.mapType == 1) {
    const size_t entryBytes = (size_t(h.mapEntryBits) + 7) / 8;
    const size_t mapBytes = entryBytes * h.mapLength;
    if (p > end || size_t(end - p) < mapBytes) return B_ILLEGAL_DATA;
    if (isColourMapped(h)) {
      map.resize(size_t(h.mapLength) * 4);
      for (size_t i = 0; i < h.mapLength; ++i)
        toBgra(p + i * entryBytes, h.mapEntryBits, false, h.mapEntryBits == 16 && attributeIsAlpha,
               &map[i * 4]);
    }
    p += mapBytes;
  }
  if (p > end) return B_ILLEGAL_DATA;

  BBitmap* bitmap = nullptr;
  if (status_t e = tw::newPictureBitmap(h.width, h.height, &bitmap); e != B_OK) return e;
  const size_t pixelBytes = (size_t(h.pixelBits) + 7) / 8;
  const bool topDown = (h.descriptor & 0x20) != 0, rightToLeft = (h.descriptor & 0x10) != 0;
  uint8* const bits = static_cast<uint8*>(bitmap->Bits());
  const size_t stride = size_t(bitmap->BytesPerRow());

  // Decodes one stored pixel into `px`; false for an index outside the map.
  auto convert = [&](const uint8* src, uint8* px) {
    if (!isColourMapped(h)) {
      toBgra(src, h.pixelBits, isGrey(h), attributeIsAlpha, px);
      return true;
    }
    const int64 index = int64(h.pixelBits == 16 ? le16(src) : src[0]) - h.mapFirst;
    if (index < 0 || index >= h.mapLength) return false;
    std::memcpy(px, &map[size_t(index) * 4], 4);
    return true;
  };

  // Pixels come in file order; each lands in its row and column by origin.
  // Run-length packets may cross row ends.
  const size_t total = size_t(h.width) * h.height;
  size_t n = 0;
  uint8 px[4];
  auto place = [&](size_t i) {
    const size_t fileRow = i / h.width, fileColumn = i % h.width;
    const size_t y = topDown ? fileRow : h.height - 1 - fileRow;
    const size_t x = rightToLeft ? h.width - 1 - fileColumn : fileColumn;
    std::memcpy(bits + y * stride + x * 4, px, 4);
  };
  bool ok = true;
  while (n < total && ok) {
    size_t count = 1;
    bool repeat = false;
    if (isRunLength(h)) {
      if (p >= end) {
        ok = false;
        break;
      }
      count = size_t(*p & 0x7F) + 1;
      repeat = (*p & 0x80) != 0;
      ++p;
      if (count > total - n) count = total - n;  // a packet past the last pixel is cut
    }
    if (repeat) {
      if (size_t(end - p) < pixelBytes || !convert(p, px)) {
        ok = false;
        break;
      }
      p += pixelBytes;
      for (size_t k = 0; k < count; ++k) place(n++);
    } else {
      if (size_t(end - p) / pixelBytes < count) {
        ok = false;
        break;
      }
      for (size_t k = 0; k < count && ok; ++k, p += pixelBytes) {
        ok = convert(p, px);
        if (ok) place(n++);
      }
    }
  }
  if (!ok) {
    delete bitmap;
    return B_ILLEGAL_DATA;
  }
  *out = bitmap;
  return B_OK;
}

}  // namespace

const tw::Translator& tw::tgaTranslator() {
  static const Translator t{"TGA", identify, decode};
  return t;
}
