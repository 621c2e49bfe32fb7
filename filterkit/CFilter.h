// The filter contract: the frame record the host fills for every frame, and
// CFilter, the base class every filter derives from. The host reads and
// writes CFilter's data members directly, so their order is part of the
// contract: host and add-ons are built against this one declaration (the
// host refuses an add-on stamped with another, see AddonAbi.h).
//
// ---- Writing an add-on ----------------------------------------------------
//
// An add-on is one file holding one or more filters. Derive a class from
// CFilter for each filter, override what it needs, and export filterInit:
//
//   extern "C" CFilter* filterInit(int32 index) noexcept {
//     return index == 0 ? new_filter<CMyFilter>() : nullptr;
//   }
//
// Build it with the SDK (examples/sample-addon is a complete one):
//
//   find_package(Tidewave 1 REQUIRED)
//   add_addon(MyAddon SOURCES my_addon.cpp FILTERS "My Filter")
//
// add_addon() links the kit, makes the file runnable (it then shows an alert
// asking to be moved into the add-on directory), and attaches its resources,
// among them an ABI stamp of the CFilter it was compiled against and the
// FILTERS names, which must be the names load() gives, in index order.
//
// Lifecycle. The host calls, in this order:
//   1. filterInit(0), (1), … until it returns null; each call with a valid
//      index gives a new object with the defaults below (640 × 480, 8-bit).
//   2. Sets baseDir, dataDir and imageDir, then load(): fill the descriptor
//      (name, author, info, supportedModes, hostFactor, …), declare params,
//      build what lives until unload. Return false to refuse.
//   3. Sets width, height, frameBytes, bytesPerRow, pixelMode and the
//      palettes (unchanged until terminate), then prepare(): reset the
//      animation, create what a run needs. Return false when it cannot draw.
//   4. Per frame: sets frame, then processFrame8 (pixelMode 1) or
//      processFrame32 (pixelMode 2), only for a mode set in supportedModes.
//      Draw over what the frame holds; allocate nothing here.
//   5. terminate() ends the run; prepare() may start another.
//   6. unload(), then delete through the virtual destructor.
//   settingsOpened, settingsClosed and paramChanged may come between load and
//   unload.
//
// Threads. Every call above comes on one thread, the host's drawing thread,
// one at a time; the kit takes no locks. A filter may start threads of its
// own (a picture loader): synchronising them with the frame calls, and
// ending them in terminate or unload, is the filter's business.
//
// Ownership. The host owns the filter objects, the frame and its record,
// the palettes and the card hooks' targets; a filter only draws into the
// frame it is handed, inside width, height and bytesPerRow (FilterKit.h has
// a bounded row copy). The filter owns what it allocates; CFilter releases
// params, ref and the three paths, never icon (a filter that sets icon
// deletes it itself). name, author and info point at constant text.
//
// Failure. Nothing may throw out of filterInit or a virtual operation:
// filterInit is noexcept (new_filter turns a failed allocation or a throwing
// constructor into null), load and prepare return false, a frame operation
// that cannot draw draws nothing.
#pragma once

#include <platform/app.h>
#include <platform/interface.h>
#include <platform/storage.h>
#include <platform/support.h>

#include <new>
#include <utility>

class BDirectory;

// One video frame: its pixels and the analysed sound of that moment. The host
// owns the record and everything it points at; it is valid during the frame
// operation only. The record may continue beyond frameCount; filters read
// nothing further.
//
// Counts and scales. The contract guarantees what is marked so; the rest is
// what this host provides (its analysis, at 44.1 or 48 kHz), for choosing a
// filter's factors:
struct SFrameInfo {
  uint8 _reserved1[20];
  // Top-left pixel; rows lie CFilter::bytesPerRow bytes apart, frameBytes in
  // all. One uint8 (a palette index) per pixel in pixel mode 1, one uint32
  // (0x00RRGGBB, bytes blue, green, red, 0) in mode 2.
  void* bits;
  uint16 yOffset;  // row of the frame's first line in the card's frame buffer
  uint16 _reserved2;
  // The newest sound samples, oldest first, a mono mix in the signed 16-bit
  // range (-32768…32767) held as int32. Contract: at least width / 8 + 1 of
  // them (what the magnifier reads). This host: 1025.
  int32* samples;
  int32 _reserved3;
  // Spectrum per analysis channel (0 left, 1 right; a filter that uses one
  // uses 1). Contract: at least 256 floats each, magnitudes >= 0 that
  // filters bring to pixels by small factors (1/8192, 1/16384, 1/32768).
  // This host: 513 bins each (0 … Nyquist) of an FFT over 1024 samples at
  // 32–64 kHz (512 below, 2048 above), so about 43 Hz a bin at 44.1 kHz;
  // bin k holds 560 × sqrt(max(k, 1) / 10) × the amplitude, in 16-bit
  // sample units, of a sine in that bin: a full-scale sine at bin 10 reads
  // about 18 million, loud music 10^5 … 10^6.
  float* spectrum[2];
  // Overall level per channel, >= 0. This host: 40 × the RMS of the FFT
  // window in 16-bit sample units (a full-scale sine: about 927 000).
  double level[2];
  // Eight band levels per channel, low to high, >= 0. This host: 0.5 × the
  // RMS of the spectrum values in the octave bands 30–120, 120–250, 250–500,
  // 500 Hz–1 k, 1–2 k, 2–4 k, 4–8 k and 8–16 kHz.
  double bands[2][8];
  uint8 _reserved4[16];
  // Advances from frame to frame; filters use it as an animation phase.
  // This host counts the frames it draws, from 0.
  int32 frameCount;
};

