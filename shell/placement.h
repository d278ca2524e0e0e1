// Where a floating panel stands: brought back onto a monitor when it lies outside all of them,
// and snapped to the edges of its monitor's work area while it is dragged.
#pragma once

#include <windows.h>

// The monitor queries behind both, as a seam: tests lay out monitors the test machine lacks.
struct MonitorQueries {
    HMONITOR(WINAPI* monitorFromRect)(LPCRECT rect, DWORD flags);
    BOOL(WINAPI* getMonitorInfo)(HMONITOR monitor, LPMONITORINFO info);
};
// Makes placement use `queries` (kept by pointer) from now on; null restores the system's.
void installMonitorQueries(const MonitorQueries* queries);

// A panel lying entirely outside every monitor moves onto the work area of the nearest one,
// whole where it fits; a panel on any monitor, even partly, stays where it is.
void bringPanelOntoMonitor(HWND window);

// How near an edge the plugin's own snapping takes a dragged panel onto it; also the distance
// it hands the shell's snapping, which keeps its own.
constexpr int SNAP_DISTANCE = 10;
// From WM_WINDOWPOSCHANGING of a panel being dragged: the shell's SnapWindowToEdge where it has
// one, else the plugin's own snapping to the work area of the panel's monitor.
void snapDraggedPanel(WINDOWPOS* position);
