// Shared state of the stand-in host's running parts: log, windows, registrations,
// menus, message boxes, screenshots and the script runner.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/script.h"
#include "shell/host_api.h"

namespace host {

// Private messages of the host's main window.
constexpr UINT WM_HOST_BROADCAST = WM_APP + 1;  // deliver the next queued broadcast
constexpr UINT WM_HOST_STOP = WM_APP + 2;       // end the message loop
constexpr UINT_PTR TIMER_SCRIPT = 1;
constexpr UINT_PTR TIMER_MENU_PICK = 2;
constexpr UINT_PTR TIMER_STOP_AFTER = 3;

// --- log (host_log.cpp) ---
bool openLog(const char* path);
void closeLog();
bool logging();
void logLine(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
// "host", "slit", "panel", "0" or the handle in hex.
std::string windowName(HWND window);
void nameWindow(HWND window, const char* name);
void forgetWindowName(HWND window);
// While muted, logLine writes nothing.
void muteLog(bool mute);
// The text in double quotes, or null.
std::string quoted(const char* text);

// --- settings reads (host_exports.cpp) ---
// With it on, each Read* log line is followed by an "rc" line naming the rc line that
// answered it, its text, and whether the reader took that text or fell back to the default.
void explainReads(bool on);

// --- style (host_exports.cpp) ---
// The record that GetSettingPtr(1) returns.
unsigned char* styleRecord();

// --- windows and messages (host_windows.cpp) ---
bool createHostWindows(HINSTANCE instance);
HWND mainWindow();
HWND slitWindow();
// The plugin's panel: the first window registered with 10001, else the first sticky one.
HWND panelWindow();
void recordSticky(HWND window);
void deliverReconfigure();
void deliverBroadcast(const char* text);
// Queues a broadcast for the main loop (used where delivering at once would re-enter the plugin).
void queueBroadcast(const std::string& text);
bool broadcastsPending();
void requestStop(const char* reason);
// The windows registered with 10001 and not yet let go with 10002, as a shell keeps them.
int registrationCount();
// Shows the slit window; for the slit start kinds.
void showSlit();
// SnapWindowToEdge's work: a position within the host's snap distance of an edge of the work
// area of its monitor goes onto that edge. False when nothing moved.
bool snapToWorkArea(WINDOWPOS* position);

// --- menus (host_menus.cpp) ---
void showHostMenu(HostMenu* menu);
// Arms the next shown menu to pick the entry with this label; a number item is then set to
// number (kept within its range), or left at its value when there is none.
void armMenuPick(const std::string& label, const int* number = nullptr);
void onMenuPickTimer();
int menusShown();
bool menuOpen();

// --- message boxes (host_boxes.cpp) ---
// Records every message box of this thread and dismisses it; also points the plugin's
// import of MessageBoxA at a recorder so the style of the call itself is known.
void installBoxRecorder(HMODULE plugin);

// --- drawn texts (host_texts.cpp) ---
// Logs every DrawTextA call of the plugin with its text and rectangle (--log-texts).
void installTextRecorder(HMODULE plugin);

// --- interface tables (host_net.cpp) ---
// Feeds the plugin the interfaces of FILE from now on (--net-table and the net-table step): one a
// line, fields id=, alias="...", description="...", type=, up=, hardware=, filter=, speed= (bits a
// second), in=, out= (counters at the load) and in-rate=, out-rate= (bytes a second after it).
// An interface that the table fed before has too goes on from its counters, at the new rates.
// Addresses and routes: ipv4=, ipv6=, ipv6-temporary= and ipv6-deprecated= (lists with commas,
// each address with an optional /prefix), gateway= and gateway6= (a default route of the family
// leaves by the interface) and metric= (the lowest wins).
bool loadNetTable(const char* file, std::string* error);
// Points the plugin's imports of GetIfTable, GetAdaptersAddresses and GetBestInterface at the
// host's, which answer from the fed table.
void installNetTableFeed(HMODULE plugin);
// The host's GetIfTable2, FreeMibTable and GetBestInterfaceEx for the plugin's run-time lookups of
// those names (null for other names, or where the system lacks them).
FARPROC netTableLookup(const char* name);
// Logs the interface table the plugin sees (the fed one, else the system's), a line each.
void logInterfaces();
// The fields of a table line ("key=value", a value in double quotes may hold blanks) and their
// numbers (decimal, or hexadecimal after 0x), for the fed tables.
bool nextTableField(const std::string& line, size_t* at, std::string* key, std::string* value);
bool parseTableNumber(const std::string& text, uint64_t* value);
// The lines of a fed table's file that carry a row: LF or CRLF ends, blank lines and lines that
// start with '#' left out. False, with an error naming the table, when the file cannot be read.
bool readTableLines(const char* file, const char* table, std::vector<std::string>* lines, std::string* error);

// --- performance data of physical disks (host_disks.cpp) ---
// Feeds the plugin a physical-disk object of FILE in its performance-data queries from now on
// (--disk-table and the disk-table step): one disk a line, fields name="..." (the instance name,
// "0 C:"), read=, write= (byte counters at the load) and read-rate=, write-rate= (bytes a second
// after it); the object's _Total instance sums them. A disk that the table fed before goes on
// from its counters, at the new rates.
bool loadDiskTable(const char* file, std::string* error);
// Answers a performance-data query of the plugin for the physical-disk object ("234") with the
// fed object; false, leaving the query to the system, when nothing is fed or another object is asked.
bool answerDiskQuery(const char* valueName, LPBYTE data, LPDWORD size, LONG* answer);
// Logs the physical disks of the performance data the plugin sees (the fed ones, else the
// system's), a line each.
void logDisks();

// --- volumes (host_volumes.cpp) ---
// Points the plugin's import of GetDiskFreeSpaceExA at the host's, which blocks for a hanging path.
void installVolumeFeed(HMODULE plugin);
// From now on a free-space query of a path that starts with `path` (without case) blocks until
// releaseVolumes.
void hangVolume(const char* path);
void releaseVolumes();

// --- processors (host_cores.cpp) ---
// Feeds the plugin the processors of FILE from now on (--core-table and the core-table step):
// one logical processor a line, fields load= (busy percent, 0 to 100) and group= (0 by default),
// the processors of each group in order. A processor that the table fed before at the same place
// goes on from its times, at its new load. The processor counts, the per-processor times and the
// times of all processors (GetSystemTimes) then come from the fed processors.
bool loadCoreTable(const char* file, std::string* error);
// The host's answer to the plugin's run-time lookup of NtQuerySystemInformation,
// NtQuerySystemInformationEx, GetActiveProcessorGroupCount and GetSystemTimes: each hands the
// call to the system until a table is fed. Null for other names, and where the system lacks the
// function.
FARPROC coreTableLookup(const char* name);

// --- graphics adapters (host_gpus.cpp) ---
// Feeds the plugin the graphics adapters of FILE from now on (--gpu-table and the gpu-table step):
// a line `adapter luid=N name="..."`, then its engines, `engine load=N name="..."` (percent of the
// time it runs; a name as Windows 10 reports it, none by default), and its memory segments,
// `segment committed=N size=N aperture=0|1` (aperture: shared memory). An engine that the table
// fed before, at the same place of the same adapter, goes on from its running time.
bool loadGpuTable(const char* file, std::string* error);
// The host's D3DKMTEnumAdapters2, D3DKMTQueryStatistics, D3DKMTQueryAdapterInfo and
// D3DKMTCloseAdapter for the plugin's run-time lookups (null for other names). Until a table is
// fed they answer that they are not implemented.
FARPROC gpuTableLookup(const char* name);
// Adapter handles the host's list gave out and the plugin has not closed.
long gpuAdaptersOpen();
// Logs the adapters fed to the plugin, a line each; without a table, that none is fed (Wine's
// gdi32 reports no engine).
void logGpus();

// --- paints of the plugin (host_paints.cpp) ---
void installPaintCounter(HMODULE plugin);
// Paints, the renders among them and the drawing calls, since the host started.
void paintCounts(unsigned long* paints, unsigned long* renders, unsigned long* drawingCalls);

// --- timers of the plugin (host_timers.cpp) ---
// Records the plugin's thread timers (SetTimer and KillTimer without a window) and counts
// its performance-data queries.
void installTimerRecorder(HMODULE plugin);
void forgetPluginTimers();
// Runs the procedure of every recorded timer once, as a tick would; answers how many ran.
int tickPluginTimers();
// How many times the plugin has read HKEY_PERFORMANCE_DATA since the host started.
unsigned long performanceDataQueries();

// --- the plugin's life (main.cpp) ---
// endPlugin and start again; with reloadModule the module is also unloaded and loaded in
// between, as a shell does when the plugin is switched off and on. False when the new start
// failed.
bool restartPlugin(bool reloadModule);
// endPlugin and FreeLibrary, as a shell does when the plugin is switched off; answers how long
// endPlugin took in milliseconds.
unsigned long unloadPluginNow();

// --- screenshots (host_screenshot.cpp) ---
bool savePanelPng(HWND window, const char* path, std::string* error);

// --- editor (host_editor.cpp) ---
void setEditor(const std::string& path);
std::string editorPath();

// --- script (host_script_runner.cpp) ---
void startScript(const hostscript::Script& script);
void onScriptTimer();

}  // namespace host
