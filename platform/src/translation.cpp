#include <platform/translation_host.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "translator.h"

namespace {

// Largest source file read into memory.
constexpr off_t kMaxSourceBytes = 256 << 20;

std::atomic<int64> pixelCap{kDefaultPixelCap};

struct Hook {
  tw_translate_hook hook;
  void* arg;
};
std::atomic<Hook*> translateHook{nullptr};
std::mutex hookLock;
std::vector<std::unique_ptr<Hook>> hooks;  // every hook ever set, kept for calls still running

status_t readWhole(BPositionIO* source, std::vector<uint8>& data) {
  off_t size = 0;
  if (source->GetSize(&size) == B_OK && source->Seek(0, SEEK_SET) == 0) {
    if (size > kMaxSourceBytes) return B_NO_MEMORY;
    data.resize(size_t(size));
    const ssize_t n = source->ReadAt(0, data.data(), data.size());
    if (n < 0) return status_t(n);
    data.resize(size_t(n));
    return B_OK;
  }
  // A stream without a size: read until it ends.
  uint8 chunk[65536];
  for (;;) {
    const ssize_t n = source->Read(chunk, sizeof chunk);
    if (n < 0) return status_t(n);
    if (n == 0) return B_OK;
    if (data.size() + size_t(n) > size_t(kMaxSourceBytes)) return B_NO_MEMORY;
    data.insert(data.end(), chunk, chunk + n);
  }
}

}  // namespace

void tw_set_translate_hook(tw_translate_hook hook, void* arg) {
  // The old hook is kept alive: a Translate on another thread may still be calling it.
  std::lock_guard<std::mutex> g(hookLock);
  if (hook) hooks.push_back(std::make_unique<Hook>(Hook{hook, arg}));
  translateHook.store(hook ? hooks.back().get() : nullptr);
}

int64 tw_translator_pixel_cap() { return pixelCap.load(); }
void tw_set_translator_pixel_cap(int64 pixels) { pixelCap.store(pixels > 0 ? pixels : kDefaultPixelCap); }

status_t tw::newPictureBitmap(int64 width, int64 height, BBitmap** out) {
  if (width <= 0 || height <= 0) return B_ILLEGAL_DATA;
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > pixelCap.load())
    return B_NO_MEMORY;
  BBitmap* b = new (std::nothrow) BBitmap(BRect(0, 0, float(width - 1), float(height - 1)), B_RGB32);
  if (b == nullptr) return B_NO_MEMORY;
  if (b->InitCheck() != B_OK) {
    const status_t why = b->InitCheck();
    delete b;
    return why;
  }
  *out = b;
  return B_OK;
}

BBitmapStream::BBitmapStream(BBitmap* b) : bitmap(b) {}

BBitmapStream::~BBitmapStream() { delete bitmap; }

status_t BBitmapStream::DetachBitmap(BBitmap** out) {
  if (out == nullptr) return B_BAD_VALUE;
  if (bitmap == nullptr) return B_ERROR;
  *out = bitmap;
  bitmap = nullptr;
  position = 0;
  return B_OK;
}

void BBitmapStream::tw_SetBitmap(BBitmap* b) {
  if (b == bitmap) return;
  delete bitmap;
  bitmap = b;
  position = 0;
}

// As a byte stream the bitmap is its pixel bits, row after row at its stride.
ssize_t BBitmapStream::ReadAt(off_t at, void* buffer, size_t size) {
  if (bitmap == nullptr) return B_NO_INIT;
  if (buffer == nullptr || at < 0) return B_BAD_VALUE;
  const off_t length = bitmap->BitsLength();
  if (at >= length) return 0;
  const size_t n = size < size_t(length - at) ? size : size_t(length - at);
  std::memcpy(buffer, static_cast<const uint8*>(bitmap->Bits()) + at, n);
  return ssize_t(n);
}

ssize_t BBitmapStream::WriteAt(off_t at, const void* buffer, size_t size) {
  if (bitmap == nullptr) return B_NO_INIT;
  if (buffer == nullptr || at < 0) return B_BAD_VALUE;
  const off_t length = bitmap->BitsLength();
  if (at >= length) return B_BAD_VALUE;
  const size_t n = size < size_t(length - at) ? size : size_t(length - at);
  std::memcpy(static_cast<uint8*>(bitmap->Bits()) + at, buffer, n);
  return ssize_t(n);
}

off_t BBitmapStream::Seek(off_t to, uint32 mode) {
  off_t base = 0;
  if (mode == SEEK_CUR)
    base = position;
  else if (mode == SEEK_END)
    base = bitmap ? bitmap->BitsLength() : 0;
  else if (mode != SEEK_SET)
    return B_BAD_VALUE;
  if (base + to < 0) return B_BAD_VALUE;
  position = base + to;
  return position;
}

off_t BBitmapStream::Position() const { return position; }

status_t BBitmapStream::GetSize(off_t* size) const {
  if (size == nullptr) return B_BAD_VALUE;
  *size = bitmap ? bitmap->BitsLength() : 0;
  return B_OK;
}

BTranslatorRoster* BTranslatorRoster::Default() {
  static BTranslatorRoster roster;
  return &roster;
}

// Formats with a signature come first; TGA, which has none, is tried last.
status_t BTranslatorRoster::Translate(BPositionIO* source, const translator_info*, BMessage*,
                                      BPositionIO* destination, uint32 wantOutType, uint32, const char*) {
  if (Hook* h = translateHook.load()) h->hook(h->arg);
  if (source == nullptr || destination == nullptr) return B_BAD_VALUE;
  if (wantOutType != B_TRANSLATOR_BITMAP) return B_NO_TRANSLATOR;
  BBitmapStream* stream = dynamic_cast<BBitmapStream*>(destination);
  if (stream == nullptr) return B_BAD_VALUE;
  try {
    std::vector<uint8> data;
    if (status_t e = readWhole(source, data); e != B_OK) return e;
    const tw::Translator* translators[] = {&tw::pngTranslator(), &tw::jpegTranslator(), &tw::tgaTranslator()};
    for (const tw::Translator* t : translators) {
      if (!t->identify(data.data(), data.size())) continue;
      BBitmap* bitmap = nullptr;
      const status_t e = t->decode(data.data(), data.size(), &bitmap);
      if (e != B_OK) return e;
      stream->tw_SetBitmap(bitmap);
      return B_OK;
    }
    return B_NO_TRANSLATOR;
  } catch (const std::bad_alloc&) {
    return B_NO_MEMORY;
  }
}
