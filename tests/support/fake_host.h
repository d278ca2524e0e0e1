// Recording fake of the Blackbox shell for in-process tests: every host function
// works over an in-memory rc store and appends one line per call to a log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fakehost {

// Log lines: "ReadInt Kelvora.x: 100", "WriteInt Kelvora.x: 250", "WriteBool Kelvora.x: true",
// "WriteString Kelvora.cpu.measure: utility",
// "MakeSticky", "MakeNamedMenu Kelvora Kelvora_IDMain 1", "message host 10001 [10103,10901,0]",
// "message slit 11001", "SnapWindowToEdge 10 0". Texts stand as they are, separated by one blank.
// The shell functions that a plugin looks up at run time are exported from the test program,
// where the plugin's lookup finds them.
extern std::vector<std::string> log;
// Every file name the settings functions were given.
extern std::vector<std::string> files;

// Clears the rc store, the log, the menus and the style; creates the host window.
void reset();
void set(const std::string& key, const std::string& value);
void erase(const std::string& key);
// The value stored under key, or "" when absent.
std::string get(const std::string& key);
bool has(const std::string& key);

HWND hostWindow();
// A real window that records the slit messages it receives.
HWND slitWindow();

// Text colour and background colour the fake style uses.
void setStyleColors(COLORREF text, COLORREF background);
int gradientCalls();
// MakeStyleGradient paints as the stand-in shell does (a fill for each row of its default
// vertical gradient) instead of one fill: for the benchmark's profile of a rendering.
void paintHostGradients(bool on);

struct MenuItemRecord {
    std::string label;
    std::string command;  // empty for a submenu entry
    int submenu;          // index into menus(), or -1
};
struct MenuRecord {
    std::string title;
    std::string id;
    std::vector<MenuItemRecord> items;
};
const std::vector<MenuRecord>& menus();
// Index of the menu last given to ShowMenu, or -1.
int shownMenu();

// Where SnapWindowToEdge puts the position it is given, as a shell with its own snap distance
// would decide; until this is called it leaves the position as it is.
void snapTo(int x, int y);

// Lines of the log that start with prefix.
std::vector<std::string> logLinesStartingWith(const std::string& prefix);

}  // namespace fakehost
