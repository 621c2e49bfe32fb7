// tidewave: turns a piece of music into frames drawn by the filters of the
// add-ons it finds. Commands: list, analyse, render, play, demo (see docs/host.md).
#include "Demo.h"
#include "Render.h"
#include "Report.h"
#include "engine/Catalog.h"
#include "engine/FilterSet.h"
#include "live/Capture.h"
#include "live/Play.h"
#include "output/Sinks.h"

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tw::Catalog;
using tw::FilterInfo;

int failWith(const std::string& why) {
  std::fprintf(stderr, "tidewave: %s\n", why.c_str());
  return 1;
}

bool parseSize(const std::string& text, int* width, int* height, const std::string& option,
               const char* example, std::string* error) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X') || w < 8 ||
      h < 8 || w > 7680 || h > 4320) {
    *error = option + " '" + text + "' is not WIDTHxHEIGHT between 8x8 and 7680x4320 (e.g. " + example + ")";
    return false;
  }
  *width = w, *height = h;
  return true;
}
bool parseSize(const std::string& text, tw::FrameGeometry* g, std::string* error) {
  return parseSize(text, &g->width, &g->height, "--size", "640x480", error);
}

// Standard output for the host's own data (a listing, a report, a stream):
// the program keeps the real one to itself and points stdout at stderr, so
// that what add-ons print (progress lines) cannot mix into the data.
FILE* claimStdout() {
  std::fflush(stdout);
  const int fd = dup(1);
  FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (out == nullptr || dup2(2, 1) < 0) return nullptr;
  return out;
}

tw::SoundOpener opener(const std::string& file) {
  return [file](std::string* why) { return tw::openSound(file, why); };
}

struct Common {
  std::string addons, base, data, image;
  tw::HostDirs dirs() const {
    tw::HostDirs d = tw::defaultDirs();
    if (!addons.empty()) d.addons = addons;
    if (!data.empty()) {
      d.data = data;
      d.base = data;
    }
    if (!base.empty()) d.base = base;
    if (!image.empty()) d.image = image;
    return d;
  }
};

bool openAddons(const tw::HostDirs& dirs, Catalog* catalog, bool quiet) {
  std::string why;
  if (!tw::openCatalog(dirs, catalog, &why)) {
    failWith(why);
    return false;
  }
  if (!quiet)
    for (const std::string& f : catalog->failures) std::fprintf(stderr, "tidewave: skipped %s\n", f.c_str());
  return true;
}

void printTimings(const tw::RenderResult& r) {
  if (!r.problem.empty()) std::fprintf(stderr, "tidewave: %s\n", r.problem.c_str());
  std::fprintf(stderr, "%ld frames in %.2f s (%.0f frames/s)\n", r.frames, r.wallSeconds,
               r.wallSeconds > 0 ? double(r.frames) / r.wallSeconds : 0.0);
  for (const tw::FilterTiming& t : r.timings)
    std::fprintf(stderr, "  %-16s drawing: mean %8.1f us, worst %8.1f us per frame\n", t.name.c_str(),
                 t.meanMicros, t.worstMicros);
}

}  // namespace

