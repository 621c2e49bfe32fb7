#include "PluginCatalog.h"

#include "engine/AddonManifest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace tw::gst {
namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "tidewave-catalog 1";

bool isAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Fields are tab-separated and records newline-separated; a field escapes
// '%', tab, newline and carriage return as %XX.
std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", unsigned(uint8_t(c)));
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out->push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size() || !std::isxdigit(uint8_t(s[i + 1])) || !std::isxdigit(uint8_t(s[i + 2])))
      return false;
    out->push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
    i += 2;
  }
  return true;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (;;) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

bool toInt(const std::string& s, int64_t* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long x = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *v = x;
  return true;
}

bool statFile(const std::string& path, AddonStamp* stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp->path = path;
  stamp->size = int64_t(st.st_size);
  stamp->mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

std::string factoryNameFor(const std::string& filterName) {
  std::string s;
  bool dash = false;
  for (char c : filterName) {
    if (isAlnum(c)) {
      if (dash && !s.empty()) s.push_back('-');
      dash = false;
      s.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    } else {
      dash = true;
    }
  }
  return s.empty() ? std::string() : "tidewave-" + s;
}

std::vector<std::string> addonDirectories(const std::string& builtIn, const char* envPath) {
  std::vector<std::string> dirs;
  auto add = [&](const std::string& d) {
    if (!d.empty() && std::find(dirs.begin(), dirs.end(), d) == dirs.end()) dirs.push_back(d);
  };
  if (envPath != nullptr) {
    std::string entry;
    for (const char* p = envPath;; ++p) {
      if (*p == ':' || *p == '\0') {
        add(entry);
        entry.clear();
        if (*p == '\0') break;
      } else {
        entry.push_back(*p);
      }
    }
  }
  add(builtIn);
  return dirs;
}

PluginCatalog discover(const std::vector<std::string>& dirs, const HostDirs& hostDirs,
                       const PluginCatalog* cached, std::chrono::milliseconds limit) {
  PluginCatalog out;
  // Every add-on file, in the order of the directories.
  std::vector<AddonStamp> files;
  std::set<std::string> seen;
  for (const std::string& dir : dirs) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
      if (e.is_regular_file(ec)) names.push_back(e.path().string());
    if (ec) out.warnings.push_back("add-on directory " + dir + ": " + ec.message());
    std::sort(names.begin(), names.end());
    for (const std::string& path : names) {
      AddonStamp stamp;
      const std::string canonical = fs::weakly_canonical(path, ec).string();
      if (!seen.insert(ec ? path : canonical).second || !statFile(path, &stamp)) continue;
      files.push_back(stamp);
    }
  }

  // What each file holds: from the cache when unchanged, else examined.
  struct Found {
    AddonStamp stamp;
    std::vector<ElementEntry> filters;  // factory names not yet given
  };
  std::vector<Found> found(files.size());
  std::vector<ProbeRequest> requests;
  std::vector<size_t> requestOf;                   // found index of each request
  std::vector<std::vector<std::string>> manifest;  // names per request
  for (size_t i = 0; i < files.size(); ++i) {
    Found& f = found[i];
    f.stamp = files[i];
    const AddonStamp* old = nullptr;
    if (cached != nullptr)
      for (const AddonStamp& a : cached->addons)
        if (a.path == f.stamp.path && a.size == f.stamp.size && a.mtimeNs == f.stamp.mtimeNs) old = &a;
    if (old != nullptr) {
      ++out.reused;
      f.stamp.failure = old->failure;
      for (const ElementEntry& e : cached->elements)
        if (e.addonPath == f.stamp.path) f.filters.push_back(e);
      continue;
    }
    AddonManifest m;
    std::string why;
    if (!readAddonManifest(f.stamp.path, &m, &why)) {
      f.stamp.failure = why.empty() ? "unreadable" : why;
      continue;
    }
    if (!m.abiMismatch.empty()) {
      f.stamp.failure = m.abiMismatch;
      continue;
    }
    ++out.examined;
    requests.push_back({f.stamp.path, m.filters.empty() ? -1 : int32(m.filters.size())});
    requestOf.push_back(i);
    manifest.push_back(m.filters);
  }

  const std::vector<ProbeResult> probed = probeAddons(requests, hostDirs, limit);
  for (size_t k = 0; k < probed.size(); ++k) {
    Found& f = found[requestOf[k]];
    const ProbeResult& r = probed[k];
    if (!r.failure.empty()) {
      f.stamp.failure = r.failure;
      continue;
    }
    for (const ProbedFilter& p : r.filters) {
      const std::string listed =
          size_t(p.index) < manifest[k].size() ? manifest[k][size_t(p.index)] : std::string();
      if (!p.loaded) {
        out.warnings.push_back(fileName(f.stamp.path) + ": filter " + std::to_string(p.index) +
                               (listed.empty() ? "" : " \"" + listed + "\"") + " refused to load: left out");
        continue;
      }
      ElementEntry e;
      e.addonPath = f.stamp.path;
      e.index = p.index;
      e.name = !listed.empty() ? listed : p.name;
      e.author = p.author;
      e.info = p.info;
      e.modes = p.modes;
      e.hostFactor = p.hostFactor;
      f.filters.push_back(std::move(e));
    }
    if (f.filters.empty() && r.filters.empty()) f.stamp.failure = "holds no filter";
  }

  std::set<std::string> taken;
  for (Found& f : found) {
    if (!f.stamp.failure.empty())
      out.warnings.push_back(fileName(f.stamp.path) + " (" + f.stamp.path + ") skipped: " + f.stamp.failure);
    for (ElementEntry& e : f.filters) {
      const std::string name = factoryNameFor(e.name);
      if (name.empty()) {
        out.warnings.push_back(fileName(f.stamp.path) + ": filter \"" + e.name +
                               "\" has no letter or digit in its name: left out");
        continue;
      }
      if (!taken.insert(name).second) {
        out.warnings.push_back(fileName(f.stamp.path) + ": filter \"" + e.name + "\" would be " + name +
                               ", which an add-on found earlier already is: left out");
        continue;
      }
      e.factory = name;
      out.elements.push_back(std::move(e));
    }
    out.addons.push_back(std::move(f.stamp));
  }
  return out;
}

