#include "LiveFixture.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace tw::live {

namespace fs = std::filesystem;

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Variables of the test's own environment that would point a child at the
// wrong display or sound server.
bool inherited(const std::string& entry) {
  for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "PULSE_", "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=",
                           "XDG_RUNTIME_DIR=", "HOME=", "XAUTHORITY=", "TW_PROBE_"})
    if (entry.rfind(name, 0) == 0) return false;
  return true;
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& session,
                                           const std::vector<std::string>& extra) {
  std::map<std::string, std::string> vars;
  auto add = [&vars](const std::string& e) {
    const size_t eq = e.find('=');
    if (eq != std::string::npos) vars[e.substr(0, eq)] = e;
  };
  for (char** e = environ; *e != nullptr; ++e)
    if (inherited(*e)) add(*e);
  for (const std::string& e : session) add(e);
  for (const std::string& e : extra) add(e);
  std::vector<std::string> out;
  for (const auto& [name, entry] : vars) out.push_back(entry);
  return out;
}

// Starts argv with stdout and stderr into `logPath`; fd `keep` (if ≥ 0) is
// passed on as fd 3. The child dies with this process.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& logPath, int keep, std::string* error) {
  // Everything the child needs is built before fork: only async-signal-safe
  // calls after it.
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (log < 0 || null < 0) {
    *error = "cannot open " + logPath + ": " + std::strerror(errno);
    if (log >= 0) close(log);
    if (null >= 0) close(null);
    return -1;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the test died before the line above
    setpgid(0, 0);  // a signal to the test's group (Ctrl+C) stops the test, which stops this
    dup2(null, 0);
    dup2(log, 1);
    dup2(log, 2);
    if (keep >= 0) dup2(keep, 3);
    for (int fd = keep >= 0 ? 4 : 3; fd < 1024; ++fd) close(fd);
    execvpe(args[0], args.data(), envp.data());
    const char* why = "tidewave live fixture: cannot run the program\n";
    (void)!write(2, why, std::strlen(why));
    _exit(127);
  }
  close(log);
  close(null);
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return -1;
  }
  return pid;
}

bool readFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

}  // namespace

