#include <platform/storage.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "status_errno.h"

namespace {

// An absolute, lexically tidied path: entries report where they are, not how
// they were reached.
std::string absolutePath(const char* path) {
  std::filesystem::path p(path);
  if (p.is_relative()) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (!ec) p = cwd / p;
  }
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

status_t BEntry::SetTo(const char* p, bool traverse) {
  Unset();
  if (p == nullptr || *p == '\0') return status = B_BAD_VALUE;
  path = absolutePath(p);
  if (traverse) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      std::error_code ec;
      std::filesystem::path target = std::filesystem::canonical(path, ec);
      if (ec) {
        path.clear();
        return status = B_ENTRY_NOT_FOUND;
      }
      path = target.string();
    }
  }
  return status = B_OK;
}

void BEntry::Unset() {
  path.clear();
  status = B_NO_INIT;
}

// A link counts as existing even when what it designates does not.
bool BEntry::Exists() const {
  struct stat st;
  return status == B_OK && lstat(path.c_str(), &st) == 0;
}

status_t BEntry::GetPath(BPath* out) const {
  if (out == nullptr) return B_BAD_VALUE;
  if (status != B_OK) {
    out->Unset();
    return status;
  }
  return out->SetTo(path.c_str());
}

status_t BEntry::GetRef(entry_ref* ref) const {
  if (ref == nullptr) return B_BAD_VALUE;
  if (status != B_OK) return status;
  const size_t slash = path.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  if (stat(parent.c_str(), &st) != 0) return tw_status_from_errno(errno);
  *ref = entry_ref(int32(st.st_dev), int64(st.st_ino), path.c_str() + slash + 1);
  return B_OK;
}