std::string encodeCatalog(const PluginCatalog& c) {
  std::ostringstream s;
  s << kHeader << '\n';
  for (const AddonStamp& a : c.addons)
    s << "addon\t" << escape(a.path) << '\t' << a.size << '\t' << a.mtimeNs << '\t' << escape(a.failure)
      << '\n';
  for (const ElementEntry& e : c.elements) {
    uint32_t bits;
    std::memcpy(&bits, &e.hostFactor, 4);
    s << "filter\t" << escape(e.factory) << '\t' << escape(e.addonPath) << '\t' << e.index << '\t' << e.modes
      << '\t' << bits << '\t' << escape(e.name) << '\t' << escape(e.author) << '\t' << escape(e.info) << '\n';
  }
  return s.str();
}

bool decodeCatalog(const std::string& text, PluginCatalog* out) {
  *out = PluginCatalog{};
  std::istringstream s(text);
  std::string line;
  if (!std::getline(s, line) || line != kHeader) return false;
  while (std::getline(s, line)) {
    const std::vector<std::string> f = split(line);
    int64_t a, b, c;
    if (f[0] == "addon" && f.size() == 5) {
      AddonStamp st;
      if (!unescape(f[1], &st.path) || !toInt(f[2], &a) || !toInt(f[3], &b) || !unescape(f[4], &st.failure))
        return false;
      st.size = a;
      st.mtimeNs = b;
      out->addons.push_back(std::move(st));
    } else if (f[0] == "filter" && f.size() == 9) {
      ElementEntry e;
      if (!unescape(f[1], &e.factory) || !unescape(f[2], &e.addonPath) || !toInt(f[3], &a) ||
          !toInt(f[4], &b) || !toInt(f[5], &c) || !unescape(f[6], &e.name) || !unescape(f[7], &e.author) ||
          !unescape(f[8], &e.info))
        return false;
      e.index = int32(a);
      e.modes = int32(b);
      const uint32_t bits = uint32_t(c);
      std::memcpy(&e.hostFactor, &bits, 4);
      out->elements.push_back(std::move(e));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace tw::gst
