// The functions and window messages the Blackbox shell offers a plugin.
// Declared without dllimport so the same code links against the real shell's
// import library (built from blackbox.def) or against a fake host in tests.
#pragma once

#include <windows.h>

// Messages exchanged with the shell and its slit.
enum HostMessage : UINT {
    BB_REGISTERMESSAGE = 10001,  // plugin -> shell: wParam window, lParam zero-terminated UINT list
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