bool waitFor(const std::function<bool()>& ready, double seconds) {
  const double until = now() + seconds;
  while (!ready()) {
    if (now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// ---- Child ----

bool Child::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& logPath, std::string* error) {
  stop();
  status_.reset();
  log_ = logPath;
  pid_ = spawn(argv, mergedEnvironment(Session::get().environment(), env), logPath, -1, error);
  return pid_ > 0;
}

std::optional<int> Child::poll() {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

std::optional<int> Child::wait(double seconds) {
  waitFor([this] { return poll().has_value(); }, seconds);
  return poll();
}

void Child::stop(int signal) {
  if (pid_ <= 0 || poll()) return;
  kill(pid_, signal);
  if (!wait(10)) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = -1;
  }
}

std::string Child::output() const {
  std::string s;
  readFile(log_, &s);
  return s;
}

// ---- Session ----

Session& Session::get() {
  static Session session;
  return session;
}

std::vector<std::string> Session::environment() const {
  std::vector<std::string> env;
  if (dir_.empty()) return env;
  env.push_back("TW_LIVE_MARK=" + mark_);
  env.push_back("HOME=" + dir_ + "/home");
  env.push_back("XDG_RUNTIME_DIR=" + dir_ + "/run");
  env.push_back("PULSE_RUNTIME_PATH=" + dir_ + "/pulse");
  env.push_back("PULSE_STATE_PATH=" + dir_ + "/pulse-state");
  env.push_back("PULSE_CLIENTCONFIG=" + dir_ + "/client.conf");
  if (!pulse_.empty()) env.push_back("PULSE_SERVER=" + pulse_);
  if (!display_.empty()) {
    env.push_back("DISPLAY=" + display_);
    env.push_back("SDL_VIDEODRIVER=x11");
  }
  return env;
}

bool Session::start(std::string* error) {
  char tmpl[] = "/tmp/tw-live-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    *error = std::string("mkdtemp: ") + std::strerror(errno);
    return false;
  }
  dir_ = tmpl;
  mark_ = dir_;
  for (const char* sub : {"home", "run", "pulse", "pulse-state"}) fs::create_directories(dir_ + "/" + sub);
  fs::permissions(dir_ + "/run", fs::perms::owner_all);
  fs::permissions(dir_ + "/pulse", fs::perms::owner_all);
  // Clients never start a server of their own: they use this one or none.
  std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";

  // The display: Xvfb picks a free number and writes it to fd 3 once ready.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const std::string screen = std::to_string(screenWidth()) + "x" + std::to_string(screenHeight()) + "x24";
  std::string why;
  const pid_t xpid =
      spawn({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
            mergedEnvironment(environment(), {}), dir_ + "/xvfb.log", fds[1], &why);
  close(fds[1]);
  if (xpid < 0) {
    close(fds[0]);
    *error = "cannot start Xvfb: " + why;
    return false;
  }
  xpid_ = xpid;  // stopped and reaped by stop()
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const double until = now() + kStartSeconds;
  while (number.find('\n') == std::string::npos && now() < until) {
    if (::poll(&p, 1, 100) > 0) {
      char c[16];
      const ssize_t n = read(fds[0], c, sizeof c);
      if (n <= 0) break;
      number.append(c, size_t(n));
    }
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    std::string log;
    readFile(dir_ + "/xvfb.log", &log);
    *error = "Xvfb did not start (install it: scripts/install-deps): " + log;
    return false;
  }
  display_ = ":" + number.substr(0, number.find('\n'));
  // Windows come and go under the test's feet (a program quits, SDL replaces
  // a window): a request on one that is gone fails instead of ending the test.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  x_ = XOpenDisplay(display_.c_str());
  if (x_ == nullptr) {
    *error = "cannot connect to Xvfb on " + display_;
    return false;
  }

  // The window manager: a desktop gives windows focus and fullscreen.
  if (!wm_.start({"openbox", "--sm-disable"}, {}, dir_ + "/openbox.log", &why)) {
    *error = "cannot start openbox: " + why;
    return false;
  }
  const Atom check = XInternAtom(x_, "_NET_SUPPORTING_WM_CHECK", False);
  const bool wmReady = waitFor(
      [&] {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        const bool has = XGetWindowProperty(x_, DefaultRootWindow(x_), check, 0, 1, False, XA_WINDOW, &type,
                                            &format, &items, &after, &data) == Success &&
                         items == 1;
        if (data) XFree(data);
        return has || wm_.poll().has_value();
      },
      kStartSeconds);
  if (!wmReady || wm_.poll()) {
    *error = "openbox did not start: " + wm_.output();
    return false;
  }

  // The sound server: private, a null sink, reachable only by its socket.
  const std::string socket = dir_ + "/pulse/native";
  if (!pulseDaemon_.start({"pulseaudio", "--system=false", "--daemonize=no", "-n", "--exit-idle-time=-1",
                           "--disallow-exit", "--use-pid-file=false", "--disable-shm=false",
                           "--log-target=stderr", "--load=module-null-sink sink_name=tw_sink rate=44100",
                           "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket},
                          {}, dir_ + "/pulseaudio.log", &why)) {
    *error = "cannot start pulseaudio: " + why;
    return false;
  }
  pulse_ = "unix:" + socket;
  const bool paReady = waitFor(
      [&] {
        if (pulseDaemon_.poll()) return true;
        return fs::exists(socket) && runProgram({"pactl", "info"}).rc == 0;
      },
      kStartSeconds);
  if (!paReady || pulseDaemon_.poll()) {
    *error = "pulseaudio did not start: " + pulseDaemon_.output();
    return false;
  }
  return true;
}

bool Session::stop(std::string* error) {
  if (x_ != nullptr) XCloseDisplay(x_);
  x_ = nullptr;
  pulseDaemon_.stop();
  wm_.stop();
  if (xpid_ > 0) {
    kill(xpid_, SIGTERM);
    int status = 0;
    bool gone = waitFor([&] { return waitpid(xpid_, &status, WNOHANG) == xpid_; }, 10);
    if (!gone) {
      kill(xpid_, SIGKILL);
      waitpid(xpid_, &status, 0);
    }
    xpid_ = -1;
  }
  // Whatever carries the mark (a server, a program a test started, anything
  // they started) must be gone now.
  std::string left;
  const std::string needle = "TW_LIVE_MARK=" + mark_;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* e = readdir(proc)) {
      const pid_t pid = pid_t(std::atoi(e->d_name));
      if (pid <= 0 || pid == getpid()) continue;
      std::string env;
      if (!readFile("/proc/" + std::string(e->d_name) + "/environ", &env)) continue;
      if (env.find(needle + '\0') == std::string::npos &&
          env.compare(env.size() >= needle.size() ? env.size() - needle.size() : 0, std::string::npos,
                      needle) != 0)
        continue;
      std::string cmd;
      readFile("/proc/" + std::string(e->d_name) + "/cmdline", &cmd);
      for (char& c : cmd)
        if (c == 0) c = ' ';
      left += (left.empty() ? "" : ", ") + std::to_string(pid) + " (" + cmd + ")";
      kill(pid, SIGKILL);
    }
    closedir(proc);
  }
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
  if (!left.empty()) {
    *error = "processes of the session outlived it: " + left;
    return false;
  }
  return true;
}

// ---- programs ----

Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  static int serial = 0;
  Child c;
  Outcome r;
  const std::string log = Session::get().path("run-" + std::to_string(++serial) + ".log");
  if (!c.start(argv, env, log, &r.out)) return r;
  const std::optional<int> rc = c.wait(kRunSeconds);
  if (!rc) c.stop();
  r.rc = rc ? *rc : -2;
  r.out = c.output();
  fs::remove(log);
  return r;
}

