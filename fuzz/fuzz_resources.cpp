// The resource container on arbitrary bytes, read as the host and the tools
// read an add-on file. What it accepts lies inside the input, and written
// back it reads the same.
#include <platform/resources.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<TwResource> list;
  if (tw_parse_resources(data, size, &list) != B_OK) {
    if (!list.empty()) __builtin_trap();  // a refused container yields nothing
    return 0;
  }
  size_t bytes = 0;
  for (const TwResource& r : list) bytes += 16 + r.name.size() + r.data.size();
  if (bytes > size) __builtin_trap();

  std::vector<uint8> file(data, data + size);
  if (tw_replace_resources(&file, list) != B_OK) __builtin_trap();
  std::vector<TwResource> back;
  if (tw_parse_resources(file.data(), file.size(), &back) != B_OK || back.size() != list.size())
    __builtin_trap();
  for (size_t i = 0; i < list.size(); ++i)
    if (back[i].type != list[i].type || back[i].id != list[i].id || back[i].name != list[i].name ||
        back[i].data != list[i].data)
      __builtin_trap();
  return 0;
}
