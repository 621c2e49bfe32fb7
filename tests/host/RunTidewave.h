// Runs the tidewave program as a user would, for the command-line tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tw::test {

struct Result {
  int rc;
  std::string out;  // stdout and stderr together
};

// `env` holds environment changes for env(1): "NAME=value", "-u NAME".
inline Result tidewave(const std::string& args, const std::string& env = "") {
  const std::string cmd = "env " + env + " " + TW_TIDEWAVE + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  Result r{-1, ""};
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The option that points the program at the probe add-on's folder.
inline const std::string kProbe = std::string("--add-ons ") + TW_PROBE_DIR;

}  // namespace tw::test
