// The stamp every add-on file carries, so that a host refuses an add-on built
// against another CFilter before it runs a line of the add-on's code.
//
// The host reads and writes CFilter's members directly, and CFilter holds
// C++ library types (the strings and vectors inside BMessage, BPath and
// entry_ref). An add-on built against another layout of CFilter, or against
// another C++ library ABI, would corrupt memory without a word; the stamp
// lets the host say so instead. add_addon() compiles the stamp into the
// add-on (AddonEntry.cpp) with the add-on's own compiler, flags and headers,
// and attaches it to the file as the resource "TIDEWAVE:ABI". Authors never
// include this header.
#pragma once

#include "CFilter.h"

#include <cstddef>

// The kit's ABI version. Raise it whenever CFilter, SFrameInfo, the card
// hooks, filterInit or a platform type that CFilter holds changes in size,
// order or meaning. The SDK's package version carries it as its major number.
#define TW_KIT_ABI 1

// The C++ library ABI that CFilter's members are laid out in. What tells two
// apart: the library (libstdc++ or libc++), libstdc++'s dual ABI (the
// reference-counted strings of _GLIBCXX_USE_CXX11_ABI=0 against the C++11
// ones), its debug mode (containers of another size), and libc++'s ABI
// version. libstdc++'s release is left out on purpose: its ABI has been kept
// compatible across releases since GCC 5, and an add-on that needs a newer
// libstdc++ than the host's fails at load with the missing symbol version.
#define TW_ABI_STRINGIFY2(x) #x
#define TW_ABI_STRINGIFY(x) TW_ABI_STRINGIFY2(x)
#if defined(_LIBCPP_VERSION)
#define TW_CXX_LIBRARY_ABI "libc++ abi " TW_ABI_STRINGIFY(_LIBCPP_ABI_VERSION)
#elif defined(__GLIBCXX__) && _GLIBCXX_USE_CXX11_ABI && defined(_GLIBCXX_DEBUG)
#define TW_CXX_LIBRARY_ABI "libstdc++ cxx11 debug"
#elif defined(__GLIBCXX__) && _GLIBCXX_USE_CXX11_ABI
#define TW_CXX_LIBRARY_ABI "libstdc++ cxx11"
#elif defined(__GLIBCXX__) && defined(_GLIBCXX_DEBUG)
#define TW_CXX_LIBRARY_ABI "libstdc++ cow debug"
#elif defined(__GLIBCXX__)
#define TW_CXX_LIBRARY_ABI "libstdc++ cow"
#else
#define TW_CXX_LIBRARY_ABI "unknown"
#endif

// The stamp as it lies in the add-on's section "tw_abi_stamp" and, byte for
// byte, in its resource: little-endian, no padding.
struct TwAbiStamp {
  char magic[8];           // "TWABI\0\0\1"
  uint32 kitAbi;           // TW_KIT_ABI
  uint32 filterSize;       // sizeof(CFilter)
  uint32 frameOffset;      // where CFilter::frame lies in the object
  char cxxLibraryAbi[36];  // TW_CXX_LIBRARY_ABI, NUL-padded
};
static_assert(sizeof(TwAbiStamp) == 56, "the stamp's bytes are part of the add-on file format");

constexpr char kTwAbiStampMagic[8] = {'T', 'W', 'A', 'B', 'I', 0, 0, 1};

// The stamp of the code being compiled now.
constexpr TwAbiStamp tw_abi_stamp_here() {
  TwAbiStamp s{};
  for (int i = 0; i < 8; ++i) s.magic[i] = kTwAbiStampMagic[i];
  s.kitAbi = TW_KIT_ABI;
  s.filterSize = uint32(sizeof(CFilter));
  // CFilter has virtual functions, so offsetof is only conditionally
  // supported; GCC and Clang give the member's place, which is the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  s.frameOffset = uint32(offsetof(CFilter, frame));
#pragma GCC diagnostic pop
  const char* lib = TW_CXX_LIBRARY_ABI;
  for (int i = 0; i < int(sizeof s.cxxLibraryAbi) - 1 && lib[i] != 0; ++i) s.cxxLibraryAbi[i] = lib[i];
  return s;
}
