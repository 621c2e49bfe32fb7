#include <platform/interface_host.h>

#include <atomic>

namespace {
std::atomic<uint32> currentModifiers{0};
}

uint32 modifiers() { return currentModifiers.load(std::memory_order_relaxed); }
void tw_set_modifiers(uint32 keys) { currentModifiers.store(keys, std::memory_order_relaxed); }
