// On this platform the C library's strerror knows the platform's status
// codes: add-ons print strerror(status) and expect "No such file or
// directory" for B_ENTRY_NOT_FOUND. The platform library is loaded ahead of
// the C library, so this definition serves the whole process; every code that
// is not one of ours goes on to the C library's own text.
#include <platform/support.h>

#include <string.h>

namespace {

// Our codes: B_ERROR and the negative ranges counted up from INT32_MIN.
bool isPlatformCode(int code) { return code == B_ERROR || (code < 0 && int64(code) - INT32_MIN < 0x8000); }

}  // namespace

extern "C" __attribute__((visibility("default"))) char* strerror(int code) noexcept {
  if (isPlatformCode(code)) return const_cast<char*>(tw_status_text(code));
  thread_local char buffer[128];
  // The GNU strerror_r returns the text, which may or may not be `buffer`.
  return strerror_r(code, buffer, sizeof buffer);
}
