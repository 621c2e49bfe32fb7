// Img Radezu: a slide show of the pictures in the filter's picture directory.
// A loader thread picks a random entry at fixed intervals, decodes it, scales
// it down by a whole-number step until it fits, converts it to the frame's
// pixel mode and pastes it at a random place into a frame-sized buffer; every
// frame copies the newest picture's rectangle from that buffer into the
// frame, at the same place. Nothing else is drawn.
#pragma once

#include "CFilter.h"
#include "FilterKit.h"

#include <platform/kernel.h>

#include <atomic>
#include <mutex>

class CSliderFilter : public CFilter {
 public:
  CSliderFilter() = default;
  // Stops and joins a loader that terminate did not stop, and frees the run's
  // semaphore and buffer, so that a host deleting the filter mid-run leaves
  // no thread writing into freed memory.
  ~CSliderFilter() override;

  bool load() override;
  // Creates the wait semaphore, the zero-filled picture buffer and the
  // loader thread; true when the loader runs.
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
  // Cuts the loader's wait short, joins it and frees the buffer. The
  // rectangle of the last picture is kept for the next run.
  void terminate() override;
  void unload() override;

  // Decodes a picture file through the translators; null when it cannot.
  BBitmap* GetBitmap(const char* path);
  // Loader thread entry; `data` is the filter.
  static status_t loader_entry(void* data);
  void loader8();
  void loader32();
  // Shrink a B_RGB32 bitmap by the step s (pixel (i, j) from (i·s, j·s),
  // averaged with its right neighbour at step 2) into a new B_CMAP8 bitmap or
  // a new packed array of 0x00RRGGBB pixels (delete[]). Null for anything
  // that is not B_RGB32.
  BBitmap* _makeBitmap8Bit(BBitmap* source, int s);
  uint32* makeBitmap32Bit(BBitmap* source, int s);

  // One converted picture: dw × dh pixels of `pixelSize` bytes whose rows lie
  // `stride` bytes apart.
  struct Picture {
    const uint8* bits;
    int32 dw, dh, stride, pixelSize;
  };
  // Crops the picture to at most 640 × 480, pastes it at a random place on
  // the 8-pixel grid and publishes its rectangle once every row is in the
  // buffer. Loader side; public for the benchmarks.
  void pastePicture(const Picture& picture);

  thread_id loaderThread = -1;
  std::atomic<sem_id> waitSem{-1};
  std::atomic<bool> loaderQuit{true};
  uint8* pictureBuffer = nullptr;
  int32 pictureBufferSize = 0;
  // Right and bottom lie one past the last column and row. Guarded by
  // pictureLock, like the buffer's contents.
  BRect pictureRect{0, 0, -1, -1};
  int32 runPixelMode = 1;

 private:
  struct Variant;
  void runLoader(const Variant& variant);
  // terminate's work; also the destructor's.
  void endRun();
  // Copies the picture's rows from the buffer into the frame's pixels.
  void copyToFrame(SFrameInfo& info, int32 pixelSize);

  // Held while the loader pastes rows and stores the rectangle, and while a
  // frame copies them: a frame shows the previous picture or the new one.
  std::mutex pictureLock;
  // The run's geometry, fixed by prepare: the buffer and the frame are
  // touched only inside it, so a frame smaller than 640 × 480 is never
  // overrun.
  SFrameRows runRows;
};
