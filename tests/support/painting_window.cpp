// The painter's own window, without the plugin's window procedure around it.
#include "support/painting_window.h"

#include "config/panel_model.h"
#include "render/painter.h"

namespace {

LRESULT CALLBACK paintingPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        paintPanel(window);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

const char* const CLASS_NAME = "KelvoraPaintingPanel";

}  // namespace

HWND createPaintingPanelWindow() {
    WNDCLASSA wc = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), CLASS_NAME, &wc)) {
        // The plugin's class style: a window without a context of its own would pay, at every
        // showing of the changes, for a context from the shared cache that the panel never uses.
        wc.style = PANEL_CLASS_STYLE;
        wc.lpfnWndProc = paintingPanelProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = CLASS_NAME;
        RegisterClassA(&wc);
    }
    return CreateWindowExA(WS_EX_TOPMOST, CLASS_NAME, "", WS_POPUP | WS_VISIBLE, 0, 0, shownPanelWidth(),
                           shownPanelHeight(), nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}
