// Placement of the floating panel on the monitors: off-screen recovery and edge snapping.
#include "shell/placement.h"

#include <cstdint>
#include <cstring>

#include "config/panel_model.h"
#include "shell/host_extras.h"

namespace {

const MonitorQueries systemQueries = {MonitorFromRect, GetMonitorInfoA};
const MonitorQueries* queries = &systemQueries;

// Rectangles of positions near the ends of the int range must not wrap around.
LONG clampedToLong(int64_t value) {
    return static_cast<LONG>(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
}

// The size the panel is shown in; an empty panel counts as one pixel, so that it still lies
// on some monitor or on none.
int64_t shownSide(int32_t side) { return side > 0 ? side : 1; }

RECT panelRectAt(int32_t x, int32_t y) {
    const int64_t width = shownSide(shownPanelWidth());
    const int64_t height = shownSide(shownPanelHeight());
    return RECT{x, y, clampedToLong(x + width), clampedToLong(y + height)};
}

bool nearestWorkArea(const RECT& rect, RECT* work) {
    MONITORINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HMONITOR monitor = queries->monitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !queries->getMonitorInfo(monitor, &info)) return false;
    *work = info.rcWork;
    return true;
}

// The start of a span of `size` at `at` moved into [low, high): its end inside first, then its
// start, so that a span larger than the area shows its start.
LONG keptInside(int64_t at, int64_t size, LONG low, LONG high) {
    if (at + size > high) at = high - size;
    if (at < low) at = low;
    return clampedToLong(at);
}

bool within(int64_t a, int64_t b) { return a - b <= SNAP_DISTANCE && b - a <= SNAP_DISTANCE; }

// The start of a span of `size` at `at`, put onto an edge of [low, high) that one of its ends
// comes within the snap distance of; the start's edge wins.
LONG snappedStart(int64_t at, int64_t size, LONG low, LONG high) {
    if (within(at, low)) return low;
    if (within(at + size, high)) return clampedToLong(high - size);
    return clampedToLong(at);
}

}  // namespace

void installMonitorQueries(const MonitorQueries* replacement) { queries = replacement ? replacement : &systemQueries; }

void bringPanelOntoMonitor(HWND window) {
    const RECT at = panelRectAt(panelModel.x, panelModel.y);
    if (queries->monitorFromRect(&at, MONITOR_DEFAULTTONULL)) return;
    RECT work;
    if (!nearestWorkArea(at, &work)) return;
    // The move is followed into x and y like any other (WM_WINDOWPOSCHANGED); the rc file keeps
    // the saved place until the user writes the settings.
    const LONG x = keptInside(at.left, shownSide(shownPanelWidth()), work.left, work.right);
    const LONG y = keptInside(at.top, shownSide(shownPanelHeight()), work.top, work.bottom);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSENDCHANGING);
}

void snapDraggedPanel(WINDOWPOS* position) {
    if (position->flags & SWP_NOMOVE) return;
    if (hostExtras.snapWindowToEdge) {
        hostExtras.snapWindowToEdge(position, SNAP_DISTANCE, 0);
        return;
    }
    RECT work;
    if (!nearestWorkArea(panelRectAt(position->x, position->y), &work)) return;
    position->x = snappedStart(position->x, shownSide(shownPanelWidth()), work.left, work.right);
    position->y = snappedStart(position->y, shownSide(shownPanelHeight()), work.top, work.bottom);
}
