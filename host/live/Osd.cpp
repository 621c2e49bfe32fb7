#include "live/Osd.h"

#include "output/Image.h"

#include <algorithm>
#include <cstdio>

namespace tw {

namespace {

constexpr uint32_t kText = 0xFFFFFF;
constexpr uint32_t kDim = 0xB8C4D0;

// Darkens a rectangle (clipped) by half, blended by `alpha`, so that text
// over it reads on any picture.
void shade(uint32_t* pixels, int width, int height, int stride, int x, int y, int w, int h, int alpha) {
  const int x0 = std::max(x, 0), x1 = std::min(x + w, width), y0 = std::max(y, 0),
            y1 = std::min(y + h, height);
  for (int py = y0; py < y1; ++py)
    for (int px = x0; px < x1; ++px) {
      uint32_t& p = pixels[size_t(py) * size_t(stride) + size_t(px)];
      uint32_t out = 0;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int c = int((p >> shift) & 0xFF);
        out |= uint32_t(c - (c / 2) * alpha / 255) << shift;
      }
      p = out;
    }
}

// Lines of text in a shaded box at (x, y); returns the box's height.
int panel(uint32_t* pixels, int width, int height, int stride, int x, int y,
          const std::vector<std::string>& lines, int scale, int alpha, uint32_t firstColour) {
  const int pad = 3 * scale, lineH = (kGlyphHeight + 3) * scale;
  int w = 0;
  for (const std::string& l : lines) w = std::max(w, textWidth(l, scale));
  const int h = int(lines.size()) * lineH - 3 * scale + 2 * pad;
  shade(pixels, width, height, stride, x, y, w + 2 * pad, h, alpha);
  for (size_t i = 0; i < lines.size(); ++i)
    drawTextXrgb(reinterpret_cast<uint32*>(pixels), width, height, stride, x + pad, y + pad + int(i) * lineH,
                 lines[i], i == 0 ? firstColour : kText, scale, alpha);
  return h;
}

int widest(const std::vector<std::string>& lines, int scale) {
  int w = 0;
  for (const std::string& l : lines) w = std::max(w, textWidth(l, scale));
  return w;
}

}  // namespace

int osdScale(int width, int height) { return std::max(1, std::min(width / 320, height / 240)); }

std::vector<std::string> osdHelpLines(const OsdState& s) {
  std::vector<std::string> lines = {
      "Keys",
      "Space          pause, play",
      "Left, Right    back, forward 5 s",
      "N, Tab         next filter",
      "P, Shift+Tab   previous filter",
      "F              fullscreen",
      "H              this help",
      "I              frame rate, drawing times",
      "Esc, Q         quit",
      "Voxel filters: left Shift turns left,",
      "  right Shift or Alt right, Ctrl faster,",
      "  Super or AltGr slower",
  };
  if (!s.listening.empty()) {
    lines.push_back("Listening to " + s.listening);
    if (!s.sources.empty()) lines.push_back("Sources (tidewave play --capture NAME):");
    for (const CaptureSource& c : s.sources)
      lines.push_back("  " + c.name + (c.description.empty() ? "" : " - " + c.description));
  }
  return lines;
}

std::string osdInfoLine(const OsdState& s) {
  const double budget = s.targetFps > 0 ? 1000.0 / s.targetFps : 0;
  char text[96];
  std::snprintf(text, sizeof text, "%.1f fps", s.fps);
  std::string line = text;
  for (const OsdDrawing& d : s.drawing) {
    std::snprintf(text, sizeof text, "  %s %.2f ms of %.1f ms", d.name.c_str(), d.micros / 1000.0, budget);
    line += text;
  }
  return line;
}

void drawOsd(const OsdState& s, double now, uint32_t* pixels, int width, int height, int stride) {
  if (pixels == nullptr || width <= 0 || height <= 0 || stride < width) return;
  const int scale = osdScale(width, height), margin = 4 * scale;

  // The filter's name, top left, fading out at the end of its time.
  const double age = now - s.filterChangedAt;
  if (!s.filterName.empty() && age >= 0 && age < kOsdNameSeconds) {
    const double left = kOsdNameSeconds - age;
    const int alpha = left >= kOsdFadeSeconds ? 255 : int(255 * left / kOsdFadeSeconds);
    panel(pixels, width, height, stride, margin, margin, {s.filterName}, 2 * scale, alpha, kText);
  }

  // Frame rate and drawing times, bottom left.
  if (s.info) {
    const std::string line = osdInfoLine(s);
    const int h = (kGlyphHeight + 6) * scale;
    panel(pixels, width, height, stride, margin, height - margin - h, {line}, scale, 255, kText);
  }

  // The keys, centred; a smaller font where the panel would not fit.
  if (s.help) {
    const std::vector<std::string> lines = osdHelpLines(s);
    int hs = scale;
    while (hs > 1 && (widest(lines, hs) + 6 * hs > width ||
                      int(lines.size()) * (kGlyphHeight + 3) * hs + 6 * hs > height))
      --hs;
    const int w = widest(lines, hs) + 6 * hs, h = int(lines.size()) * (kGlyphHeight + 3) * hs + 3 * hs;
    panel(pixels, width, height, stride, std::max(0, (width - w) / 2), std::max(0, (height - h) / 2), lines,
          hs, 255, kDim);
  }
}

}  // namespace tw
