// The filter contract: the frame record the host fills for every frame, and
// CFilter, the base class every filter derives from. The host reads and
// writes CFilter's data members directly, so their order is part of the
// contract: host and add-ons are built against this one declaration.
#pragma once

#include <platform/app.h>
#include <platform/interface.h>
#include <platform/storage.h>
#include <platform/support.h>

class BDirectory;

// One video frame: its pixels and the analysed sound of that moment. The
// record may continue beyond frameCount; filters read nothing further.
struct SFrameInfo {
  uint8 _reserved1[20];
  // Top-left pixel; rows lie CFilter::bytesPerRow bytes apart. One uint8 per
  // pixel in pixel mode 1, one uint32 (0x00RRGGBB) in mode 2.
  void* bits;
  uint16 yOffset;  // row of the frame's first line in the card's frame buffer
  uint16 _reserved2;
  int32* samples;  // signed 16-bit range, one sample per element
  int32 _reserved3;
  float* spectrum[2];  // per analysis channel; at least 256 values each
  double level[2];     // overall level per channel
  double bands[2][8];  // eight band levels per channel
  uint8 _reserved4[16];
  int32 frameCount;  // advances from frame to frame
};

// Graphics-card hooks: frame-buffer coordinates (y already includes yOffset).
// Their results are ignored.
typedef int32 (*line_hook8)(int32 x1, int32 x2, int32 y1, int32 y2, uint8 color, bool clip,
                            int16 clipLeft, int16 clipTop, int16 clipRight, int16 clipBottom);
typedef int32 (*line_hook32)(int32 x1, int32 x2, int32 y1, int32 y2, uint32 color, bool clip,
                             int16 clipLeft, int16 clipTop, int16 clipRight, int16 clipBottom);
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
// its filter count minus one, null for any other index. It never calls load.
extern "C" __attribute__((visibility("default"))) CFilter* filterInit(int32 index);
typedef CFilter* (*filter_init_func)(int32 index);
