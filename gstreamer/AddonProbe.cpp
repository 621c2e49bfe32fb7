#include "AddonProbe.h"

#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tw::gst {
namespace {

using Clock = std::chrono::steady_clock;

// A bound keeps a broken factory that never returns null from running away.
constexpr int32 kMaxFilters = 1024;

// The child's report: "TWP1", then per filter a record, then a zero byte.
// Record: kind (1 loaded, 2 refused), index, modes, hostFactor's bits, then
// name, author and info, each as a length and bytes.
constexpr char kMagic[4] = {'T', 'W', 'P', '1'};

void putU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}
void putText(std::string* out, const char* s) {
  const size_t n = s ? std::strlen(s) : 0;
  putU32(out, uint32_t(n));
  if (n > 0) out->append(s, n);
}

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  bool u8(uint8_t* v) {
    if (at_ + 1 > s_.size()) return false;
    *v = uint8_t(s_[at_++]);
    return true;
  }
  bool u32(uint32_t* v) {
    if (at_ + 4 > s_.size()) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= uint32_t(uint8_t(s_[at_++])) << (8 * i);
    return true;
  }
  bool text(std::string* v) {
    uint32_t n;
    if (!u32(&n) || at_ + n > s_.size()) return false;
    v->assign(s_, at_, n);
    at_ += n;
    return true;
  }
  bool magic() {
    if (s_.size() < 4 || std::memcmp(s_.data(), kMagic, 4) != 0) return false;
    at_ = 4;
    return true;
  }
  bool atEnd() const { return at_ == s_.size(); }

 private:
  const std::string& s_;
  size_t at_ = 0;
};

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// In the child: describe the file, report, exit. Never returns.
[[noreturn]] void describeInChild(const ProbeRequest& request, const HostDirs& dirs, int fd) {
  // Nothing of a crash here should land on disk or on the parent's output:
  // add-ons print to standard output, and the GStreamer plugin scanner talks
  // to its parent through it.
  rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // A crash is the child's death, reported as such, whatever handlers the
  // process had installed (GStreamer's own catches SIGSEGV).
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) signal(sig, SIG_DFL);
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull >= 0) {
    dup2(devNull, STDOUT_FILENO);
    ::close(devNull);
  }
  std::string report(kMagic, 4);
  std::string why;
  std::unique_ptr<AddonLibrary> lib = AddonLibrary::open(request.path, &why);
  if (!lib) {
    // The reason, as a lone refused record of index -1.
    report.push_back(2);
    putU32(&report, uint32_t(-1));
    putU32(&report, 0);
    putU32(&report, 0);
    putText(&report, why.c_str());
    putText(&report, "");
    putText(&report, "");
  } else {
    const int32 count = request.count >= 0 ? request.count : kMaxFilters;
    for (int32 i = 0; i < count; ++i) {
      CFilter* filter = lib->create(i);
      if (filter == nullptr) break;
      // Kept alive to the end: the child exits without unloading, so that a
      // filter's unload (a loader thread's join) cannot hold it.
      auto* driver = new FilterDriver(filter);
      driver->setDirectories(dirs.base, dirs.data, dirs.image);
      const bool loaded = driver->load();
      const CFilter& f = driver->filter();
      report.push_back(loaded ? 1 : 2);
      putU32(&report, uint32_t(i));
      putU32(&report, uint32_t(loaded ? f.supportedModes : 0));
      uint32_t bits;
      const float factor = loaded ? f.hostFactor : 0.0f;
      std::memcpy(&bits, &factor, 4);
      putU32(&report, bits);
      putText(&report, loaded ? f.name : nullptr);
      putText(&report, loaded ? f.author : nullptr);
      putText(&report, loaded ? f.info : nullptr);
    }
  }
  report.push_back(0);
  _exit(writeAll(fd, report) ? 0 : 3);
}

std::string describeStatus(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return "crashed while loading (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
  }
  if (WIFEXITED(status))
    return "stopped while loading (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  return "stopped while loading";
}

