// PNG through libpng's full interface, so that its limits can be set before
// any chunk is read: the simplified interface would allocate whatever an
// ancillary chunk claims (a 45-byte file can ask for 1.4 GB) before failing.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <platform/translation_host.h>

#include "../src/translator.h"

namespace {

// Ancillary chunk data libpng may hold (text, profiles, palettes).
constexpr png_alloc_size_t kChunkBytes = 4 << 20;
// All of libpng's own memory for one decode; the picture itself lives in the
// bitmap, so this only covers row buffers, zlib and chunk data.
constexpr size_t kLibraryBudget = 32 << 20;

struct Budget {
  size_t used = 0;
  size_t peak = 0;
};
thread_local size_t lastPeak = 0;

// Every block carries its size in front, so that free can count it back.
constexpr size_t kHeader = alignof(std::max_align_t);

png_voidp budgetMalloc(png_structp png, png_alloc_size_t size) {
  Budget* b = static_cast<Budget*>(png_get_mem_ptr(png));
  if (size > kLibraryBudget - b->used) return nullptr;
  uint8* block = static_cast<uint8*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  b->used += size;
  if (b->used > b->peak) b->peak = b->used;
  return block + kHeader;
}

void budgetFree(png_structp png, png_voidp ptr) {
  if (ptr == nullptr) return;
  Budget* b = static_cast<Budget*>(png_get_mem_ptr(png));
  uint8* block = static_cast<uint8*>(ptr) - kHeader;
  size_t size;
  std::memcpy(&size, block, sizeof size);
  b->used -= size;
  std::free(block);
}

struct Reader {
  const uint8* data;
  size_t size;
  size_t at = 0;
};

void readData(png_structp png, png_bytep out, size_t length) {
  Reader* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (length > r->size - r->at) png_error(png, "truncated");
  std::memcpy(out, r->data + r->at, length);
  r->at += length;
}

void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

bool identify(const uint8* data, size_t size) { return size >= 8 && png_sig_cmp(data, 0, 8) == 0; }

// Everything that may need unwinding after a longjmp lives outside the
// function that calls setjmp.
struct Decode {
  png_structp png = nullptr;
  png_infop info = nullptr;
  BBitmap* bitmap = nullptr;
  std::vector<png_bytep> rows;
  status_t result = B_ILLEGAL_DATA;
};

void run(Decode& d, Reader& reader) {
  png_set_read_fn(d.png, &reader, readData);
  // A flaw libpng would let pass (a bad CRC in an ancillary chunk, too much
  // image data) is an error here: a damaged file is refused, not guessed at.
  png_set_benign_errors(d.png, 0);
#ifdef TW_FUZZING
  // A fuzzer's mutations would almost all die at the checksums; with them
  // ignored its inputs reach the decoder. Only the fuzz targets set this.
  png_set_crc_action(d.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
  png_set_option(d.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
#else
  png_set_crc_action(d.png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
#endif
  png_set_user_limits(d.png, png_uint_32(tw::kMaxPictureSide), png_uint_32(tw::kMaxPictureSide));
  png_set_chunk_cache_max(d.png, 128);
  png_set_chunk_malloc_max(d.png, kChunkBytes);
  png_read_info(d.png, d.info);

  const png_uint_32 width = png_get_image_width(d.png, d.info);
  const png_uint_32 height = png_get_image_height(d.png, d.info);
  d.result = tw::newPictureBitmap(width, height, &d.bitmap);
  if (d.result != B_OK) return;
  d.result = B_ILLEGAL_DATA;

  // Any PNG becomes 8-bit blue, green, red, alpha.
  png_set_expand(d.png);
  png_set_strip_16(d.png);
  png_set_gray_to_rgb(d.png);
  png_set_bgr(d.png);
  png_set_add_alpha(d.png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(d.png);
  png_read_update_info(d.png, d.info);
  if (png_get_rowbytes(d.png, d.info) != size_t(width) * 4) return;

  d.rows.resize(height);
  uint8* bits = static_cast<uint8*>(d.bitmap->Bits());
  for (png_uint_32 y = 0; y < height; ++y) d.rows[y] = bits + size_t(y) * size_t(d.bitmap->BytesPerRow());
  png_read_image(d.png, d.rows.data());
  png_read_end(d.png, nullptr);
  d.result = B_OK;
}

status_t decode(const uint8* data, size_t size, BBitmap** out) {
  Budget budget;
  Decode d;
  Reader reader{data, size};
  d.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning, &budget, budgetMalloc,
                                   budgetFree);
  if (d.png != nullptr) d.info = png_create_info_struct(d.png);
  if (d.png == nullptr || d.info == nullptr) {
    png_destroy_read_struct(d.png ? &d.png : nullptr, nullptr, nullptr);
    lastPeak = budget.peak;
    return B_NO_MEMORY;
  }
  if (setjmp(png_jmpbuf(d.png)) == 0) {
    run(d, reader);
  } else if (d.result == B_OK) {
    d.result = B_ILLEGAL_DATA;
  }
  png_destroy_read_struct(&d.png, &d.info, nullptr);
  lastPeak = budget.peak;
  if (d.result != B_OK) {
    delete d.bitmap;
    return d.result;
  }
  *out = d.bitmap;
  return B_OK;
}

}  // namespace

size_t tw_png_peak_bytes() { return lastPeak; }

const tw::Translator& tw::pngTranslator() {
  static const Translator t{"PNG", identify, decode};
  return t;
}