int main(int argc, char** argv) {
  // A video encoder that dies must turn into a write error, not a signal.
  std::signal(SIGPIPE, SIG_IGN);

  CLI::App app{"tidewave: music visualisation with the Tidewave filters"};
  app.require_subcommand(1);
  app.fallthrough();
  Common common;
  app.add_option("--add-ons", common.addons, "directory of the add-on files")->check(CLI::ExistingDirectory);
  app.add_option("--data-dir", common.data, "the filters' dataDir (and baseDir unless --base-dir)");
  app.add_option("--base-dir", common.base, "the filters' baseDir");
  app.add_option("--image-dir", common.image, "the filters' imageDir");

  CLI::App* list =
      app.add_subcommand("list", "show every add-on and filter with its descriptor and resources");

  CLI::App* analyse = app.add_subcommand("analyse", "how a piece lands on the filters' scales");
  std::string analyseFile;
  double analyseFps = 60;
  analyse->add_option("FILE", analyseFile, "audio file (default: the embedded demo track)");
  analyse->add_option("--fps", analyseFps, "video frames per second")->check(CLI::Range(1.0, 240.0));

  CLI::App* renderCmd =
      app.add_subcommand("render", "draw filters over a piece of music into a video or pictures");
  std::string renderFile, output = "null", sheet, record, replay, sizeText = "640x480";
  std::vector<std::string> filterNames;
  double fps = 60, start = 0, seconds = -1;
  int mode = 8;
  float persistence = -1;
  renderCmd->add_option("FILE", renderFile, "audio file (default: the embedded demo track)");
  renderCmd->add_option("-o,--output", output,
                        "out.mp4 | out.mkv | out.webm | dir/%05d.png | - (YUV4MPEG2 on stdout) | null");
  renderCmd
      ->add_option("--filter", filterNames, "filter by display name (repeat to draw several into one frame)")
      ->required()
      ->allow_extra_args(false);
  renderCmd->add_option("--sheet", sheet, "also write a labelled contact sheet (PNG)");
  renderCmd->add_option("--start", start, "seconds into the piece")->check(CLI::NonNegativeNumber);
  renderCmd->add_option("--seconds", seconds, "seconds to render (default: to the end)")
      ->check(CLI::PositiveNumber);
  renderCmd->add_option("--fps", fps, "video frames per second")->check(CLI::Range(1.0, 240.0));
  renderCmd->add_option("--size", sizeText, "frame size WIDTHxHEIGHT");
  renderCmd->add_option("--mode", mode, "pixel mode: 8 (indexed) or 32")->check(CLI::IsMember({8, 32}));
  std::string videoSize, fit = "contain", scale = "nearest";
  renderCmd->add_option(
      "--video-size", videoSize,
      "size of the video or pictures WIDTHxHEIGHT, the frame scaled into it (default: --size)");
  renderCmd
      ->add_option("--fit", fit, "how the frame fills --video-size: contain (bars), cover (crop) or stretch")
      ->check(CLI::IsMember({"contain", "cover", "stretch"}));
  renderCmd->add_option("--scale", scale, "scaling: nearest (crisp pixels) or smooth")
      ->check(CLI::IsMember({"nearest", "smooth"}));
  renderCmd
      ->add_option("--persistence", persistence, "share of the previous frame kept (overrides hostFactor)")
      ->check(CLI::Range(0.0, 1.0));
  double warmUp = 0;
  renderCmd->add_option("--warm-up", warmUp, "seconds to wait after prepare (lets picture loaders finish)")
      ->check(CLI::Range(0.0, 60.0));
  std::string pace = "auto";
  renderCmd
      ->add_option("--pace", pace,
                   "auto (real time while a filter works in the background), realtime, or fast")
      ->check(CLI::IsMember({"auto", "realtime", "fast"}));
  renderCmd->add_option("--record", record, "save the analysis stream to FILE");
  renderCmd->add_option("--replay", replay, "draw from a saved analysis stream instead of sound")
      ->check(CLI::ExistingFile);

  CLI::App* demo = app.add_subcommand("demo", "every filter over the demo track into out/demo/");
  std::string demoFile, demoOut = "out/demo";
  double demoStart = 15, demoSeconds = 3;
  demo->add_option("FILE", demoFile, "audio file (default: the embedded demo track)");
  demo->add_option("--out", demoOut, "output directory");
  demo->add_option("--start", demoStart, "seconds into the piece")->check(CLI::NonNegativeNumber);
  demo->add_option("--seconds", demoSeconds, "seconds per filter")->check(CLI::PositiveNumber);

  CLI::App* playCmd = app.add_subcommand("play", "draw filters live in a window while the music plays");
  std::string playFile, playSize = "640x480", screenshot, captureSource;
  std::vector<std::string> playFilters;
  double playFps = 60, playStart = 0, playSeconds = -1;
  int playMode = 0;
  float playPersistence = -1;
  bool noAudio = false;
  playCmd->add_option("FILE", playFile, "audio file (default: the embedded demo track)");
  playCmd
      ->add_option("--filter", playFilters, "filter by display name (repeat to draw several into one frame)")
      ->required()
      ->allow_extra_args(false);
  playCmd->add_option("--size", playSize, "frame size WIDTHxHEIGHT (the window scales it)");
  playCmd->add_option("--mode", playMode, "pixel mode: 8 (indexed) or 32 (default: the first filter's)")
      ->check(CLI::IsMember({8, 32}));
  playCmd->add_option("--fps", playFps, "frames per second")->check(CLI::Range(1.0, 240.0));
  playCmd->add_option("--start", playStart, "seconds into the piece")->check(CLI::NonNegativeNumber);
  playCmd->add_option("--seconds", playSeconds, "stop after this much sound (default: at the end)")
      ->check(CLI::PositiveNumber);
  playCmd
      ->add_option("--persistence", playPersistence,
                   "share of the previous frame kept (overrides hostFactor)")
      ->check(CLI::Range(0.0, 1.0));
  playCmd->add_flag("--no-audio", noAudio, "play no sound; pace the pictures by the wall clock");
  bool frameClock = false;
  playCmd->add_flag("--frame-clock", frameClock,
                    "no sound; each frame moves on by one frame period, as fast as frames are drawn "
                    "(the frames render draws)");
  playCmd->add_option("--screenshot", screenshot, "on exit, save the window's picture as PNG");
  playCmd
      ->add_option("--capture", captureSource,
                   "analyse live sound from a sound server source instead of a file (default: what the "
                   "default output plays)")
      ->expected(0, 1)
      ->default_str(tw::Capture::kDefaultSource);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  const tw::HostDirs dirs = common.dirs();

  if (*list) {
    FILE* out = claimStdout();
    if (out == nullptr) return failWith("cannot set up standard output for the listing");
    Catalog catalog;
    if (!openAddons(dirs, &catalog, true)) return 1;
    tw::printListing(dirs, catalog, out);
    return std::fclose(out) == 0 ? 0 : failWith("cannot write the listing to standard output");
  }

  if (*analyse) {
    FILE* out = claimStdout();
    if (out == nullptr) return failWith("cannot set up standard output for the report");
    std::string why;
    std::unique_ptr<tw::SoundSource> sound = tw::openSound(analyseFile, &why);
    if (!sound) return failWith(why);
    std::fprintf(out, "%s: ", analyseFile.empty() ? "embedded demo track" : analyseFile.c_str());
    if (!tw::analyseSound(std::move(sound), analyseFps, out, nullptr, &why)) return failWith(why);
    return std::fclose(out) == 0 ? 0 : failWith("cannot write the report to standard output");
  }

  if (*renderCmd) {
    if (output == "-") {
      FILE* out = claimStdout();
      if (out == nullptr) return failWith("cannot set up standard output for the stream");
      tw::setStreamOutput(out);
    }
    tw::RenderOptions o;
    std::string why;
    if (!parseSize(sizeText, &o.geometry, &why)) return failWith(why);
    o.geometry.pixelMode = mode == 32 ? 2 : 1;
    if (!videoSize.empty() &&
        !parseSize(videoSize, &o.videoWidth, &o.videoHeight, "--video-size", "1920x1080", &why))
      return failWith(why);
    o.fit = fit == "cover" ? tw::Fit::Cover : fit == "stretch" ? tw::Fit::Stretch : tw::Fit::Contain;
    o.scale = scale == "smooth" ? tw::ScaleFilter::Smooth : tw::ScaleFilter::Nearest;
    o.fps = fps;
    o.start = start;
    o.seconds = seconds;
    if (persistence >= 0) o.persistence = persistence;
    o.output = output;
    o.sheet = sheet;
    o.record = record;
    o.replay = replay;
    o.dirs = dirs;
    o.warmUp = warmUp;
    o.pace = pace == "realtime" ? tw::Pace::RealTime : pace == "fast" ? tw::Pace::Fast : tw::Pace::Auto;
    o.progress = isatty(2) && output != "-";
    Catalog catalog;
    if (!openAddons(dirs, &catalog, false)) return 1;
    for (const std::string& name : filterNames) {
      const FilterInfo* f = tw::findFilter(catalog, name);
      if (!f)
        return failWith("unknown filter \"" + name + "\"; the filters are: " + tw::filterNames(catalog));
      o.filters.push_back(f);
    }
    if (replay.empty()) {
      o.sound = opener(renderFile);
    } else if (!renderFile.empty()) {
      return failWith("--replay draws from the recording; give no audio file with it");
    }
    tw::RenderResult result;
    if (!tw::render(o, &result, &why)) return failWith(why);
    std::fprintf(stderr, "wrote %s\n", result.wrote.c_str());
    printTimings(result);
    return 0;
  }

  if (*playCmd) {
    tw::PlayOptions o;
    std::string why;
    if (!parseSize(playSize, &o.geometry, &why)) return failWith(why);
    Catalog catalog;
    if (!openAddons(dirs, &catalog, false)) return 1;
    for (const std::string& name : playFilters) {
      const FilterInfo* f = tw::findFilter(catalog, name);
      if (!f)
        return failWith("unknown filter \"" + name + "\"; the filters are: " + tw::filterNames(catalog));
      o.filters.push_back(f);
    }
    o.modeGiven = playMode != 0;
    o.geometry.pixelMode = playMode == 0 ? tw::kFirstFiltersMode : playMode == 32 ? 2 : 1;
    o.catalog = &catalog;
    o.dirs = dirs;
    o.fps = playFps;
    o.start = playStart;
    o.seconds = playSeconds;
    if (playPersistence >= 0) o.persistence = playPersistence;
    o.audio = !noAudio;
    o.frameClock = frameClock;
    o.screenshot = screenshot;
    if (playCmd->count("--capture") > 0) {
      if (!playFile.empty())
        return failWith("--capture listens to a sound source; give no audio file with it");
      o.capture = captureSource.empty() ? tw::Capture::kDefaultSource : captureSource;
    } else {
      o.sound = opener(playFile);
    }
    tw::PlayResult result;
    if (!tw::play(o, &result, &why)) return failWith(why);
    if (!result.problem.empty()) std::fprintf(stderr, "tidewave: %s\n", result.problem.c_str());
    std::fprintf(stderr, "%ld frames over %.2f s of sound%s\n", result.frames, result.soundSeconds,
                 !o.capture.empty() ? " (live)"
                 : result.audio     ? ""
                                    : " (no audio)");
    return 0;
  }

  if (*demo) {
    Catalog catalog;
    if (!openAddons(dirs, &catalog, false)) return 1;
    tw::DemoOptions d;
    d.sound = demoFile;
    d.out = demoOut;
    d.start = demoStart;
    d.seconds = demoSeconds;
    d.dirs = dirs;
    int failed = 0;
    std::string why;
    if (!tw::demo(catalog, d, &failed, &why)) return failWith(why);
    return failed == 0 ? 0 : 1;
  }
  return 0;
}