bool decodeReport(const std::string& data, ProbeResult* out) {
  Reader r(data);
  if (!r.magic()) return false;
  for (;;) {
    uint8_t kind;
    if (!r.u8(&kind)) return false;
    if (kind == 0) return r.atEnd();
    if (kind != 1 && kind != 2) return false;
    uint32_t index, modes, bits;
    ProbedFilter f;
    if (!r.u32(&index) || !r.u32(&modes) || !r.u32(&bits) || !r.text(&f.name) || !r.text(&f.author) ||
        !r.text(&f.info))
      return false;
    if (int32(index) < 0) {
      out->failure = f.name.empty() ? "cannot be loaded" : f.name;
      continue;
    }
    f.index = int32(index);
    f.loaded = kind == 1;
    f.modes = int32(modes);
    std::memcpy(&f.hostFactor, &bits, 4);
    out->filters.push_back(std::move(f));
  }
}

struct Child {
  pid_t pid = -1;
  int fd = -1;
  std::string data;
  bool reaped = false;
  int status = 0;
  std::string failure;  // set when the child could not be started or was killed
};

}  // namespace

std::vector<ProbeResult> probeAddons(const std::vector<ProbeRequest>& files, const HostDirs& dirs,
                                     std::chrono::milliseconds limit) {
  std::vector<ProbeResult> results(files.size());
  std::vector<Child> children(files.size());
  const Clock::time_point deadline = Clock::now() + limit;

  for (size_t i = 0; i < files.size(); ++i) {
    Child& c = children[i];
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      c.failure = std::string("cannot be examined: ") + std::strerror(errno);
      c.reaped = true;
      continue;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      ::close(fds[0]);
      describeInChild(files[i], dirs, fds[1]);
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      c.failure = std::string("cannot be examined: ") + std::strerror(errno);
      c.reaped = true;
      continue;
    }
    c.pid = pid;
    c.fd = fds[0];
  }

  auto reap = [](Child& c, bool block) {
    for (;;) {
      const pid_t got = waitpid(c.pid, &c.status, block ? 0 : WNOHANG);
      if (got < 0 && errno == EINTR) continue;
      if (got == c.pid) c.reaped = true;
      if (got < 0) {  // someone else reaped it: judge by the report alone
        c.status = 0;
        c.reaped = true;
      }
      return;
    }
  };

  for (;;) {
    std::vector<pollfd> polls;
    std::vector<Child*> owners;
    bool waiting = false;  // a child closed its pipe but has not exited yet
    for (Child& c : children) {
      if (c.fd >= 0) {
        polls.push_back({c.fd, POLLIN, 0});
        owners.push_back(&c);
      } else if (!c.reaped) {
        reap(c, false);
        waiting = waiting || !c.reaped;
      }
    }
    if (polls.empty() && !waiting) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    const int timeout = waiting ? int(std::min<long long>(left, 10)) : int(left);
    const int n = poll(polls.data(), polls.size(), timeout);
    if (n < 0 && errno != EINTR) break;
    for (size_t k = 0; n > 0 && k < polls.size(); ++k) {
      if (polls[k].revents == 0) continue;
      Child& c = *owners[k];
      char buf[4096];
      const ssize_t got = ::read(c.fd, buf, sizeof buf);
      if (got > 0) {
        c.data.append(buf, size_t(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(c.fd);
        c.fd = -1;
      }
    }
  }

  const auto seconds = std::chrono::duration<double>(limit).count();
  for (size_t i = 0; i < children.size(); ++i) {
    Child& c = children[i];
    if (c.fd >= 0) ::close(c.fd);
    if (!c.reaped) {
      kill(c.pid, SIGKILL);
      reap(c, true);
      char text[96];
      std::snprintf(text, sizeof text, "still loading after %.3g s: stopped", seconds);
      c.failure = text;
    }
    ProbeResult& r = results[i];
    if (!c.failure.empty()) {
      r.failure = c.failure;
      continue;
    }
    const bool clean = WIFEXITED(c.status) && WEXITSTATUS(c.status) == 0;
    if (!clean || !decodeReport(c.data, &r)) {
      r.filters.clear();
      r.failure = describeStatus(c.status);
    }
  }
  return results;
}

}  // namespace tw::gst
