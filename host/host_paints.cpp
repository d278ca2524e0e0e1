// Paint counting of the stand-in host: the plugin's paints (EndPaint), and its drawing calls
// (copies that do not go to a window, lines, rectangles, fills and icons), seen through its
// imports. Drawing shown in a window by a copy into the window's context, in a paint or not, is
// a render; the clock step logs the counts.
#include "host/host.h"
#include "host/import_patch.h"

namespace host {

namespace {

unsigned long paints = 0, renders = 0, drawingCalls = 0;
bool drewSinceShown = false;

void drew() {
    ++drawingCalls;
    drewSinceShown = true;
}

typedef BOOL(WINAPI* EndPaintFn)(HWND, const PAINTSTRUCT*);
typedef BOOL(WINAPI* BitBltFn)(HDC, int, int, int, int, HDC, int, int, DWORD);
typedef BOOL(WINAPI* DrawStateFn)(HDC, HBRUSH, DRAWSTATEPROC, LPARAM, WPARAM, int, int, int, int, UINT);
typedef BOOL(WINAPI* PolyPolylineFn)(HDC, const POINT*, const DWORD*, DWORD);
typedef BOOL(WINAPI* RectangleFn)(HDC, int, int, int, int);
typedef int(WINAPI* FillRectFn)(HDC, const RECT*, HBRUSH);
EndPaintFn realEndPaint;
BitBltFn realBitBlt;
DrawStateFn realDrawState;
PolyPolylineFn realPolyPolyline;
RectangleFn realRectangle;
FillRectFn realFillRect;

BOOL WINAPI countingEndPaint(HWND w, const PAINTSTRUCT* p) {
    ++paints;
    return realEndPaint(w, p);
}
// A copy into a window's context shows what was drawn since the last one: a render when there was any.
BOOL WINAPI countingBitBlt(HDC d, int x, int y, int w, int h, HDC from, int fx, int fy, DWORD op) {
    if (WindowFromDC(d)) {
        if (drewSinceShown) ++renders;
        drewSinceShown = false;
    } else {
        drew();
    }
    return realBitBlt(d, x, y, w, h, from, fx, fy, op);
}
BOOL WINAPI countingDrawState(HDC d, HBRUSH b, DRAWSTATEPROC p, LPARAM l, WPARAM w, int x, int y, int cx, int cy, UINT f) {
    drew();
    return realDrawState(d, b, p, l, w, x, y, cx, cy, f);
}
BOOL WINAPI countingPolyPolyline(HDC d, const POINT* p, const DWORD* c, DWORD n) {
    drew();
    return realPolyPolyline(d, p, c, n);
}
BOOL WINAPI countingRectangle(HDC d, int l, int t, int r, int b) {
    drew();
    return realRectangle(d, l, t, r, b);
}
int WINAPI countingFillRect(HDC d, const RECT* r, HBRUSH b) {
    drew();
    return realFillRect(d, r, b);
}

template <typename Fn>
void count(HMODULE plugin, const char* dll, const char* name, Fn* real, Fn counting) {
    *real = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name)));
    importpatch::patchImport(plugin, dll, name, reinterpret_cast<void*>(*real), reinterpret_cast<void*>(counting));
}

}  // namespace

void installPaintCounter(HMODULE plugin) {
    count(plugin, "user32.dll", "EndPaint", &realEndPaint, countingEndPaint);
    count(plugin, "user32.dll", "DrawStateA", &realDrawState, countingDrawState);
    count(plugin, "user32.dll", "FillRect", &realFillRect, countingFillRect);
    count(plugin, "gdi32.dll", "PolyPolyline", &realPolyPolyline, countingPolyPolyline);
    count(plugin, "gdi32.dll", "Rectangle", &realRectangle, countingRectangle);
    count(plugin, "gdi32.dll", "BitBlt", &realBitBlt, countingBitBlt);
}

void paintCounts(unsigned long* paintCount, unsigned long* renderCount, unsigned long* callCount) {
    *paintCount = paints;
    *renderCount = renders;
    *callCount = drawingCalls;
}

}  // namespace host