Outcome tidewave(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> argv{TW_TIDEWAVE};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, env);
}

bool startTidewave(Child* child, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  static int serial = 0;
  std::vector<std::string> argv{TW_TIDEWAVE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string why;
  const bool ok =
      child->start(argv, env, Session::get().path("tidewave-" + std::to_string(++serial) + ".log"), &why);
  if (!ok) ADD_FAILURE() << why;
  return ok;
}

bool xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  const Outcome r = runProgram(argv);
  if (r.rc != 0) ADD_FAILURE() << "xdotool failed: " << r.out;
  return r.rc == 0;
}

bool ffmpegFixture(const std::string& lavfi, const std::string& out, std::string* error) {
  const Outcome r = runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", lavfi,
                                "-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le", out});
  if (r.rc != 0) *error = "ffmpeg could not make " + out + ": " + r.out;
  return r.rc == 0;
}

// ---- windows ----

namespace {

bool cardinal(Display* x, Window w, const char* name, unsigned long* value) {
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  const Atom atom = XInternAtom(x, name, False);
  const bool ok = XGetWindowProperty(x, w, atom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                                     &data) == Success &&
                  items == 1 && format == 32;
  if (ok) *value = *reinterpret_cast<unsigned long*>(data);
  if (data) XFree(data);
  return ok;
}

Window findByPid(Display* x, Window w, pid_t pid) {
  unsigned long value = 0;
  XWindowAttributes a;
  if (cardinal(x, w, "_NET_WM_PID", &value) && pid_t(value) == pid && XGetWindowAttributes(x, w, &a) &&
      a.map_state == IsViewable)
    return w;
  Window root, parent, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(x, w, &root, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < n && found == 0; ++i) found = findByPid(x, children[i], pid);
  if (children) XFree(children);
  return found;
}

}  // namespace

unsigned long windowOf(pid_t pid) {
  Display* x = Session::get().x();
  XSync(x, False);
  return findByPid(x, DefaultRootWindow(x), pid);
}

std::string windowTitle(unsigned long w) {
  Display* x = Session::get().x();
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(x, w, XInternAtom(x, "_NET_WM_NAME", False), 0, 1024, False,
                         XInternAtom(x, "UTF8_STRING", False), &type, &format, &items, &after,
                         &data) == Success &&
      data != nullptr)
    title.assign(reinterpret_cast<char*>(data), items);
  if (data) XFree(data);
  return title;
}

Size windowSize(unsigned long w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(Session::get().x(), w, &a)) return {};
  return {a.width, a.height};
}

bool grabWindow(unsigned long w, RgbImage* out, std::string* error) {
  Display* x = Session::get().x();
  XSync(x, False);
  const Size s = windowSize(w);
  XImage* image = s.width > 0
                      ? XGetImage(x, w, 0, 0, unsigned(s.width), unsigned(s.height), AllPlanes, ZPixmap)
                      : nullptr;
  if (image == nullptr) {
    *error = "XGetImage failed on window " + std::to_string(w);
    return false;
  }
  auto shift = [](unsigned long mask) {
    int n = 0;
    while (mask && !(mask & 1)) mask >>= 1, ++n;
    return n;
  };
  const int rs = shift(image->red_mask), gs = shift(image->green_mask), bs = shift(image->blue_mask);
  *out = RgbImage(s.width, s.height);
  for (int y = 0; y < s.height; ++y)
    for (int xx = 0; xx < s.width; ++xx) {
      const unsigned long p = XGetPixel(image, xx, y);
      uint8* d = out->at(xx, y);
      d[0] = uint8((p & image->red_mask) >> rs);
      d[1] = uint8((p & image->green_mask) >> gs);
      d[2] = uint8((p & image->blue_mask) >> bs);
    }
  XDestroyImage(image);
  return true;
}

