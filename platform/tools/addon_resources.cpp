// tw-resources: attaches an add-on's resources to its file after linking, and
// lists the resources of a file.
//
//   tw-resources attach FILE [--icon-large ART --icon-small ART] [--app-info] [--filter NAME]...
//   tw-resources list FILE
//
// attach writes the platform's resources (file type, icons, application
// information), then the two the host reads before loading the add-on: its
// ABI stamp ("TIDEWAVE:ABI", copied from the file's section "tw_abi_stamp",
// which the add-on's entry unit compiles in) and the display names of its
// filters in index order ("TIDEWAVE:FILTERS", each name NUL-terminated).
//
// ART is a text file: legend lines "c = index" (a character, then the palette
// index it stands for), a line "---", then one line per pixel row, one
// character per pixel. Lines starting with '#' are comments.
#include <platform/resources.h>

#include <elf.h>

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
      if (it == legend.end())
        fail(path + ":" + std::to_string(lineNo) + ": '" + c + "' is not in the legend");
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

std::vector<uint8> readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot open " + path);
  return std::vector<uint8>(std::istreambuf_iterator<char>(in), {});
}

// The bytes of the named section of a 64-bit little-endian ELF file.
std::vector<uint8> elfSection(const std::string& path, const char* wanted) {
  const std::vector<uint8> f = readWhole(path);
  auto fits = [&](uint64 at, uint64 n) { return at <= f.size() && n <= f.size() - at; };
  Elf64_Ehdr eh;
  if (!fits(0, sizeof eh)) fail(path + ": not an ELF file");
  std::memcpy(&eh, f.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_shentsize != sizeof(Elf64_Shdr) ||
      !fits(eh.e_shoff, uint64(eh.e_shnum) * sizeof(Elf64_Shdr)) || eh.e_shstrndx >= eh.e_shnum)
    fail(path + ": not a 64-bit little-endian ELF file with sections");
  auto header = [&](uint64 i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, f.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
    return sh;
  };
  const Elf64_Shdr names = header(eh.e_shstrndx);
  if (!fits(names.sh_offset, names.sh_size)) fail(path + ": damaged section names");
  const std::string table(reinterpret_cast<const char*>(f.data() + names.sh_offset), names.sh_size);
  for (uint64 i = 0; i < eh.e_shnum; ++i) {
    const Elf64_Shdr sh = header(i);
    if (sh.sh_name >= table.size() || std::strcmp(table.c_str() + sh.sh_name, wanted) != 0) continue;
    if (sh.sh_type == SHT_NOBITS || !fits(sh.sh_offset, sh.sh_size))
      fail(path + ": damaged section " + wanted);
    return std::vector<uint8>(f.begin() + std::ptrdiff_t(sh.sh_offset),
                              f.begin() + std::ptrdiff_t(sh.sh_offset + sh.sh_size));
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3)
    fail(
        "usage: tw-resources attach FILE [--icon-large ART --icon-small ART] [--app-info] [--filter NAME]... "
        "| "
        "list FILE");
  const std::string verb = argv[1];
  const char* file = argv[2];
  if (verb == "list") {
    std::vector<TwResource> list;
    if (status_t s = tw_read_resources(file, &list); s != B_OK)
      fail(std::string(file) + ": " + tw_status_text(s));
    for (const TwResource& r : list)
      std::printf("%s %4d %-20s %zu\n", tw_type_code_text(r.type).c_str(), r.id, r.name.c_str(),
                  r.data.size());
    return 0;
  }
  if (verb != "attach") fail("unknown command " + verb);

  std::string large, small;
  bool appInfo = false;
  std::vector<uint8> filters;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--icon-large" && i + 1 < argc)
      large = argv[++i];
    else if (a == "--icon-small" && i + 1 < argc)
      small = argv[++i];
    else if (a == "--app-info")
      appInfo = true;
    else if (a == "--filter" && i + 1 < argc) {
      const std::vector<uint8> name = text(argv[++i]);
      filters.insert(filters.end(), name.begin(), name.end());
    } else
      fail("unknown option " + a);
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
  std::vector<uint8> stamp = elfSection(file, "tw_abi_stamp");
  if (stamp.empty())
    fail(std::string(file) + ": no ABI stamp (section tw_abi_stamp); build the add-on with add_addon()");
  list.push_back(make(tw_type_code("TWAB"), 1, "TIDEWAVE:ABI", std::move(stamp)));
  if (!filters.empty()) list.push_back(make(tw_type_code("TWFL"), 1, "TIDEWAVE:FILTERS", std::move(filters)));
  if (status_t s = tw_write_resources(file, list); s != B_OK)
    fail(std::string(file) + ": " + tw_status_text(s));
  return 0;
}
