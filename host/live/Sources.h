// The sound server's sources that `play --capture` can listen to, as the
// server describes them: for `tidewave play --list-sources` and the help
// panel of a live run.
#pragma once

#include <string>
#include <vector>

namespace tw {

struct CaptureSource {
  std::string name;         // what --capture takes
  std::string description;  // the server's words for it ("Monitor of Built-in Audio")
  bool monitor = false;     // what an output plays, rather than a microphone or line in
  bool isDefault = false;   // the default output's monitor: what --capture alone hears
};

// The server's sources: monitors first (the default output's first of all),
// then the others, each group in the server's order. False with a one-line
// reason when no server answers within `timeoutSeconds`.
bool listCaptureSources(std::vector<CaptureSource>* out, std::string* error, double timeoutSeconds = 5);

// One line per source for a terminal: name, description, and a mark on the
// default.
std::string describeSources(const std::vector<CaptureSource>& sources);

}  // namespace tw
