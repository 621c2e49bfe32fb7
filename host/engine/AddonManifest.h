// What an add-on file says about itself before it is loaded: its ABI stamp
// and the display names of its filters, read from the host's two resources
// ("TIDEWAVE:ABI", "TIDEWAVE:FILTERS") that add_addon() attaches. Nothing of
// the add-on runs: the file is only read.
#pragma once

#include <string>
#include <vector>

namespace tw {

struct AddonManifest {
  // The file carries an ABI stamp.
  bool stamped = false;
  // Empty when the stamp matches this host; else the one-line reason (also
  // for an unstamped file).
  std::string abiMismatch;
  // Display names in index order; empty when the file carries no list.
  std::vector<std::string> filters;
};

// Reads the add-on's host resources without loading it. False with a
// one-line reason when the file cannot be read.
bool readAddonManifest(const std::string& path, AddonManifest* out, std::string* error);

}  // namespace tw
