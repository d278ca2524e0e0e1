// A shown panel window with its renderings made, so that a sampler's changes are rendered in
// part and its requests for repaints can be seen.
#pragma once

#include <windows.h>

#include "config/panel_model.h"
#include "doctest.h"
#include "render/painter.h"
#include "support/painting_window.h"

struct ShownPanel {
    HWND window = createPaintingPanelWindow();
    ShownPanel() {
        panelModel.panelWindow = window;
        UpdateWindow(window);
        REQUIRE(panelModel.backBuffer != nullptr);
    }
    ~ShownPanel() {
        releaseBackBuffer();
        panelModel.panelWindow = nullptr;
        DestroyWindow(window);
    }
    ShownPanel(const ShownPanel&) = delete;
    ShownPanel& operator=(const ShownPanel&) = delete;
};
