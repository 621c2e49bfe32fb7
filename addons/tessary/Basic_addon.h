// Tessary: a beat-triggered flip-book. A loader thread reads six pictures
// from dataDir/image_map and converts them to 8-bit bitmaps; once all six are
// in memory every frame shows the first, and a strong low-frequency beat plays
// pictures 1 to 6 on six consecutive frames.
#pragma once

#include <platform/kernel.h>
#include <platform/storage.h>

#include <atomic>

#include "CFilter.h"

class CTessary : public CFilter {
 public:
  CTessary();
  // Stops and joins a loader that unload did not stop, then releases what is
  // left: the pictures and the icon.
  ~CTessary() override;

  bool load() override;
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  // Stops the loader (polling every 0.1 s until it has ended) and releases
  // the pictures.
  void unload() override;

  // The loader thread "LoadImages"; data is the filter.
  static status_t LoadImages(void* data);
  // The picture the entry designates, decoded; null when it cannot be read.
  BBitmap* GetBitmapFile(BEntry* entry);

  int32 imageIndex = 0;  // picture the current frame shows, 0…5
  bool playing = false;  // a run through the six pictures is under way
  BList images;          // the B_CMAP8 pictures in file order; owned
  // The hand-over between the host's thread and the loader: each flag has one
  // writer; stores release and loads acquire what was written before them.
  std::atomic<bool> stopLoading{false};  // host → loader: stop before the next picture
  std::atomic<bool> loaderDone{false};   // loader → host: its very last step
  std::atomic<bool> imagesReady{false};  // loader → frames: all six pictures are in images

 private:
  void releaseImages();
  // Ends a running loader; with `poll`, as unload does, by looking at
  // loaderDone every 0.1 s.
  void stopLoader(bool poll);

  thread_id loaderThread = -1;  // negative when no loader was started
};
