#include "Basic_addon.h"

extern "C" CFilter* filterInit(int32 index) { return index == 0 ? new CTessary : nullptr; }
