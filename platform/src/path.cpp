#include <platform/storage.h>

#include <cstring>

status_t BPath::SetTo(const char* path, const char* leaf, bool normalize) {
  (void)normalize;  // paths are kept as given; nothing here resolves ".." or "."
  text.clear();
  if (path == nullptr || *path == '\0') {
    status = B_BAD_VALUE;
    return status;
  }
  if (leaf != nullptr && leaf[0] == '/') {
    status = B_BAD_VALUE;
    return status;
  }
  text = path;
  if (leaf != nullptr && *leaf != '\0') {
    if (text.back() != '/') text += '/';
    text += leaf;
  }
  status = B_OK;
  return status;
}

void BPath::Unset() {
  text.clear();
  status = B_NO_INIT;
}

const char* BPath::Leaf() const {
  if (status != B_OK) return nullptr;
  size_t slash = text.find_last_of('/');
  return slash == std::string::npos ? text.c_str() : text.c_str() + slash + 1;
}