bool focus(unsigned long w) {
  if (!xdotool({"windowactivate", "--sync", std::to_string(w)})) return false;
  Display* x = Session::get().x();
  return waitFor(
      [&] {
        Window f = 0;
        int revert = 0;
        XGetInputFocus(x, &f, &revert);
        return f == w;
      },
      kStartSeconds);
}

// ---- sound ----

bool MonitorRecorder::start(std::string* error) {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = 44100;
  spec.channels = 2;
  pa_buffer_attr buffer{};
  buffer.maxlength = uint32_t(-1);
  buffer.fragsize = uint32_t(pa_usec_to_bytes(5000, &spec));
  int code = 0;
  const std::string server = Session::get().pulseServer(), source = Session::get().monitor();
  pa_simple* s = pa_simple_new(server.c_str(), "tidewave-tests", PA_STREAM_RECORD, source.c_str(), "monitor",
                               &spec, nullptr, &buffer, &code);
  if (s == nullptr) {
    *error = std::string("cannot record the monitor: ") + pa_strerror(code);
    return false;
  }
  stream_ = s;
  stop_ = false;
  thread_ = std::thread([this, s] {
    constexpr int kPairs = 220;  // 5 ms
    int16_t block[kPairs * 2];
    int64_t read = 0;
    while (!stop_) {
      int code = 0;
      if (pa_simple_read(s, block, sizeof block, &code) < 0) return;
      read += kPairs;
      // What is still buffered (and the source's own delay) was played
      // `latency` ago; the next pair to read is the oldest of it.
      const pa_usec_t latency = pa_simple_get_latency(s, &code);
      const double t = now();
      std::lock_guard<std::mutex> lock(mutex_);
      samples_.insert(samples_.end(), block, block + kPairs * 2);
      if (latency != pa_usec_t(-1)) origins_.push_back(t - double(latency) * 1e-6 - double(read) / 44100.0);
    }
  });
  return true;
}

void MonitorRecorder::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (stream_ != nullptr) pa_simple_free(static_cast<pa_simple*>(stream_));
  stream_ = nullptr;
}

std::vector<int16_t> MonitorRecorder::samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

int64_t MonitorRecorder::frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return int64_t(samples_.size() / 2);
}

double MonitorRecorder::timeOf(int64_t k) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (origins_.empty()) return NAN;
  // The median: a read that the scheduler delayed only makes one estimate late.
  std::vector<double> o = origins_;
  std::nth_element(o.begin(), o.begin() + ptrdiff_t(o.size() / 2), o.end());
  return o[o.size() / 2] + double(k) / 44100.0;
}

int64_t locate(const std::vector<int16_t>& rec, int channel, const std::vector<float>& src,
               double* correlation) {
  const int64_t pairs = int64_t(rec.size() / 2), n = int64_t(src.size());
  auto at = [&](int64_t i) {
    return i >= 0 && i < pairs ? double(rec[size_t(i) * 2 + size_t(channel)]) : 0.0;
  };
  int64_t first = 0;
  while (first < pairs && std::abs(at(first)) < 64) ++first;
  int64_t srcFirst = 0;
  while (srcFirst < n && std::abs(src[size_t(srcFirst)]) < 64) ++srcFirst;
  // Coarse search over a stretch of the source near its first sound.
  const int64_t span = std::min<int64_t>(8192, n - srcFirst);
  int64_t best = 0;
  double bestScore = -1e300;
  for (int64_t lag = first - srcFirst - 4096; lag <= first - srcFirst + 4096; ++lag) {
    double score = 0;
    for (int64_t i = srcFirst; i < srcFirst + span; ++i) score += at(lag + i) * src[size_t(i)];
    if (score > bestScore) bestScore = score, best = lag;
  }
  double xy = 0, xx = 0, yy = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double x = src[size_t(i)], y = at(best + i);
    xy += x * y, xx += x * x, yy += y * y;
  }
  *correlation = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
  return best;
}

long differingPixels(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  long n = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3)
    if (a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2]) ++n;
  return n;
}

namespace {

// One session for the test program, around all of its tests.
class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string why;
    if (!Session::get().start(&why)) {
      std::string ignored;
      Session::get().stop(&ignored);
      FAIL() << why;
    }
  }
  void TearDown() override {
    std::string why;
    if (!Session::get().stop(&why)) ADD_FAILURE() << why;
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace

}  // namespace tw::live
