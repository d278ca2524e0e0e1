// Broadcast commands delivered as message 10901, and the right-click plugin menu.
#pragma once

#include <windows.h>

void handleBroadcastCommand(HWND window, const char* text);
void showPluginMenu();
