#include <platform/support.h>

#include <cstring>

const char* tw_status_text(status_t code) {
  switch (code) {
    case B_OK:
      return "No error";
    case B_ERROR:
      return "General system error";
    case B_NO_MEMORY:
      return "Out of memory";
    case B_IO_ERROR:
      return "I/O error";
    case B_PERMISSION_DENIED:
      return "Permission denied";
    case B_BAD_INDEX:
      return "Index not in range for the data set";
    case B_BAD_TYPE:
      return "Bad argument type passed to function";
    case B_BAD_VALUE:
      return "Bad value passed to function";
    case B_MISMATCHED_VALUES:
      return "Mismatched values passed to function";
    case B_NAME_NOT_FOUND:
      return "Name not found";
    case B_NAME_IN_USE:
      return "Name in use";
    case B_TIMED_OUT:
      return "Operation timed out";
    case B_INTERRUPTED:
      return "Interrupted system call";
    case B_WOULD_BLOCK:
      return "Operation would block";
    case B_CANCELED:
      return "Operation canceled";
    case B_NO_INIT:
      return "Initialization failed";
    case B_BUSY:
      return "Device/File/Resource busy";
    case B_NOT_ALLOWED:
      return "Operation not allowed";
    case B_BAD_DATA:
      return "Bad data";
    case B_DONT_DO_THAT:
      return "No, don't do that";
    case B_BAD_SEM_ID:
      return "Bad semaphore ID";
    case B_NO_MORE_SEMS:
      return "No more semaphores";
    case B_BAD_THREAD_ID:
      return "No such thread";
    case B_NO_MORE_THREADS:
      return "No more threads";
    case B_BAD_THREAD_STATE:
      return "Thread is inappropriate state";
    case B_FILE_ERROR:
      return "Bad file descriptor";
    case B_FILE_EXISTS:
      return "File exists";
    case B_ENTRY_NOT_FOUND:
      return "No such file or directory";
    case B_NAME_TOO_LONG:
      return "File or Directory name too long";
    case B_NOT_A_DIRECTORY:
      return "Not a directory";
    case B_DIRECTORY_NOT_EMPTY:
      return "Directory not empty";
    case B_DEVICE_FULL:
      return "No space left on device";
    case B_READ_ONLY_DEVICE:
      return "Read-only file system";
    case B_IS_A_DIRECTORY:
      return "Is a directory";
    case B_NO_MORE_FDS:
      return "Too many open files";
    case B_LINK_LIMIT:
      return "Too many symbolic links";
    case B_BUSTED_PIPE:
      return "Broken pipe";
    case B_NO_TRANSLATOR:
      return "No translator found";
    case B_ILLEGAL_DATA:
      return "Illegal data";
    default:
      return std::strerror(code > 0 ? code : -code);
  }
}
