// The real desktop parts a live test needs, started by the test itself: a
// virtual X display (Xvfb) with a window manager (openbox, which gives focus
// and fullscreen as a desktop does), and a private sound server (PulseAudio,
// a null sink whose monitor records what is played). Each lives in a temporary
// folder of its own and is stopped whatever the outcome: every process
// started here dies with the test program (PR_SET_PDEATHSIG), the session's
// teardown kills and reaps them, and then checks that no process carrying the
// session's mark is left on the machine.
#pragma once

#include "output/Image.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _XDisplay Display;

namespace tw::live {

// Generous bounds: a wait that reaches one has failed; they never pace a test.
constexpr double kStartSeconds = 60;
constexpr double kRunSeconds = 180;

// A program started by a test, its output (stdout and stderr) in a file.
class Child {
 public:
  Child() = default;
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // `env`: NAME=VALUE added to the session's environment. False with a reason.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& logPath, std::string* error);
  pid_t pid() const { return pid_; }
  // Exit status once it has ended (-1: killed by a signal); empty while it runs.
  std::optional<int> poll();
  // Waits up to `seconds` for it to end.
  std::optional<int> wait(double seconds);
  // SIGTERM, then SIGKILL after a grace period; reaps it. Safe to repeat.
  void stop(int signal = 15);
  std::string output() const;  // what it has written so far

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string log_;
};

// The session of one test program: the display, the window manager and the
// sound server. Started by a GoogleTest environment before the first test.
class Session {
 public:
  static Session& get();
  bool start(std::string* error);
  // Stops everything; false (with what) when a process of the session
  // outlived it.
  bool stop(std::string* error);

  const std::string& dir() const { return dir_; }  // scratch space, removed at the end
  const std::string& display() const { return display_; }
  const std::string& pulseServer() const { return pulse_; }
  std::string sink() const { return "tw_sink"; }
  std::string monitor() const { return "tw_sink.monitor"; }
  int screenWidth() const { return 1024; }
  int screenHeight() const { return 768; }
  // The environment every program of the session gets (display, sound
  // server, private runtime folders, the session's mark).
  std::vector<std::string> environment() const;
  Display* x() const { return x_; }
  // A fresh path in the scratch folder.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_, display_, pulse_, mark_;
  pid_t xpid_ = -1;  // Xvfb, started with its ready pipe
  Child wm_, pulseDaemon_;
  Display* x_ = nullptr;
};

// Polls `ready` every few milliseconds until it holds or `seconds` pass.
bool waitFor(const std::function<bool()>& ready, double seconds);

// Runs a program of the session to its end (bounded by kRunSeconds).
struct Outcome {
  int rc = -2;
  std::string out;
};
Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// The tidewave program under test, with arguments split at spaces, or argv.
Outcome tidewave(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
bool startTidewave(Child* child, const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {});
// xdotool with the session's display; true when it succeeded.
bool xdotool(const std::vector<std::string>& args);
// Makes a fixture with ffmpeg from a lavfi source (e.g. "sine=f=1000:d=2").
bool ffmpegFixture(const std::string& lavfi, const std::string& out, std::string* error);

// The top-level window a process opened (by _NET_WM_PID), 0 until mapped.
unsigned long windowOf(pid_t pid);
std::string windowTitle(unsigned long window);
struct Size {
  int width = 0, height = 0;
};
Size windowSize(unsigned long window);
// The window's pixels as the X server holds them (XGetImage).
bool grabWindow(unsigned long window, RgbImage* out, std::string* error);
// Activates the window and waits until it has the keyboard focus.
bool focus(unsigned long window);

// Records what the session's null sink plays, from its monitor, with the
// steady-clock time (CLOCK_MONOTONIC) at which each sample was played: the
// time a listener would hear it.
class MonitorRecorder {
 public:
  ~MonitorRecorder() { stop(); }
  bool start(std::string* error);
  void stop();
  // Interleaved left/right pairs recorded so far (after stop: all of them).
  std::vector<int16_t> samples() const;
  int64_t frames() const;
  // When sample pair `k` of the recording was played, in steady seconds.
  double timeOf(int64_t k) const;

 private:
  void* stream_ = nullptr;  // pa_simple
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<int16_t> samples_;
  std::vector<double> origins_;  // per read: when pair 0 would have been played
};

// Finds where `source` (a channel, 16-bit units) lies in channel `channel`
// of an interleaved recording: the lag with the best correlation, searched
// around the first sound in the recording; *correlation is the normalised
// correlation at that lag over the whole source.
int64_t locate(const std::vector<int16_t>& recording, int channel, const std::vector<float>& source,
               double* correlation);

// Counts pixels that differ between two pictures of one size (-1: sizes differ).
long differingPixels(const RgbImage& a, const RgbImage& b);

}  // namespace tw::live
