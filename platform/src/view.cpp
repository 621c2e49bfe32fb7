#include <platform/interface.h>

BView::BView(BRect f, const char* n, uint32 mode, uint32 fl)
    : frame(f), name(n ? n : ""), resizingMode(mode), flags(fl) {}

BView::~BView() = default;
