// Interface kit: rectangles, colours, bitmaps, the settings view, the alert,
// the keyboard's modifier keys and the system palette.
#pragma once

#include <platform/support.h>

#include <string>

// A rectangle of float coordinates; left/top/right/bottom are inclusive pixel
// edges, so (0, 0, 639, 479) covers a 640 × 480 frame.
struct BRect {
  float left = 0, top = 0, right = -1, bottom = -1;

  constexpr BRect() = default;
  constexpr BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}

  constexpr float Width() const { return right - left; }
  constexpr float Height() const { return bottom - top; }
  constexpr bool IsValid() const { return left <= right && top <= bottom; }
  constexpr bool operator==(const BRect&) const = default;
};

struct rgb_color {
  uint8 red, green, blue, alpha;
  constexpr bool operator==(const rgb_color&) const = default;
};

enum color_space : uint32 {
  B_NO_COLOR_SPACE = 0,
  B_CMAP8 = 4,  // one byte per pixel, an index into the system palette
  B_RGB32 = 8,  // four bytes per pixel: blue, green, red, alpha (or unused)
};

// Bytes one pixel takes in a colour space; 0 for one this layer does not know.
int32 tw_bytes_per_pixel(color_space space);

// A picture in memory. Rows are padded to a multiple of four bytes, so
// BytesPerRow() may be larger than width × bytes per pixel.
class BBitmap {
 public:
  BBitmap(BRect bounds, color_space space, bool acceptsViews = false, bool needsContiguous = false);
  ~BBitmap();
  BBitmap(const BBitmap&) = delete;
  BBitmap& operator=(const BBitmap&) = delete;

  // B_OK when the pixel memory exists; B_BAD_VALUE for bounds or a colour space
  // that give no picture, B_NO_MEMORY when it could not be allocated.
  status_t InitCheck() const { return status; }
  bool IsValid() const { return status == B_OK; }

  BRect Bounds() const { return bounds; }
  color_space ColorSpace() const { return space; }
  int32 BytesPerRow() const { return bytesPerRow; }
  int32 BitsLength() const { return bitsLength; }
  void* Bits() { return bits; }
  const void* Bits() const { return bits; }

  // Copies `length` bytes of `data` into the bitmap at byte `offset`. Data
  // tagged with the bitmap's own colour space is copied as it is; packed
  // red-green-blue triplets tagged B_RGB32 written into a B_CMAP8 bitmap become
  // one palette index per triplet (tw_index_for_color), laid out as pixels in
  // raster order from the pixel at `offset`, row by row at the bitmap's stride.
  // Nothing is written past the end of the bits.
  void SetBits(const void* data, int32 length, int32 offset, color_space space);

 private:
  BRect bounds;
  color_space space;
  int32 bytesPerRow = 0;
  int32 bitsLength = 0;
  uint8* bits = nullptr;
  status_t status = B_NO_INIT;
};

// View resizing modes and flags that the settings view uses.
enum : uint32 {
  B_FOLLOW_NONE = 0,
  B_FOLLOW_ALL = 0x1234,  // follows all four sides of its parent
};
enum : uint32 {
  B_WILL_DRAW = 0x20000000,
};

// A rectangle of the host's settings area that a filter owns. This layer keeps
// what a view is told; the host decides how to show it.
class BView {
 public:
  BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
  virtual ~BView();
  BView(const BView&) = delete;
  BView& operator=(const BView&) = delete;

  BRect Frame() const { return frame; }
  const char* Name() const { return name.c_str(); }
  uint32 ResizingMode() const { return resizingMode; }
  uint32 Flags() const { return flags; }
  void SetViewColor(rgb_color color) { viewColor = color; }
  void SetViewColor(uint8 r, uint8 g, uint8 b, uint8 a = 255) { viewColor = rgb_color{r, g, b, a}; }
  rgb_color ViewColor() const { return viewColor; }

 private:
  BRect frame;
  std::string name;
  uint32 resizingMode;
  uint32 flags;
  rgb_color viewColor{255, 255, 255, 255};
};

enum alert_type { B_EMPTY_ALERT = 0, B_INFO_ALERT, B_IDEA_ALERT, B_WARNING_ALERT, B_STOP_ALERT };
enum button_width { B_WIDTH_AS_USUAL = 0, B_WIDTH_FROM_WIDEST, B_WIDTH_FROM_LABEL };

// A modal message box with up to three buttons. Go() shows it, waits for a
// button and deletes the alert, returning the index of the button pressed.
// With a display (DISPLAY or WAYLAND_DISPLAY set) it is a real window; without
// one the title, the text and the button labels go to standard output, and Go()
// waits for Enter only when standard input is a terminal.
class BAlert {
 public:
  BAlert(const char* title, const char* text, const char* button0, const char* button1 = nullptr,
         const char* button2 = nullptr, button_width width = B_WIDTH_AS_USUAL,
         alert_type type = B_INFO_ALERT);
  BAlert(const BAlert&) = delete;
  BAlert& operator=(const BAlert&) = delete;

  int32 Go();

 private:
  ~BAlert() = default;  // an alert deletes itself in Go()
  std::string title, text;
  std::string buttons[3];
  int32 buttonCount = 0;
  alert_type type;
};

// Modifier-key bits, as modifiers() reports them.
enum : uint32 {
  B_SHIFT_KEY = 0x00000001,
  B_COMMAND_KEY = 0x00000002,
  B_CONTROL_KEY = 0x00000004,
  B_CAPS_LOCK = 0x00000008,
  B_SCROLL_LOCK = 0x00000010,
  B_NUM_LOCK = 0x00000020,
  B_OPTION_KEY = 0x00000040,
  B_MENU_KEY = 0x00000080,
  B_LEFT_SHIFT_KEY = 0x00000100,
  B_RIGHT_SHIFT_KEY = 0x00000200,
  B_LEFT_COMMAND_KEY = 0x00000400,
  B_RIGHT_COMMAND_KEY = 0x00000800,
  B_LEFT_CONTROL_KEY = 0x00001000,
  B_RIGHT_CONTROL_KEY = 0x00002000,
  B_LEFT_OPTION_KEY = 0x00004000,
  B_RIGHT_OPTION_KEY = 0x00008000,
};

// The keyboard's current modifier keys, one state per process. Any thread may
// read it; the host publishes it.
uint32 modifiers();

// The system palette: 256 colours, one per 8-bit index. 8-bit frames are shown
// through it and 8-bit pictures are matched against it.
const rgb_color* tw_system_palette();
// The same palette as 32-bit pixels (red << 16 | green << 8 | blue).
const uint32* tw_system_palette32();
// The index of the palette colour nearest to (red, green, blue): each channel
// is cut to its top 5 bits and widened back (v5 << 3 | v5 >> 2); of the 256
// colours the one at the least squared distance to that colour wins, the
// lower index on a tie. One table lookup per colour.
uint8 tw_index_for_color(uint8 red, uint8 green, uint8 blue);
