// Screenshots of the panel: the window's pixels as they are on screen, saved as PNG.
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/png.h"
#include "host/rc_files.h"

namespace host {

bool savePanelPng(HWND window, const char* path, std::string* error) {
    if (!window || !IsWindow(window)) {
        *error = "no panel window";
        return false;
    }
    // Pending paints first, so the picture shows the latest values.
    UpdateWindow(window);
    GdiFlush();
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        *error = "the panel has no area";
        return false;
    }
    // An rc file may ask for a panel of 2^31 pixels a side; no screen shows more than this,
    // and copying such a window ties Wine up for minutes.
    const int largest = 16384;
    if (width > largest || height > largest) {
        *error = "the panel is " + std::to_string(width) + "x" + std::to_string(height) + ", larger than any screen";
        return false;
    }
    // The window's own device context reads what the window shows, also where other
    // windows or the screen edge would cut a copy from the screen.
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
    }
    std::vector<uint32_t> pixels;
    if (ok) {
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        pixels.assign(p, p + static_cast<size_t>(width) * height);
        for (uint32_t& v : pixels) v &= 0x00FFFFFF;
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
    if (!ok) {
        *error = "cannot copy the panel's pixels";
        return false;
    }
    if (!hostrc::replaceWholeFile(path, hostpng::encodePng(width, height, pixels), error)) return false;
    std::string docked;
    if (HWND parent = GetParent(window)) {
        // A child's place inside its parent, and the parent's size: where a slot is kept.
        POINT inside = {r.left, r.top};
        ScreenToClient(parent, &inside);
        RECT outer;
        GetWindowRect(parent, &outer);
        docked = " in " + windowName(parent) + " at " + std::to_string(inside.x) + "," + std::to_string(inside.y) +
                 ", " + windowName(parent) + " " + std::to_string(outer.right - outer.left) + "x" +
                 std::to_string(outer.bottom - outer.top);
    }
    logLine("screenshot %s %dx%d at %ld,%ld%s", quoted(path).c_str(), width, height, r.left, r.top, docked.c_str());
    return true;
}

}  // namespace host
