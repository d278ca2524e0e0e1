// The panel painter: renders the panel model into a cached off-screen bitmap and
// copies the invalid part of it to the panel window.
#pragma once

#include <windows.h>

// Answers WM_PAINT of the panel window: renders backBuffer when there is none,
// then copies the paint rectangle of it to the window.
void paintPanel(HWND window);
// Drops the cached rendering and asks for a repaint of the whole panel (no erase).
void invalidatePanel();
// Deletes a backBuffer that still exists; for teardown.
void releaseBackBuffer();
