// Support kit: fixed-width integer types, status codes and type codes that
// every other kit and every add-on use.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

typedef int32 status_t;
typedef int64 bigtime_t;   // microseconds
typedef uint32 type_code;  // four characters, first one in the top byte

// Builds a type code from four characters: tw_type_code("RECT").
constexpr type_code tw_type_code(const char (&c)[5]) {
  return (type_code(uint8(c[0])) << 24) | (type_code(uint8(c[1])) << 16) | (type_code(uint8(c[2])) << 8) |
         type_code(uint8(c[3]));
}

// Status codes. Success is B_OK (0); every error is negative. The general
// codes count up from INT32_MIN; the kernel, storage and translation codes
// have their own bases above it.
enum : status_t {
  B_OK = 0,
  B_NO_ERROR = 0,
  B_ERROR = -1,

  B_GENERAL_ERROR_BASE = INT32_MIN,
  B_OS_ERROR_BASE = B_GENERAL_ERROR_BASE + 0x1000,
  B_STORAGE_ERROR_BASE = B_GENERAL_ERROR_BASE + 0x6000,
  B_TRANSLATION_ERROR_BASE = B_GENERAL_ERROR_BASE + 0x4800,

  B_NO_MEMORY = B_GENERAL_ERROR_BASE + 0,
  B_IO_ERROR = B_GENERAL_ERROR_BASE + 1,
  B_PERMISSION_DENIED = B_GENERAL_ERROR_BASE + 2,
  B_BAD_INDEX = B_GENERAL_ERROR_BASE + 3,
  B_BAD_TYPE = B_GENERAL_ERROR_BASE + 4,
  B_BAD_VALUE = B_GENERAL_ERROR_BASE + 5,
  B_MISMATCHED_VALUES = B_GENERAL_ERROR_BASE + 6,
  B_NAME_NOT_FOUND = B_GENERAL_ERROR_BASE + 7,
  B_NAME_IN_USE = B_GENERAL_ERROR_BASE + 8,
  B_TIMED_OUT = B_GENERAL_ERROR_BASE + 9,
  B_INTERRUPTED = B_GENERAL_ERROR_BASE + 10,
  B_WOULD_BLOCK = B_GENERAL_ERROR_BASE + 11,
  B_CANCELED = B_GENERAL_ERROR_BASE + 12,
  B_NO_INIT = B_GENERAL_ERROR_BASE + 13,
  B_BUSY = B_GENERAL_ERROR_BASE + 14,
  B_NOT_ALLOWED = B_GENERAL_ERROR_BASE + 15,
  B_BAD_DATA = B_GENERAL_ERROR_BASE + 16,
  B_DONT_DO_THAT = B_GENERAL_ERROR_BASE + 17,

  B_BAD_SEM_ID = B_OS_ERROR_BASE + 0,
  B_NO_MORE_SEMS = B_OS_ERROR_BASE + 1,
  B_BAD_THREAD_ID = B_OS_ERROR_BASE + 0x100,
  B_NO_MORE_THREADS = B_OS_ERROR_BASE + 0x101,
  B_BAD_THREAD_STATE = B_OS_ERROR_BASE + 0x102,

  B_FILE_ERROR = B_STORAGE_ERROR_BASE + 0,
  B_FILE_EXISTS = B_STORAGE_ERROR_BASE + 2,
  B_ENTRY_NOT_FOUND = B_STORAGE_ERROR_BASE + 3,
  B_NAME_TOO_LONG = B_STORAGE_ERROR_BASE + 4,
  B_NOT_A_DIRECTORY = B_STORAGE_ERROR_BASE + 5,
  B_DIRECTORY_NOT_EMPTY = B_STORAGE_ERROR_BASE + 6,
  B_DEVICE_FULL = B_STORAGE_ERROR_BASE + 7,
  B_READ_ONLY_DEVICE = B_STORAGE_ERROR_BASE + 8,
  B_IS_A_DIRECTORY = B_STORAGE_ERROR_BASE + 9,
  B_NO_MORE_FDS = B_STORAGE_ERROR_BASE + 10,
  B_LINK_LIMIT = B_STORAGE_ERROR_BASE + 12,
  B_BUSTED_PIPE = B_STORAGE_ERROR_BASE + 13,

  B_NO_TRANSLATOR = B_TRANSLATION_ERROR_BASE + 0,
  B_ILLEGAL_DATA = B_TRANSLATION_ERROR_BASE + 1,
};

// Type codes of the values a BMessage holds.
enum : type_code {
  B_ANY_TYPE = tw_type_code("ANYT"),
  B_BOOL_TYPE = tw_type_code("BOOL"),
  B_FLOAT_TYPE = tw_type_code("FLOT"),
  B_INT32_TYPE = tw_type_code("LONG"),
  B_RECT_TYPE = tw_type_code("RECT"),
  B_STRING_TYPE = tw_type_code("CSTR"),
};

// Text of a status code (B_ENTRY_NOT_FOUND gives "No such file or directory").
// Codes this layer does not know fall through to the C library's strerror.
const char* tw_status_text(status_t code);

// A list of untyped pointers that grows in blocks of `blockSize` items. It
// owns only its array, never the items.
class BList {
 public:
  explicit BList(int32 blockSize = 20);
  ~BList();
  BList(const BList&) = delete;
  BList& operator=(const BList&) = delete;

  bool AddItem(void* item);               // at the end; false when out of memory
  bool AddItem(void* item, int32 index);  // before `index` (0…count)
  void* RemoveItem(int32 index);          // the item, or null for a bad index
  void* ItemAt(int32 index) const;        // null for a bad index
  int32 CountItems() const { return count; }
  bool IsEmpty() const { return count == 0; }
  void MakeEmpty();
  void** Items() const { return items; }

 private:
  bool reserve(int32 wanted);
  void** items = nullptr;
  int32 count = 0;
  int32 capacity = 0;
  int32 blockSize;
};

// Byte streams: the sources and destinations of the translation kit.
class BDataIO {
 public:
  virtual ~BDataIO();
  virtual ssize_t Read(void* buffer, size_t size) = 0;
  virtual ssize_t Write(const void* buffer, size_t size) = 0;
};

class BPositionIO : public BDataIO {
 public:
  ssize_t Read(void* buffer, size_t size) override;
  ssize_t Write(const void* buffer, size_t size) override;
  virtual ssize_t ReadAt(off_t position, void* buffer, size_t size) = 0;
  virtual ssize_t WriteAt(off_t position, const void* buffer, size_t size) = 0;
  // mode: SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or an error.
  virtual off_t Seek(off_t position, uint32 mode) = 0;
  virtual off_t Position() const = 0;
  virtual status_t GetSize(off_t* size) const = 0;
};
