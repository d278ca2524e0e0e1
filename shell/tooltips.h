// The panel's tooltip control: one tool for each shown part, whose text is built only when the
// control asks for it. comctl32 is loaded only while tooltips are on.
#pragma once

#include <windows.h>

// Makes the control when tooltips are on and there is none, destroys it when they are off, and
// gives every shown part a tool over its area: at the start, at each reload and apply, and when
// the menu switches tooltips. Never per tick.
void layoutTooltips(HWND panel);
// Destroys the control and stops what its shown text needed; for the stop.
void destroyTooltips();
// Hands a mouse message of the panel to the control, which tells from them when to show a tip.
void relayToTooltip(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);
// Answers a WM_NOTIFY of the control asking for a tool's text; false for any other notification.
bool answerTooltip(const NMHDR* header, LRESULT* result);
// The control, or null when there is none.
HWND tooltipWindow();
