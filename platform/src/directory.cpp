#include <dirent.h>
#include <platform/storage.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "status_errno.h"

namespace {

DIR* asDir(void* d) { return static_cast<DIR*>(d); }

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

BDirectory::~BDirectory() { Unset(); }

status_t BDirectory::SetTo(const char* p) {
  Unset();
  if (p == nullptr || *p == '\0') return status = B_BAD_VALUE;
  dir = opendir(p);
  if (dir == nullptr) return status = tw_status_from_errno(errno);
  path = p;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return status = B_OK;
}

status_t BDirectory::SetTo(const BDirectory* base, const char* p) {
  if (p == nullptr || *p == '\0') {
    Unset();
    return status = B_BAD_VALUE;
  }
  if (p[0] == '/') return SetTo(p);
  if (base == nullptr || base->InitCheck() != B_OK) {
    Unset();
    return status = base ? base->InitCheck() : B_BAD_VALUE;
  }
  // Copy first: `base` may be this very object.
  const std::string joined = base->path + (base->path == "/" ? "" : "/") + p;
  return SetTo(joined.c_str());
}

void BDirectory::Unset() {
  if (dir) closedir(asDir(dir));
  dir = nullptr;
  path.clear();
  status = B_NO_INIT;
}

status_t BDirectory::FindEntry(const char* p, BEntry* entry, bool traverse) const {
  if (entry == nullptr) return B_BAD_VALUE;
  entry->Unset();
  if (status != B_OK) return status;
  if (p == nullptr || *p == '\0') return B_BAD_VALUE;
  const std::string full = p[0] == '/' ? std::string(p) : path + "/" + p;
  struct stat st;
  const int r = traverse ? stat(full.c_str(), &st) : lstat(full.c_str(), &st);
  if (r != 0) return tw_status_from_errno(errno);
  return entry->SetTo(full.c_str(), traverse);
}

// Counted on a stream of its own, so the read cursor stays where it is.
int32 BDirectory::CountEntries() const {
  if (status != B_OK) return status;
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return tw_status_from_errno(errno);
  int32 n = 0;
  while (struct dirent* e = readdir(d))
    if (!isDotEntry(e->d_name)) ++n;
  closedir(d);
  return n;
}

status_t BDirectory::Rewind() {
  if (status != B_OK) return status;
  rewinddir(asDir(dir));
  return B_OK;
}

status_t BDirectory::GetNextEntry(BEntry* entry, bool traverse) {
  if (entry == nullptr) return B_BAD_VALUE;
  entry->Unset();
  if (status != B_OK) return status;
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(asDir(dir));
    if (e == nullptr) return errno ? tw_status_from_errno(errno) : B_ENTRY_NOT_FOUND;
    if (isDotEntry(e->d_name)) continue;
    const std::string full = path + (path == "/" ? "" : "/") + e->d_name;
    return entry->SetTo(full.c_str(), traverse);
  }
}
