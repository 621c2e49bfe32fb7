// What an add-on file says about itself before it is loaded: its ABI stamp
// and the display names of its filters, read from the host's two resources
// ("TIDEWAVE:ABI", "TIDEWAVE:FILTERS") that add_addon() attaches. Nothing of
// the add-on runs: the file is only read.
#pragma once

#include <string>
#include <vector>

namespace tw {

struct AddonManifest {
  bool stamped = false;              // the file carries an ABI stamp
  std::string abiMismatch;           // empty when the stamp matches this host; else the one-line reason (also for an unstamped file)
  std::vector<std::string> filters;  // display names in index order; empty when the file carries no list
};

// Reads the add-on's host resources without loading it. False with a one-line reason when the file cannot be read.
bool readAddonManifest(const std::string& path, AddonManifest* out, std::string* error);

}  // namespace tw
