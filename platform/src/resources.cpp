#include <platform/resources.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

namespace {

constexpr char kMagic[8] = {'T', 'W', 'R', 'S', 'R', 'C', '0', '1'};
constexpr char kEndMagic[8] = {'T', 'W', 'R', 'S', 'E', 'N', 'D', '1'};
constexpr uint64 kAlign = 4096;

void put32(std::vector<uint8>& b, uint32 v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8(v >> (8 * i)));
}
void put64(std::vector<uint8>& b, uint64 v) {
  for (int i = 0; i < 8; ++i) b.push_back(uint8(v >> (8 * i)));
}
uint32 get32(const uint8* p) {
  return uint32(p[0]) | uint32(p[1]) << 8 | uint32(p[2]) << 16 | uint32(p[3]) << 24;
}
uint64 get64(const uint8* p) { return uint64(get32(p)) | uint64(get32(p + 4)) << 32; }

bool readFile(const char* path, std::vector<uint8>* bytes, status_t* status) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *status = B_ENTRY_NOT_FOUND;
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    *status = B_IO_ERROR;
    return false;
  }
  return true;
}

constexpr uint64 kTrailerBytes = 16;
constexpr uint64 kHeadBytes = 12;  // the magic and the count

// Where the container starts, from the file's last 16 bytes, or `size` when
// the file carries none: no end magic, or an offset that leaves no room for
// the container's head before the trailer.
uint64 containerStart(const uint8* trailer, uint64 size) {
  if (size < kTrailerBytes + kHeadBytes || std::memcmp(trailer + 8, kEndMagic, 8) != 0) return size;
  const uint64 start = get64(trailer);
  if (start > size - kTrailerBytes - kHeadBytes) return size;
  return start;
}

// The container's bytes from its magic up to the trailer.
status_t parseContainer(const uint8* c, uint64 n, std::vector<TwResource>* out) {
  if (n < kHeadBytes || std::memcmp(c, kMagic, 8) != 0) return B_OK;  // not a container: none
  const uint32 count = get32(c + 8);
  uint64 at = kHeadBytes;
  for (uint32 i = 0; i < count; ++i) {
    if (n - at < 16) return B_BAD_DATA;
    TwResource r;
    r.type = get32(c + at);
    r.id = int32(get32(c + at + 4));
    const uint64 nameLen = get32(c + at + 8), dataLen = get32(c + at + 12);
    at += 16;
    if (n - at < nameLen + dataLen) return B_BAD_DATA;
    r.name.assign(reinterpret_cast<const char*>(c + at), size_t(nameLen));
    at += nameLen;
    r.data.assign(c + at, c + at + dataLen);
    at += dataLen;
    out->push_back(std::move(r));
  }
  return B_OK;
}

// The same for a whole file in memory, which must also hold the start magic.
uint64 containerStart(const std::vector<uint8>& f) {
  if (f.size() < kTrailerBytes) return f.size();
  const uint64 start = containerStart(&f[f.size() - kTrailerBytes], f.size());
  return start != f.size() && std::memcmp(&f[start], kMagic, 8) == 0 ? start : f.size();
}

}  // namespace

status_t tw_parse_resources(const uint8* data, size_t size, std::vector<TwResource>* out) {
  if (out == nullptr || (data == nullptr && size > 0)) return B_BAD_VALUE;
  out->clear();
  if (size < kTrailerBytes) return B_OK;
  const uint64 start = containerStart(data + size - kTrailerBytes, size);
  if (start == size) return B_OK;
  const status_t s = parseContainer(data + start, size - kTrailerBytes - start, out);
  if (s != B_OK) out->clear();
  return s;
}

status_t tw_read_resources(const char* path, std::vector<TwResource>* out) {
  if (path == nullptr || out == nullptr) return B_BAD_VALUE;
  out->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return B_ENTRY_NOT_FOUND;
  // Only the trailer and the container are read: an add-on's own bytes are
  // of no interest here and may be large.
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) return B_IO_ERROR;
  const uint64 size = uint64(end);
  if (size < kTrailerBytes) return B_OK;
  uint8 trailer[kTrailerBytes];
  if (!in.seekg(std::streamoff(size - kTrailerBytes)).read(reinterpret_cast<char*>(trailer), kTrailerBytes))
    return B_IO_ERROR;
  const uint64 start = containerStart(trailer, size);
  if (start == size) return B_OK;
  std::vector<uint8> c(size_t(size - kTrailerBytes - start));
  if (!in.seekg(std::streamoff(start)).read(reinterpret_cast<char*>(c.data()), std::streamsize(c.size())))
    return B_IO_ERROR;
  const status_t s = parseContainer(c.data(), c.size(), out);
  if (s != B_OK) out->clear();
  return s;
}

status_t tw_replace_resources(std::vector<uint8>* file, const std::vector<TwResource>& resources) {
  if (file == nullptr) return B_BAD_VALUE;
  for (const TwResource& r : resources)
    if (r.name.size() > UINT32_MAX || r.data.size() > UINT32_MAX) return B_BAD_VALUE;
  std::vector<uint8>& f = *file;
  f.resize(size_t(containerStart(f)));
  // Drop the padding an earlier container left, then pad again.
  const uint64 start = (uint64(f.size()) + kAlign - 1) / kAlign * kAlign;
  f.resize(size_t(start), 0);
  f.insert(f.end(), kMagic, kMagic + 8);
  put32(f, uint32(resources.size()));
  for (const TwResource& r : resources) {
    put32(f, r.type);
    put32(f, uint32(r.id));
    put32(f, uint32(r.name.size()));
    put32(f, uint32(r.data.size()));
    f.insert(f.end(), r.name.begin(), r.name.end());
    f.insert(f.end(), r.data.begin(), r.data.end());
  }
  put64(f, start);
  f.insert(f.end(), kEndMagic, kEndMagic + 8);
  return B_OK;
}

status_t tw_write_resources(const char* path, const std::vector<TwResource>& resources) {
  if (path == nullptr) return B_BAD_VALUE;
  std::vector<uint8> f;
  status_t s;
  if (!readFile(path, &f, &s)) return s;
  if ((s = tw_replace_resources(&f, resources)) != B_OK) return s;

  // Write beside, then rename, so a failure leaves the original intact; the
  // new file takes the old one's mode (an add-on must stay executable).
  struct stat st;
  if (::stat(path, &st) != 0) return B_ENTRY_NOT_FOUND;
  const std::string tmp = std::string(path) + ".rsrc-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return B_PERMISSION_DENIED;
    out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      return B_IO_ERROR;
    }
  }
  if (::chmod(tmp.c_str(), st.st_mode & 07777) != 0 || std::rename(tmp.c_str(), path) != 0) {
    std::remove(tmp.c_str());
    return B_IO_ERROR;
  }
  return B_OK;
}

std::string tw_type_code_text(type_code code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((code >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}
