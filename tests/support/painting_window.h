// A visible pop-up window of the panel model's size whose paints go to paintPanel, for the
// painter's tests and benchmark rows.
#pragma once

#include <windows.h>

HWND createPaintingPanelWindow();
