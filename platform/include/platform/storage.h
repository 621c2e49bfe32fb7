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

enum : uint32 { B_READ_ONLY = 0, B_WRITE_ONLY = 1, B_READ_WRITE = 2 };

// An entry of the file system by path (a file, a directory, a link, or a name
// that does not exist yet).
class BEntry {
 public:
  BEntry() = default;
  // traverse: follow a symbolic link to what it designates.
  explicit BEntry(const char* path, bool traverse = false) { SetTo(path, traverse); }
  status_t SetTo(const char* path, bool traverse = false);
  void Unset();
  // B_OK when the entry designates a path (which may not exist).
  status_t InitCheck() const { return status; }
  bool Exists() const;
  status_t GetPath(BPath* path) const;  // the absolute path
  status_t GetRef(entry_ref* ref) const;

 private:
  friend class BFile;
  const char* tw_path() const { return status == B_OK ? path.c_str() : nullptr; }
  std::string path;
  status_t status = B_NO_INIT;
};

// A file opened for reading (the translators' source).
class BFile : public BPositionIO {
 public:
  BFile() = default;
  BFile(const char* path, uint32 openMode) { SetTo(path, openMode); }
  BFile(const BEntry* entry, uint32 openMode) { SetTo(entry, openMode); }
  ~BFile() override;
  BFile(const BFile&) = delete;
  BFile& operator=(const BFile&) = delete;

  status_t SetTo(const char* path, uint32 openMode);
  status_t SetTo(const BEntry* entry, uint32 openMode);
  void Unset();
  status_t InitCheck() const { return status; }

  ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
  ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
  off_t Seek(off_t position, uint32 mode) override;
  off_t Position() const override { return position; }
  status_t GetSize(off_t* size) const override;

 private:
  int fd = -1;
  off_t position = 0;
  status_t status = B_NO_INIT;
};

// A directory, with a read cursor over its entries ("." and ".." are never
// listed).
class BDirectory {
 public:
  BDirectory() = default;
  explicit BDirectory(const char* path) { SetTo(path); }
  ~BDirectory();
  BDirectory(const BDirectory&) = delete;
  BDirectory& operator=(const BDirectory&) = delete;

  status_t SetTo(const char* path);
  // `path` relative to the directory `dir` (or absolute).
  status_t SetTo(const BDirectory* dir, const char* path);
  void Unset();
  status_t InitCheck() const { return status; }

  // The entry `path` relative to this directory; B_ENTRY_NOT_FOUND when
  // nothing is there.
  status_t FindEntry(const char* path, BEntry* entry, bool traverse = false) const;
  // Number of entries; a negative error when the directory is not open.
  int32 CountEntries() const;
  status_t Rewind();
  // The next entry at the cursor; B_ENTRY_NOT_FOUND past the last one.
  status_t GetNextEntry(BEntry* entry, bool traverse = false);

 private:
  std::string path;
  void* dir = nullptr;  // the open directory stream
  status_t status = B_NO_INIT;
};
