#include <platform/translation.h>

#include <cstdio>
#include <cstring>

#include "Basic_addon.h"
#include "FilterKit.h"

namespace {

constexpr int32 kPictures = 6;
constexpr double kBeatFactor = 2e-05;  // spectrum[1][10] × factor > 35 is a beat
constexpr double kBeatLevel = 35;
constexpr bigtime_t kPollPeriod = 100000;

}  // namespace

CTessary::CTessary() : images(20) {}

CTessary::~CTessary() {
  stopLoader(false);
  releaseImages();
  delete icon;  // loaded by load; the host only ever borrows it
  icon = nullptr;
}

bool CTessary::load() {
  // A second load without unload would start a second loader on the same list.
  stopLoader(false);
  releaseImages();

  name = "Tessary";
  author = "Dravin Tobb AKA Kalu";
  info = "...";
  hostHint1 = 0;
  hostHint2 = 1;
  supportedModes = 1;
  hostFlag2 = true;
  delete icon;
  icon = loadBitmap("./add-ons.icons/fft.tga");

  imageIndex = 0;
  playing = false;
  imagesReady.store(false, std::memory_order_release);
  stopLoading.store(false, std::memory_order_release);
  loaderDone.store(false, std::memory_order_release);

  // The id is kept so that unload and the destructor wait only for a thread
  // that exists.
  loaderThread = spawn_thread(LoadImages, "LoadImages", B_LOW_PRIORITY, this);
  if (loaderThread >= 0) resume_thread(loaderThread);
  return true;
}

bool CTessary::prepare() {
  imageIndex = 0;
  playing = false;
  return true;
}

status_t CTessary::LoadImages(void* data) {
  CTessary* self = static_cast<CTessary*>(data);
  BPath path(self->dataDir.Path(), "image_map");
  BDirectory* directory = new BDirectory(path.Path());
  std::printf("CTessary::LoadImages\n");

  BBitmap* decoded = nullptr;
  BBitmap* converted = nullptr;
  bool failed = false;
  for (long n = 1; n <= kPictures && !self->stopLoading.load(std::memory_order_acquire); ++n) {
    char fileName[32];
    std::sprintf(fileName, "image%ld.jpg", n);
    std::printf("CTessary::LoadImages -> Loading %s...\n", fileName);
    BEntry entry;
    const status_t err = directory->FindEntry(fileName, &entry, false);
    if (err != B_OK) {
      // The code as the 32-bit number it is; strerror knows the platform's codes.
      std::printf("CTessary::LoadImages -> Error find entry: 0x%08lx - %s\n", (unsigned long)(uint32)err,
                  std::strerror(err));
      failed = true;
      break;
    }
    decoded = self->GetBitmapFile(&entry);
    if (decoded == nullptr) {
      std::printf("CTessary::LoadImages -> Error Get Bimap File\n");
      failed = true;
      break;
    }
    converted = self->makeBitmap8Bit(decoded);
    if (converted == nullptr) {
      std::printf("CTessary::LoadImages -> Error makeBitmap8Bit\n");
      failed = true;
      break;
    }
    delete decoded;
    decoded = nullptr;
    if (!self->images.AddItem(converted)) {
      failed = true;
      break;
    }
    converted = nullptr;
  }
  if (!failed) {
    std::printf("CTessary::LoadImages -> OK\n");
    if (!self->stopLoading.load(std::memory_order_acquire))
      self->imagesReady.store(true, std::memory_order_release);
  }
  delete decoded;
  delete converted;
  delete directory;
  std::fflush(stdout);
  // Last: after this store the host may empty the list and delete the filter.
  self->loaderDone.store(true, std::memory_order_release);
  return 0;
}

BBitmap* CTessary::GetBitmapFile(BEntry* entry) {
  if (entry == nullptr) return nullptr;
  BPath path;
  entry->GetPath(&path);
  std::printf("CTessary::GetBitmapFile -- path '%s'\n", path.Path() ? path.Path() : "");
  if (entry->InitCheck() != B_OK || !entry->Exists()) {
    std::printf("CTessary::GetBitmapFile -- failed to load entry\n");
    return nullptr;
  }
  return loadBitmap(path.Path());
}

void CTessary::processFrame8(SFrameInfo& info) {
  if (!imagesReady.load(std::memory_order_acquire)) {
    blitRect8(0, 0, width, height, 0);
    return;
  }
  if (info.spectrum[1] != nullptr && double(info.spectrum[1][10]) * kBeatFactor > kBeatLevel) playing = true;

  BBitmap* picture = static_cast<BBitmap*>(images.ItemAt(imageIndex));
  uint8* target = frame ? static_cast<uint8*>(frame->bits) : nullptr;
  if (picture != nullptr && target != nullptr && picture->Bits() != nullptr) {
    // Top-left aligned, each addressed at its own stride; only the area both
    // the picture and the frame hold is copied.
    const BRect b = picture->Bounds();
    const int64 pictureWidth = int64(b.right - b.left) + 1, pictureHeight = int64(b.bottom - b.top) + 1;
    const SFrameRows rows = frame_rows(*this, 1);
    const uint8* source = static_cast<const uint8*>(picture->Bits());
    for (int64 r = 0; r < pictureHeight; ++r)
      if (copy_row(rows, target, r, 0, source + r * picture->BytesPerRow(), pictureWidth) == 0) break;
  }

  if (imageIndex == kPictures - 1) {
    imageIndex = 0;
    playing = false;
  } else if (playing) {
    ++imageIndex;
  }
}

void CTessary::stopLoader(bool poll) {
  if (loaderThread < 0) return;
  stopLoading.store(true, std::memory_order_release);
  if (poll)
    while (!loaderDone.load(std::memory_order_acquire)) snooze(kPollPeriod);
  wait_for_thread(loaderThread, nullptr);
  loaderThread = -1;
}

void CTessary::unload() {
  stopLoading.store(true, std::memory_order_release);
  // Waits only for a loader that was started: with none, loaderDone would
  // never be set.
  stopLoader(true);
  releaseImages();
}

void CTessary::releaseImages() {
  for (int32 i = 0; i < images.CountItems(); ++i) delete static_cast<BBitmap*>(images.ItemAt(i));
  images.MakeEmpty();
}
