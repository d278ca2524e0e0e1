// Storage of the module-wide panel model; static storage makes every field zero at load.
#include "config/panel_model.h"

PanelModel panelModel;

namespace {

// Without a desktop to measure (a service session), a panel may still be as large as a
// common screen.
constexpr int32_t FALLBACK_SCREEN_SIDE = 4096;

int32_t virtualScreenSide(int metric) {
    const int side = GetSystemMetrics(metric);
    return side > 0 ? side : FALLBACK_SCREEN_SIDE;
}

int32_t atMost(int32_t value, int32_t limit) { return value < limit ? value : limit; }

}  // namespace

int32_t shownColumnLimit() { return virtualScreenSide(SM_CXVIRTUALSCREEN); }
int32_t shownPanelWidth() { return atMost(panelModel.width, shownColumnLimit()); }
int32_t shownPanelHeight() { return atMost(panelModel.height, virtualScreenSide(SM_CYVIRTUALSCREEN)); }
