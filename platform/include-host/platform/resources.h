// Resources carried inside a file: typed, numbered, named blobs (the file type,
// icons, version records) appended after the file's own contents.
//
// Container layout (all integers little-endian):
//   at an offset that is a multiple of 4096, after the file's own bytes:
//     8 bytes   magic "TWRSRC01"
//     uint32    number of resources
//     per resource: uint32 type code, int32 id, uint32 name length,
//                   uint32 data length, the name (no terminator), the data
//   the last 16 bytes of the file:
//     uint64    offset of the container from the start of the file
//     8 bytes   magic "TWRSEND1"
// A loader of the file (the kernel, the dynamic linker) never reads past the
// file's own segments, so the container travels without disturbing them.
//
// The host, the tools and the tests read resources; add-ons never do, so this
// header is not installed with the SDK.
#pragma once

#include <platform/support.h>

#include <string>
#include <vector>

struct TwResource {
  type_code type = 0;
  int32 id = 0;
  std::string name;
  std::vector<uint8> data;
};

// Reads the resources of the file at `path` into *out; only the container is
// read, not the file's own bytes. B_OK with an empty list for a file that
// carries none; B_ENTRY_NOT_FOUND, B_IO_ERROR or B_BAD_DATA (a container
// whose sizes do not fit the file) otherwise.
status_t tw_read_resources(const char* path, std::vector<TwResource>* out);

// The same for a whole file already in memory: `size` bytes at `data`.
status_t tw_parse_resources(const uint8* data, size_t size, std::vector<TwResource>* out);

// Writes `resources` into the file at `path`, replacing any container it
// already carries; the file's own bytes are kept and padded to 4096.
status_t tw_write_resources(const char* path, const std::vector<TwResource>& resources);

// The same for a whole file in memory.
status_t tw_replace_resources(std::vector<uint8>* file, const std::vector<TwResource>& resources);

// The four characters of a type code, for showing it ("ICON").
std::string tw_type_code_text(type_code code);
