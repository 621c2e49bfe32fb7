#include "slider_addon.h"

#include "FilterKit.h"

#include <platform/storage.h>
#include <platform/translation.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Pictures are placed within the standard frame whatever the frame's size.
constexpr int32 kAreaWidth = 640, kAreaHeight = 480;
// A picture up to 679 × 519 keeps its size; beyond, the step grows by one
// for every further 680 columns or 520 rows.
constexpr int32 kStepWidth = 680, kStepHeight = 520;
constexpr int32 kGrid = 8;  // pasted widths and left edges are multiples of 8

// Whole pixels counted from a bitmap's truncated extents; a negative extent
// counts as empty.
int32 extent(float low, float high) {
  const int32 n = int32(high - low) + 1;
  return n > 0 ? n : 0;
}

// Red, green and blue of source pixel p of a B_RGB32 row (bytes blue, green,
// red, unused), averaged with pixel p + 1 when the step is 2.
inline void sample(const uint8* row, int32 p, bool pairMean, uint8& r, uint8& g, uint8& b) {
  const uint8* px = row + int64(p) * 4;
  if (pairMean) {
    r = uint8((px[2] + px[6]) >> 1);
    g = uint8((px[1] + px[5]) >> 1);
    b = uint8((px[0] + px[4]) >> 1);
  } else {
    r = px[2], g = px[1], b = px[0];
  }
}

}  // namespace

// What tells the two loaders apart.
struct CSliderFilter::Variant {
  bigtime_t period;  // wait before every attempt, in microseconds
  bool dropEmpty;    // a picture with empty bounds is dropped, not converted
  // Converts with step s; the owner keeps the converted pixels alive.
  bool (*convert)(CSliderFilter& self, BBitmap* decoded, int s, Picture& out,
                  std::unique_ptr<BBitmap>& bitmap, std::unique_ptr<uint32[]>& pixels);
};

CSliderFilter::~CSliderFilter() { endRun(); }

bool CSliderFilter::load() {
  name = "Img Radezu";
  author = "Mornel";
  info = "Sample code";
  hostHint1 = 0;
  hostHint2 = 3;
  hostFactor = 0.7f;
  supportedModes = 3;
  waitSem = -1;
  loaderQuit = true;
  {
    std::lock_guard<std::mutex> g(pictureLock);
    pictureRect = BRect(0, 0, 0, 0);
  }
  pictureBuffer = nullptr;
  pictureBufferSize = 0;
  runPixelMode = 1;
  return true;
}

bool CSliderFilter::prepare() {
  endRun();  // a run the host did not terminate is ended, not leaked
  const sem_id sem = create_sem(0, "slider_wait_lock");
  waitSem = sem;
  if (sem < 0) return false;
  loaderQuit = false;

  pictureBufferSize = frameBytes;
  pictureBuffer = frameBytes >= 0 ? new (std::nothrow) uint8[size_t(frameBytes)] : nullptr;
  if (pictureBuffer == nullptr) return false;
  std::memset(pictureBuffer, 0, size_t(frameBytes));
  runPixelMode = pixelMode;

  // The buffer has the frame's layout (frameBytes bytes, rows bytesPerRow
  // apart), so the kit's bounds of the frame bound it too.
  runRows = pixelMode == 1 || pixelMode == 2 ? frame_rows(*this, pixelMode == 2 ? 4 : 1) : SFrameRows{};

  loaderThread = spawn_thread(loader_entry, "slider_loader", B_NORMAL_PRIORITY, this);
  if (loaderThread < 0) return false;
  resume_thread(loaderThread);
  return true;
}

void CSliderFilter::terminate() { endRun(); }

void CSliderFilter::endRun() {
  const sem_id sem = waitSem.exchange(-1);
  loaderQuit = true;
  // A loader waiting on the semaphore wakes at once and ends; one that is
  // decoding, converting or pasting finishes that step, then sees the flag.
  if (sem >= 0) delete_sem(sem);
  if (loaderThread >= 0) {
    status_t ignored;
    wait_for_thread(loaderThread, &ignored);
    loaderThread = -1;
  }
  delete[] pictureBuffer;
  pictureBuffer = nullptr;
}

void CSliderFilter::unload() {}

void CSliderFilter::processFrame8(SFrameInfo& info) { copyToFrame(info, 1); }

void CSliderFilter::processFrame32(SFrameInfo& info) { copyToFrame(info, 4); }