// Graphics-card hooks: frame-buffer coordinates (y already includes yOffset).
// Their results are ignored.
typedef int32 (*line_hook8)(int32 x1, int32 x2, int32 y1, int32 y2, uint8 color, bool clip, int16 clipLeft,
                            int16 clipTop, int16 clipRight, int16 clipBottom);
typedef int32 (*line_hook32)(int32 x1, int32 x2, int32 y1, int32 y2, uint32 color, bool clip, int16 clipLeft,
                             int16 clipTop, int16 clipRight, int16 clipBottom);
typedef int32 (*rect_hook8)(int32 left, int32 top, int32 right, int32 bottom, uint8 color);
typedef int32 (*rect_hook32)(int32 left, int32 top, int32 right, int32 bottom, uint32 color);

class CFilter {
 public:
  // The defaults describe a 640 × 480 frame in 8-bit mode without card hooks.
  CFilter();
  // Releases params, ref and the three paths; never the icon, the frame or
  // anything the hooks designate.
  virtual ~CFilter();
  CFilter(const CFilter&) = delete;
  CFilter& operator=(const CFilter&) = delete;

  // Fills the descriptor and declares the parameters. The base returns false.
  virtual bool load();
  // Gets ready to draw a run with the geometry and mode now set. The base
  // returns false.
  virtual bool prepare();
  // Draw one frame over what the buffer holds (mode 1 / mode 2).
  virtual void processFrame8(SFrameInfo& info);
  virtual void processFrame32(SFrameInfo& info);
  virtual void terminate();
  virtual void unload();
  virtual void paramChanged();
  // The settings view, or null when the filter has none.
  virtual BView* settingsOpened();
  virtual void settingsClosed();

  // Drawing primitives: inclusive coordinates in frame pixels. Rectangles
  // clamp their corners to the frame; lines skip what lies outside it. With
  // useCardHooks set and the matching hook present, the hook draws instead.
  void blitRect8(int32 x1, int32 y1, int32 x2, int32 y2, uint8 color);
  void blitRect32(int32 x1, int32 y1, int32 x2, int32 y2, uint32 color);
  void blitLine8(int32 x1, int32 y1, int32 x2, int32 y2, uint8 color);
  void blitLine32(int32 x1, int32 y1, int32 x2, int32 y2, uint32 color);

  // Bitmap and directory functions. Every bitmap returned belongs to the caller.
  bool findDir(BDirectory* directory, const char* name);
  BBitmap* loadBitmap(const char* name);
  BBitmap* makeIconFromHeader(int32 width, int32 height, color_space space, int32 bytesPerPixel,
                              const uint8* data);
  BBitmap* makeBitmap8Bit(BBitmap* source);

  // 1–11: the descriptor, written by the filter in load.
  const char* name = nullptr;
  const char* author = nullptr;
  const char* info = nullptr;
  int32 hostHint1 = 0;
  int32 hostHint2 = 0;
  BBitmap* icon = nullptr;
  bool hostFlag1 = false;
  bool hostFlag2 = false;
  float hostFactor = 0.5f;
  int32 supportedModes = 3;  // bit 1: 8-bit indexed, bit 2: 32-bit
  BMessage params;

  // 12–36: the host's members.
  int32 _reserved12[4] = {0, 0, 0, 0};
  int32 _reserved13;
  bool _reserved14[2] = {false, false};
  uint8 _reserved15[6];
  entry_ref ref;
  BPath baseDir;
  BPath dataDir;
  BPath imageDir;
  void* _reserved20 = nullptr;
  int32 width = 640;
  int32 height = 480;
  int32 frameBytes = 640 * 480;
  bool useCardHooks = false;
  int32 pixelMode = 1;  // 1 = 8-bit indexed, 2 = 32-bit
  int32 bytesPerRow = 640;
  int32 _reserved27 = 0;
  int32 _reserved28[3] = {0, 0, 0};
  rgb_color palette[256];
  uint32 palette32[256];
  SFrameInfo* frame = nullptr;
  line_hook8 lineHook8 = nullptr;
  line_hook32 lineHook32 = nullptr;
  rect_hook8 rectHook8 = nullptr;
  rect_hook32 rectHook32 = nullptr;
  void* _reserved36[2] = {nullptr, nullptr};
};

// Every add-on exports this factory: a new filter for each index from 0 to
// its filter count minus one, null for any other index (allocating nothing).
// It never calls load, and nothing crosses it: it is noexcept, so a
// definition without noexcept does not compile.
extern "C" __attribute__((visibility("default"))) CFilter* filterInit(int32 index) noexcept;
typedef CFilter* (*filter_init_func)(int32 index);

// For filterInit: a new F built from `args`, or null when memory runs out
// or F's constructor throws (the memory is then released).
template <class F, class... Args>
CFilter* new_filter(Args&&... args) noexcept {
  try {
    return new (std::nothrow) F(std::forward<Args>(args)...);
  } catch (...) {
    return nullptr;
  }
}
