// The functions and window messages the Blackbox shell offers a plugin.
// Declared without dllimport so the same code links against the real shell's
// import library (built from blackbox.def) or against a fake host in tests.
#pragma once

#include <windows.h>

// Messages exchanged with the shell and its slit.
enum HostMessage : UINT {
    BB_REGISTERMESSAGE = 10001,  // plugin -> shell: wParam window, lParam zero-terminated UINT list
    BB_UNREGISTERMESSAGE = 10002,  // plugin -> shell: the same window and list, at the window's end
    BB_RECONFIGURE = 10103,      // shell -> plugin: re-read settings
    BB_BROADCAST = 10901,        // shell -> plugin: lParam points to the command text
    SLIT_ADD = 11001,            // plugin -> slit: lParam panel window
    SLIT_REMOVE = 11002,         // plugin -> slit: lParam panel window
    SLIT_UPDATE = 11003,         // plugin -> slit: lParam panel window
};

// Size of the style record that GetSettingPtr(1) returns; the plugin copies it whole.
constexpr int HOST_STYLE_SIZE = 300;
// Byte offset of the text colour (a COLORREF) inside that record.
constexpr int HOST_STYLE_TEXT_COLOR_OFFSET = 24;

struct HostMenu;      // opaque: owned by the shell
struct HostMenuItem;  // opaque: owned by the shell

extern "C" {
HWND GetBBWnd(void);

int ReadInt(const char* file, const char* key, int defaultValue);
bool ReadBool(const char* file, const char* key, bool defaultValue);
COLORREF ReadColor(const char* file, const char* key, const char* defaultColor);
// Returns the stored text, or defaultText itself (possibly null) when the key is
// absent. The text is only valid until the next call into the shell.
const char* ReadString(const char* file, const char* key, const char* defaultText);
void WriteInt(const char* file, const char* key, int value);

void* GetSettingPtr(int index);
HFONT CreateStyleFont(void* style);
void MakeStyleGradient(HDC dc, RECT* rect, void* style, bool withBorder);

void MakeSticky(HWND window);

HostMenu* MakeNamedMenu(const char* title, const char* id, bool popup);
HostMenuItem* MakeMenuItem(HostMenu* menu, const char* label, const char* command, bool checked);
HostMenuItem* MakeSubmenu(HostMenu* parent, HostMenu* child, const char* title);
void ShowMenu(HostMenu* menu);

void GetBlackboxEditor(char* editorPath);
BOOL BBExecute(HWND owner, const char* verb, const char* file, const char* args, const char* directory,
               int showCommand, bool noErrorBoxes);
}

// Functions that the shells offer beyond those above. The plugin looks them up in the shell's
// module at run time, so that it still loads in a shell without them: they are never in
// blackbox.def, and a shell that has them exports them under these names.
typedef void (*WriteBoolFn)(const char* file, const char* key, bool value);
typedef void (*WriteStringFn)(const char* file, const char* key, const char* value);
// A number item: the shell shows value and lets the user set a number from minimum to maximum,
// which it broadcasts as the command text, one blank and the number.
typedef HostMenuItem* (*MakeMenuItemIntFn)(HostMenu* menu, const char* label, const char* command, int value,
                                           int minimum, int maximum);
// Called from WM_WINDOWPOSCHANGING of a window being dragged: moves the position onto the edges
// of the work area of the window's monitor when it comes near them. The shell keeps its own
// snap distance; what it answers is of no use to a plugin.
typedef bool (*SnapWindowToEdgeFn)(WINDOWPOS* position, LPARAM distance, UINT flags);
