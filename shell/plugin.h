// The plugin's outer shell: exported entry points, the panel window and its settings.
#pragma once

#include <windows.h>

#include <cstddef>

#define KELVORA_EXPORT extern "C" __declspec(dllexport)

KELVORA_EXPORT const char* pluginInfo(int code);
KELVORA_EXPORT int beginPlugin(HINSTANCE instance);
KELVORA_EXPORT int beginSlitPlugin(HINSTANCE instance, HWND slit);
KELVORA_EXPORT int beginPluginEx(HINSTANCE instance, HWND slit);
KELVORA_EXPORT void endPlugin(HINSTANCE instance);

// Position, size, z-order and transparency from the model; a floating panel found outside
// every monitor is then brought back onto one.
void applyWindowSettings(HWND window);
// The layered attributes alone: the alpha (255 while transparency is off) and the colour key.
void applyTransparency(HWND window);
// The always-on-top band alone, the place and size left as they are.
void applyZOrder(HWND window);
// False while the panel belongs to the shell's slit: the slit places it, and the window is no
// layered one.
bool panelFloats();
LRESULT CALLBACK panelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// pluginDir (folder with its trailing separator) and rcPath (extension replaced by
// "rc") from the module path, each cut to size bytes, never overrun.
void derivePluginPaths(const char* modulePath, char* dir, char* rc, size_t size);
