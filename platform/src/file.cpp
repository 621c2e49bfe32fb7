#include <fcntl.h>
#include <platform/storage.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "status_errno.h"

BFile::~BFile() { Unset(); }

status_t BFile::SetTo(const char* path, uint32 openMode) {
  Unset();
  if (path == nullptr || *path == '\0') return status = B_BAD_VALUE;
  int flags = O_CLOEXEC;
  switch (openMode & 3) {
    case B_WRITE_ONLY:
      flags |= O_WRONLY;
      break;
    case B_READ_WRITE:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
      break;
  }
  fd = ::open(path, flags);
  if (fd < 0) return status = tw_status_from_errno(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const status_t why = S_ISDIR(st.st_mode) ? B_IS_A_DIRECTORY : tw_status_from_errno(errno);
    Unset();
    return status = why;
  }
  return status = B_OK;
}

status_t BFile::SetTo(const BEntry* entry, uint32 openMode) {
  if (entry == nullptr || entry->InitCheck() != B_OK) {
    Unset();
    return status = entry ? entry->InitCheck() : B_BAD_VALUE;
  }
  return SetTo(entry->tw_path(), openMode);
}

void BFile::Unset() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  position = 0;
  status = B_NO_INIT;
}

ssize_t BFile::ReadAt(off_t at, void* buffer, size_t size) {
  if (status != B_OK) return status;
  if (buffer == nullptr || at < 0) return B_BAD_VALUE;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, at + off_t(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? ssize_t(done) : ssize_t(tw_status_from_errno(errno));
    }
    if (n == 0) break;  // end of file
    done += size_t(n);
  }
  return ssize_t(done);
}

ssize_t BFile::WriteAt(off_t at, const void* buffer, size_t size) {
  if (status != B_OK) return status;
  if (buffer == nullptr || at < 0) return B_BAD_VALUE;
  const ssize_t n = ::pwrite(fd, buffer, size, at);
  return n < 0 ? ssize_t(tw_status_from_errno(errno)) : n;
}

off_t BFile::Seek(off_t to, uint32 mode) {
  if (status != B_OK) return status;
  off_t base = 0;
  if (mode == SEEK_CUR) {
    base = position;
  } else if (mode == SEEK_END) {
    off_t size = 0;
    if (status_t e = GetSize(&size); e != B_OK) return e;
    base = size;
  } else if (mode != SEEK_SET) {
    return B_BAD_VALUE;
  }
  if ((to > 0 && base > INT64_MAX - to) || base + to < 0) return B_BAD_VALUE;
  position = base + to;
  return position;
}

status_t BFile::GetSize(off_t* size) const {
  if (status != B_OK) return status;
  if (size == nullptr) return B_BAD_VALUE;
  struct stat st;
  if (fstat(fd, &st) != 0) return tw_status_from_errno(errno);
  *size = st.st_size;
  return B_OK;
}
