// Learning what add-on files hold without running their code in the calling
// process: each file is opened, and its filters made and loaded, in a child
// process of its own, which reports the descriptors through a pipe and exits.
// A file that crashes, hangs past the time limit, or is not an add-on fails
// alone; the caller goes on with the others. GStreamer scans plugins in a
// helper process and blacklists a plugin whose scan crashes, for good: this is
// what keeps one bad add-on from taking every filter with it.
#pragma once

#include "engine/Catalog.h"

#include <chrono>
#include <string>
#include <vector>

namespace tw::gst {

struct ProbeRequest {
  std::string path;
  int32 count = -1;  // filters to describe: the manifest's count; -1: until filterInit returns null
};

struct ProbedFilter {
  int32 index = 0;
  bool loaded = false;  // false: the filter refused to load (the texts are then empty)
  std::string name, author, info;
  int32 modes = 0;
  float hostFactor = 0;
};

struct ProbeResult {
  std::string failure;  // empty when the child described the file; else one line
  std::vector<ProbedFilter> filters;
};

// Probes every file at once, one child each; a child still running `limit`
// after the start is killed. Results are in the order of `files`.
std::vector<ProbeResult> probeAddons(const std::vector<ProbeRequest>& files, const HostDirs& dirs,
                                     std::chrono::milliseconds limit);

}  // namespace tw::gst