void CSliderFilter::copyToFrame(SFrameInfo& info, int32 pixelSize) {
  if (pictureBuffer == nullptr || info.bits == nullptr) return;
  std::lock_guard<std::mutex> g(pictureLock);
  const int32 x = int32(pictureRect.left), y = int32(pictureRect.top);
  const int32 w = int32(pictureRect.right - pictureRect.left);
  const int32 h = int32(pictureRect.bottom - pictureRect.top);
  if (w <= 0 || h <= 0 || x < 0 || y < 0) return;
  // Rows are addressed by stride, never by width; what lies beyond the
  // frame's width, height or size is not copied.
  const int64 start = int64(x) * pixelSize;
  for (int32 r = 0; r < h; ++r) {
    const int64 offset = int64(y + r) * runRows.bytesPerRow + start;
    if (copy_row(runRows, info.bits, y + r, start, pictureBuffer + offset, int64(w) * pixelSize) == 0) break;
  }
}

status_t CSliderFilter::loader_entry(void* data) {
  CSliderFilter* self = static_cast<CSliderFilter*>(data);
  if (self->runPixelMode == 1)
    self->loader8();
  else if (self->runPixelMode == 2)
    self->loader32();
  return 0;
}

void CSliderFilter::loader8() {
  static const Variant variant{500000, false,
                               [](CSliderFilter& self, BBitmap* decoded, int s, Picture& out,
                                  std::unique_ptr<BBitmap>& bitmap, std::unique_ptr<uint32[]>&) {
                                 bitmap.reset(self._makeBitmap8Bit(decoded, s));
                                 if (!bitmap) return false;
                                 const BRect b = bitmap->Bounds();
                                 out = Picture{static_cast<const uint8*>(bitmap->Bits()),
                                               extent(b.left, b.right), extent(b.top, b.bottom),
                                               bitmap->BytesPerRow(), 1};
                                 return true;
                               }};
  runLoader(variant);
}

void CSliderFilter::loader32() {
  static const Variant variant{
      2000000, true,
      [](CSliderFilter& self, BBitmap* decoded, int s, Picture& out, std::unique_ptr<BBitmap>&,
         std::unique_ptr<uint32[]>& pixels) {
        pixels.reset(self.makeBitmap32Bit(decoded, s));
        if (!pixels) return false;
        const BRect b = decoded->Bounds();
        const int32 dw = extent(b.left, b.right) / s, dh = extent(b.top, b.bottom) / s;
        out = Picture{reinterpret_cast<const uint8*>(pixels.get()), dw, dh, dw * 4, 4};
        return true;
      }};
  runLoader(variant);
}

void CSliderFilter::runLoader(const Variant& v) {
  BDirectory directory(imageDir.Path());
  // A directory that cannot be opened counts as an error, not as empty: the
  // loader then keeps waiting and retrying until terminate.
  while (!loaderQuit) {
    const int32 count = directory.CountEntries();
    if (count == 0) loaderQuit = true;
    directory.Rewind();
    while (!loaderQuit) {
      const status_t waited = acquire_sem_etc(waitSem, 1, B_RELATIVE_TIMEOUT, v.period);
      if (loaderQuit || waited != B_TIMED_OUT) break;

      // The cursor is not rewound between picks: each pick lies 1 … count
      // entries after the previous one, and running past the last entry ends
      // the pass.
      const int64 r = rand() % count;
      BEntry entry;
      status_t found = B_ERROR;
      for (int64 k = 0; k <= r; ++k)
        if ((found = directory.GetNextEntry(&entry, false)) < B_OK) break;
      if (found < B_OK) break;

      BPath path;
      if (entry.GetPath(&path) < B_OK) continue;
      std::unique_ptr<BBitmap> decoded(GetBitmap(path.Path()));
      if (!decoded) continue;
      if (loaderQuit) break;

      const BRect bounds = decoded->Bounds();
      const int32 w = extent(bounds.left, bounds.right), h = extent(bounds.top, bounds.bottom);
      if (v.dropEmpty && (w == 0 || h == 0)) continue;
      const int s = std::max(w / kStepWidth, h / kStepHeight) + 1;
      Picture picture{};
      std::unique_ptr<BBitmap> bitmap;
      std::unique_ptr<uint32[]> pixels;
      const bool converted = v.convert(*this, decoded.get(), s, picture, bitmap, pixels);
      decoded.reset();
      if (!converted) continue;
      if (loaderQuit) break;
      pastePicture(picture);
    }
  }
}

