// A filter's frames into PipeWire, as OBS or VJ software would take them: a
// PipeWire daemon of the test's own (no session manager: the test links the
// two streams itself with pw-link), an element feeding pipewiresink here, and
// pipewiresrc in another program receiving its frames. Skipped, saying why,
// where PipeWire cannot run. (The consumer runs apart: PipeWire's GStreamer
// plugin 0.3.65 crashes when one process both provides and reads a stream
// whose buffers are not from its own pool.)
#include "GstHarness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tw::test::parsePipeline;

std::string onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t from = 0;;) {
    const size_t colon = dirs.find(':', from);
    const fs::path candidate = fs::path(dirs.substr(from, colon - from)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    if (colon == std::string::npos) return {};
    from = colon + 1;
  }
}

class PipeWire : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = onPath("pipewire");
    link_ = onPath("pw-link");
    if (daemon_.empty() || link_.empty())
      GTEST_SKIP() << "PipeWire cannot run here: pipewire or pw-link is not installed";
    runtime_ = tw::test::gstScratch() / "pipewire";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", runtime_.c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    // No D-Bus session, no session manager: the daemon runs alone.
    pid_ = fork();
    if (pid_ == 0) {
      const int log = open((runtime_ / "daemon.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) dup2(log, 1), dup2(log, 2);
      execl(daemon_.c_str(), "pipewire", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    // The daemon is up once its socket answers.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        GTEST_SKIP() << "PipeWire cannot run here: the daemon exited (see " << (runtime_ / "daemon.log")
                     << ")";
      }
      if (fs::exists(runtime_ / "pipewire-0") && tool("pw-cli info 0") == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    GTEST_SKIP() << "PipeWire cannot run here: the daemon did not answer within 30 s";
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  int tool(const std::string& args) {
    const std::string cmd = "XDG_RUNTIME_DIR='" + runtime_.string() + "' " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string daemon_, link_;
  fs::path runtime_;
  pid_t pid_ = -1;
};

TEST_F(PipeWire, AFiltersFramesReachAnotherProgram) {
  tw::test::initGst();
  GstElement* producer = parsePipeline(
      "audiotestsrc is-live=true ! tidewave-fft-scope ! video/x-raw,width=160,height=120,framerate=25/1 ! "
      "pipewiresink mode=provide stream-properties=\"props,node.name=tw-visual\"");
  ASSERT_NE(producer, nullptr);
  ASSERT_NE(gst_element_set_state(producer, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  // The consumer: another program, as OBS would be, taking ten frames into a
  // file. It knows nothing of our plugin (a registry of its own).
  const fs::path frames = runtime_ / "frames.raw";
  const std::string consumer =
      "env -u GST_PLUGIN_PATH GST_REGISTRY='" + (runtime_ / "consumer-registry.bin").string() +
      "' timeout 120 gst-launch-1.0 -q pipewiresrc target-object=tw-visual num-buffers=10 "
      "stream-properties=\"props,node.name=tw-consumer\" ! video/x-raw,format=BGRx,width=160,height=120 ! "
      "filesink location='" +
      frames.string() + "'";
  int consumerRc = -1;
  std::thread consumerThread([&] { consumerRc = tool(consumer); });
  // Without a session manager nobody links the streams: link them once
  // both have their ports.
  bool linked = false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!linked && std::chrono::steady_clock::now() < until) {
    linked = tool("pw-link tw-visual:out_0 tw-consumer:in_0") == 0;
    if (!linked) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  consumerThread.join();
  gst_element_set_state(producer, GST_STATE_NULL);
  gst_object_unref(producer);
  EXPECT_TRUE(linked) << "the two streams could not be linked";
  EXPECT_EQ(consumerRc, 0);
  // Ten whole frames, the scope drawn on them (some pixels lit).
  std::error_code ec;
  ASSERT_EQ(fs::file_size(frames, ec), size_t(10 * 160 * 120 * 4));
  std::ifstream in(frames, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t lit = 0;
  for (size_t i = 0; i + 4 <= data.size(); i += 4) lit += (data[i] | data[i + 1] | data[i + 2]) != 0;
  EXPECT_GT(lit, 0u);
}

}  // namespace
