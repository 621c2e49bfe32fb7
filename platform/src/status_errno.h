// The status code of a C library error number, for the storage kit.
#pragma once

#include <platform/support.h>

#include <cerrno>

inline status_t tw_status_from_errno(int e) {
  switch (e) {
    case 0:
      return B_OK;
    case ENOENT:
      return B_ENTRY_NOT_FOUND;
    case EACCES:
    case EPERM:
      return B_PERMISSION_DENIED;
    case ENOTDIR:
      return B_NOT_A_DIRECTORY;
    case EISDIR:
      return B_IS_A_DIRECTORY;
    case ENAMETOOLONG:
      return B_NAME_TOO_LONG;
    case ELOOP:
      return B_LINK_LIMIT;
    case EMFILE:
    case ENFILE:
      return B_NO_MORE_FDS;
    case ENOMEM:
      return B_NO_MEMORY;
    case EEXIST:
      return B_FILE_EXISTS;
    case EBADF:
      return B_FILE_ERROR;
    case EIO:
      return B_IO_ERROR;
    case EINVAL:
      return B_BAD_VALUE;
    case EROFS:
      return B_READ_ONLY_DEVICE;
    case ENOSPC:
      return B_DEVICE_FULL;
    case EBUSY:
      return B_BUSY;
    case EINTR:
      return B_INTERRUPTED;
    default:
      return B_ERROR;
  }
}