void CSliderFilter::pastePicture(const Picture& p) {
  const int32 dw = std::max(p.dw, 0), dh = std::max(p.dh, 0);
  const int32 cw = std::min(dw, kAreaWidth) / kGrid * kGrid;
  const int32 ch = std::min(dh, kAreaHeight);
  const int32 sx = (dw - cw) / 2, sy = (dh - ch) / 2;
  // rand() only for a coordinate that is drawn, dx first.
  const int32 dx = cw == kAreaWidth ? 0 : rand() % (kAreaWidth - cw) / kGrid * kGrid;
  const int32 dy = ch == kAreaHeight ? 0 : rand() % (kAreaHeight - ch);

  std::lock_guard<std::mutex> g(pictureLock);
  if (pictureBuffer != nullptr && p.bits != nullptr) {
    const int64 start = int64(dx) * p.pixelSize;
    for (int32 r = 0; r < ch; ++r)
      if (copy_row(runRows, pictureBuffer, dy + r, start,
                   p.bits + int64(sy + r) * p.stride + int64(sx) * p.pixelSize, int64(cw) * p.pixelSize) == 0)
        break;
  }
  // Published after the rows, so a frame never copies a place the new
  // picture has not reached.
  pictureRect = BRect(float(dx), float(dy), float(dx + cw), float(dy + ch));
}

BBitmap* CSliderFilter::GetBitmap(const char* path) {
  try {
    BTranslatorRoster* roster = BTranslatorRoster::Default();
    // An unopened file makes the translation fail; it is not tested here.
    BFile file(path, B_READ_ONLY);
    BBitmapStream stream;
    if (roster == nullptr || roster->Translate(&file, nullptr, nullptr, &stream, B_TRANSLATOR_BITMAP) < B_OK)
      return nullptr;
    BBitmap* bitmap = nullptr;
    stream.DetachBitmap(&bitmap);
    return bitmap;
  } catch (...) {
    return nullptr;
  }
}

BBitmap* CSliderFilter::_makeBitmap8Bit(BBitmap* source, int s) {
  if (source == nullptr || s < 1) return nullptr;
  const BRect b = source->Bounds();
  const int32 w = extent(b.left, b.right), h = extent(b.top, b.bottom);
  const int32 dw = w / s, dh = h / s;
  std::unique_ptr<BBitmap> result(new (std::nothrow)
                                      BBitmap(BRect(0, 0, float(dw - 1), float(dh - 1)), B_CMAP8));
  if (!result || result->InitCheck() != B_OK) return nullptr;
  if (source->ColorSpace() != B_RGB32) return nullptr;
  std::unique_ptr<uint8[]> row(new (std::nothrow) uint8[size_t(w) * 3]);
  if (!row) return nullptr;
  const uint8* bits = static_cast<const uint8*>(source->Bits());
  if (bits == nullptr && dw > 0 && dh > 0) return nullptr;
  const bool pairMean = s == 2;
  for (int32 j = 0; j < dh; ++j) {
    const uint8* src = bits + int64(j) * s * source->BytesPerRow();
    for (int32 i = 0; i < dw; ++i) {
      uint8* out = &row[size_t(i) * 3];
      sample(src, i * s, pairMean, out[0], out[1], out[2]);
    }
    result->SetBits(row.get(), dw * 3, j * result->BytesPerRow(), B_RGB32);
  }
  return result.release();
}

uint32* CSliderFilter::makeBitmap32Bit(BBitmap* source, int s) {
  if (source == nullptr || s < 1) return nullptr;
  const BRect b = source->Bounds();
  const int32 w = extent(b.left, b.right), h = extent(b.top, b.bottom);
  const int32 dw = w / s, dh = h / s;
  if (source->ColorSpace() != B_RGB32) return nullptr;
  const uint8* bits = static_cast<const uint8*>(source->Bits());
  if (bits == nullptr && dw > 0 && dh > 0) return nullptr;
  uint32* pixels = new (std::nothrow) uint32[size_t(dw) * size_t(dh)];
  if (pixels == nullptr) return nullptr;
  const bool pairMean = s == 2;
  for (int32 j = 0; j < dh; ++j) {
    const uint8* src = bits + int64(j) * s * source->BytesPerRow();
    uint32* out = pixels + int64(j) * dw;
    for (int32 i = 0; i < dw; ++i) {
      uint8 r, g, bl;
      sample(src, i * s, pairMean, r, g, bl);
      out[i] = uint32(r) << 16 | uint32(g) << 8 | bl;
    }
  }
  return pixels;
}

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CSliderFilter>() : nullptr;
}
