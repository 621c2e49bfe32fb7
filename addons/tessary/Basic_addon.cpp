#include "Basic_addon.h"

extern "C" CFilter* filterInit(int32 index) noexcept { return index == 0 ? new_filter<CTessary>() : nullptr; }
