#include <platform/support.h>

#include <cstdio>

BDataIO::~BDataIO() = default;

// Sequential access on top of positioned access: the position advances by
// what was transferred.
ssize_t BPositionIO::Read(void* buffer, size_t size) {
  const off_t at = Position();
  const ssize_t n = ReadAt(at, buffer, size);
  if (n > 0) Seek(at + n, SEEK_SET);
  return n;
}

ssize_t BPositionIO::Write(const void* buffer, size_t size) {
  const off_t at = Position();
  const ssize_t n = WriteAt(at, buffer, size);
  if (n > 0) Seek(at + n, SEEK_SET);
  return n;
}
