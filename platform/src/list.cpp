#include <platform/support.h>

#include <cstdlib>
#include <cstring>

BList::BList(int32 size) : blockSize(size > 0 ? size : 20) {}

BList::~BList() { std::free(items); }

// Capacity grows by whole blocks, so appending n items reallocates about
// n / blockSize times.
bool BList::reserve(int32 wanted) {
  if (wanted <= capacity) return true;
  const int64 blocks = (int64(wanted) + blockSize - 1) / blockSize;
  const int64 newCapacity = blocks * blockSize;
  if (newCapacity > INT32_MAX / int64(sizeof(void*))) return false;
  void** grown = static_cast<void**>(std::realloc(items, size_t(newCapacity) * sizeof(void*)));
  if (grown == nullptr) return false;
  items = grown;
  capacity = int32(newCapacity);
  return true;
}

bool BList::AddItem(void* item) { return AddItem(item, count); }

bool BList::AddItem(void* item, int32 index) {
  if (index < 0 || index > count) return false;
  if (count == INT32_MAX || !reserve(count + 1)) return false;
  std::memmove(items + index + 1, items + index, size_t(count - index) * sizeof(void*));
  items[index] = item;
  ++count;
  return true;
}

void* BList::RemoveItem(int32 index) {
  if (index < 0 || index >= count) return nullptr;
  void* item = items[index];
  std::memmove(items + index, items + index + 1, size_t(count - index - 1) * sizeof(void*));
  --count;
  return item;
}

void* BList::ItemAt(int32 index) const { return index >= 0 && index < count ? items[index] : nullptr; }

void BList::MakeEmpty() {
  std::free(items);
  items = nullptr;
  count = capacity = 0;
}
