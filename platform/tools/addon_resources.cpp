// tw-resources: attaches an add-on's resources to its file after linking, and
// lists the resources of a file.
//
//   tw-resources attach FILE [--icon-large ART --icon-small ART] [--app-info]
//   tw-resources list FILE
//
// ART is a text file: legend lines "c = index" (a character, then the palette
// index it stands for), a line "---", then one line per pixel row, one
// character per pixel. Lines starting with '#' are comments.
#include <platform/resources.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "tw-resources: %s\n", what.c_str());
  std::exit(1);
}

std::vector<uint8> readArt(const std::string& path, int size) {
  std::ifstream in(path);
  if (!in) fail("cannot open icon art " + path);
  std::map<char, int> legend;
  std::vector<uint8> pixels;
  std::string line;
  bool rows = false;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!rows) {
      if (line.empty() || line[0] == '#') continue;
      if (line == "---") {
        rows = true;
        continue;
      }
      int index = -1;
      char key = 0;
      if (std::sscanf(line.c_str(), " %c = %d", &key, &index) != 2 || index < 0 || index > 255)
        fail(path + ":" + std::to_string(lineNo) + ": expected 'c = index' or '---'");
      legend[key] = index;
      continue;
    }
    if (int(line.size()) != size)
      fail(path + ":" + std::to_string(lineNo) + ": row has " + std::to_string(line.size()) +
           " pixels, expected " + std::to_string(size));
    for (char c : line) {
      auto it = legend.find(c);
      if (it == legend.end()) fail(path + ":" + std::to_string(lineNo) + ": '" + c + "' is not in the legend");
      pixels.push_back(uint8(it->second));
    }
  }
  if (int(pixels.size()) != size * size)
    fail(path + ": expected " + std::to_string(size) + " rows, got " + std::to_string(pixels.size() / size));
  return pixels;
}

TwResource make(type_code type, int32 id, const char* name, std::vector<uint8> data) {
  return TwResource{type, id, name, std::move(data)};
}

std::vector<uint8> text(const char* s) { return std::vector<uint8>(s, s + std::strlen(s) + 1); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) fail("usage: tw-resources attach FILE [--icon-large ART --icon-small ART] [--app-info] | list FILE");
  const std::string verb = argv[1];
  const char* file = argv[2];
  if (verb == "list") {
    std::vector<TwResource> list;
    if (status_t s = tw_read_resources(file, &list); s != B_OK) fail(std::string(file) + ": " + tw_status_text(s));
    for (const TwResource& r : list)
      std::printf("%s %4d %-20s %zu\n", tw_type_code_text(r.type).c_str(), r.id, r.name.c_str(), r.data.size());
    return 0;
  }
  if (verb != "attach") fail("unknown command " + verb);

  std::string large, small;
  bool appInfo = false;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--icon-large" && i + 1 < argc) large = argv[++i];
    else if (a == "--icon-small" && i + 1 < argc) small = argv[++i];
    else if (a == "--app-info") appInfo = true;
    else fail("unknown option " + a);
  }
  if (large.empty() != small.empty()) fail("--icon-large and --icon-small go together");

  std::vector<TwResource> list;
  list.push_back(make(tw_type_code("MIMS"), 2, "BEOS:TYPE", text("application/x-vnd.Be-elfexecutable")));
  if (!large.empty()) {
    list.push_back(make(tw_type_code("ICON"), 101, "BEOS:L:STD_ICON", readArt(large, 32)));
    list.push_back(make(tw_type_code("MICN"), 101, "BEOS:M:STD_ICON", readArt(small, 16)));
  }
  if (appInfo) {
    list.push_back(make(tw_type_code("APPF"), 1, "BEOS:APP_FLAGS", std::vector<uint8>(4, 0)));
    // Two version records of 340 bytes; the first is version 0.0.0 with empty
    // texts, the second carries nothing.
    list.push_back(make(tw_type_code("APPV"), 1, "BEOS:APP_VERSION", std::vector<uint8>(680, 0)));
    list.push_back(make(tw_type_code("MIMS"), 1, "BEOS:APP_SIG", text("")));
  }
  if (status_t s = tw_write_resources(file, list); s != B_OK) fail(std::string(file) + ": " + tw_status_text(s));
  return 0;
}
