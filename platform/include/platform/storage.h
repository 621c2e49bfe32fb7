// Storage kit: file references and paths.
#pragma once

#include <platform/support.h>

#include <string>


// A reference to a file by device, directory and leaf name.
struct entry_ref {
  int32 device = -1;
  int64 directory = -1;
  std::string name;

  entry_ref() = default;
  entry_ref(int32 dev, int64 dir, const char* leaf) : device(dev), directory(dir), name(leaf ? leaf : "") {}
  bool operator==(const entry_ref&) const = default;
};

// A path text. SetTo(dir, leaf) joins the two with one slash and normalises
// nothing: "./a" stays "./a", ".." segments stay as they are.
class BPath {
 public:
  BPath() = default;
  explicit BPath(const char* path) { SetTo(path); }
  BPath(const char* dir, const char* leaf) { SetTo(dir, leaf); }

  status_t SetTo(const char* path, const char* leaf = nullptr, bool normalize = false);
  void Unset();
  status_t InitCheck() const { return status; }
  // The text, or null when the path is not set.
  const char* Path() const { return status == B_OK ? text.c_str() : nullptr; }
  // The last segment, or null when the path is not set.
  const char* Leaf() const;

 private:
  std::string text;
  status_t status = B_NO_INIT;
};
