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
uint32 get32(const uint8* p) { return uint32(p[0]) | uint32(p[1]) << 8 | uint32(p[2]) << 16 | uint32(p[3]) << 24; }
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

// Where the container starts, or the file size when there is none.
uint64 containerStart(const std::vector<uint8>& f) {
  if (f.size() < 16 || std::memcmp(&f[f.size() - 8], kEndMagic, 8) != 0) return f.size();
  const uint64 start = get64(&f[f.size() - 16]);
  if (start > f.size() - 16 || start + 12 > f.size() || std::memcmp(&f[start], kMagic, 8) != 0) return f.size();
  return start;
}

}  // namespace

status_t tw_read_resources(const char* path, std::vector<TwResource>* out) {
  if (path == nullptr || out == nullptr) return B_BAD_VALUE;
  out->clear();
  std::vector<uint8> f;
  status_t s;
  if (!readFile(path, &f, &s)) return s;
  const uint64 start = containerStart(f);
  if (start == f.size()) return B_OK;
  const uint64 end = f.size() - 16;
  uint64 at = start + 8;
  const uint32 count = get32(&f[at]);
  at += 4;
  for (uint32 i = 0; i < count; ++i) {
    if (end - at < 16) return B_BAD_DATA;
    TwResource r;
    r.type = get32(&f[at]);
    r.id = int32(get32(&f[at + 4]));
    const uint64 nameLen = get32(&f[at + 8]), dataLen = get32(&f[at + 12]);
    at += 16;
    if (end - at < nameLen + dataLen) return B_BAD_DATA;
    r.name.assign(reinterpret_cast<const char*>(&f[at]), size_t(nameLen));
    at += nameLen;
    r.data.assign(f.begin() + std::ptrdiff_t(at), f.begin() + std::ptrdiff_t(at + dataLen));
    at += dataLen;
    out->push_back(std::move(r));
  }
  return B_OK;
}

status_t tw_write_resources(const char* path, const std::vector<TwResource>& resources) {
  if (path == nullptr) return B_BAD_VALUE;
  std::vector<uint8> f;
  status_t s;
  if (!readFile(path, &f, &s)) return s;
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
