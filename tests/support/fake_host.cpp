// Recording fake of the Blackbox shell's exported functions for in-process tests.
#include "support/fake_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>

#include "host/style.h"
#include "shell/host_api.h"

namespace fakehost {

std::vector<std::string> log;
std::vector<std::string> files;

namespace {

std::map<std::string, std::string> store;
std::string lastString;  // ReadString's answer lives here until the next call
unsigned char style[HOST_STYLE_SIZE];
COLORREF styleBackground = RGB(0x40, 0x40, 0x40);
int gradients = 0;
bool hostGradients = false;
std::vector<MenuRecord> menuRecords;
int shown = -1;
HWND host = nullptr;
HWND slit = nullptr;
bool snapping = false;
POINT snapTarget = {0, 0};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const std::string* lookup(const char* key) {
    auto it = store.find(lower(key ? key : ""));
    return it == store.end() ? nullptr : &it->second;
}

void record(const std::string& line) { log.push_back(line); }

void recordFile(const char* file) { files.push_back(file ? file : "(null)"); }

std::string describeList(const UINT* list) {
    std::string text = "[";
    for (int i = 0; list; ++i) {
        text += std::to_string(list[i]);
        if (list[i] == 0) break;
        text += ",";
    }
    return text + "]";
}

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* who = window == host ? "host" : "slit";
    static WPARAM registered = 0;
    if (message == BB_REGISTERMESSAGE) {
        registered = wParam;
        record(std::string("message ") + who + " 10001 " + describeList(reinterpret_cast<const UINT*>(lParam)));
        return 0;
    }
    if (message == BB_UNREGISTERMESSAGE) {
        record(std::string("message ") + who + " 10002 " + describeList(reinterpret_cast<const UINT*>(lParam)) +
               (wParam == registered ? " of the registered window" : " of another window"));
        return 0;
    }
    if (message >= SLIT_ADD && message <= SLIT_UPDATE) {
        record(std::string("message ") + who + " " + std::to_string(message));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeRecordingWindow(const char* name) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = recordingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "FakeHostWindow";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowExA(0, "FakeHostWindow", name, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

void reset() {
    store.clear();
    log.clear();
    files.clear();
    menuRecords.clear();
    shown = -1;
    gradients = 0;
    snapping = false;
    memset(style, 0, sizeof style);
    setStyleColors(RGB(0xFF, 0xFF, 0xFF), RGB(0x40, 0x40, 0x40));
    if (!host) host = makeRecordingWindow("host");
    if (!slit) slit = makeRecordingWindow("slit");
}

void set(const std::string& key, const std::string& value) { store[lower(key)] = value; }
void erase(const std::string& key) { store.erase(lower(key)); }
std::string get(const std::string& key) {
    const std::string* v = lookup(key.c_str());
    return v ? *v : std::string();
}
bool has(const std::string& key) { return lookup(key.c_str()) != nullptr; }

HWND hostWindow() { return host; }
HWND slitWindow() { return slit; }

void setStyleColors(COLORREF text, COLORREF background) {
    memcpy(style + HOST_STYLE_TEXT_COLOR_OFFSET, &text, sizeof text);
    styleBackground = background;
}

int gradientCalls() { return gradients; }
void paintHostGradients(bool on) { hostGradients = on; }
const std::vector<MenuRecord>& menus() { return menuRecords; }
int shownMenu() { return shown; }
void snapTo(int x, int y) {
    snapping = true;
    snapTarget = POINT{x, y};
}

std::vector<std::string> logLinesStartingWith(const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : log)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

}  // namespace fakehost

using namespace fakehost;

extern "C" {

HWND GetBBWnd(void) {
    record("GetBBWnd");
    return host;
}

int ReadInt(const char* file, const char* key, int defaultValue) {
    recordFile(file);
    record(std::string("ReadInt ") + key + " " + std::to_string(defaultValue));
    const std::string* v = lookup(key);
    if (!v) return defaultValue;
    char* end = nullptr;
    long value = strtol(v->c_str(), &end, 10);
    return end == v->c_str() ? defaultValue : static_cast<int>(value);
}

bool ReadBool(const char* file, const char* key, bool defaultValue) {
    recordFile(file);
    record(std::string("ReadBool ") + key + " " + (defaultValue ? "true" : "false"));
    const std::string* v = lookup(key);
    if (v && lower(*v) == "true") return true;
    if (v && lower(*v) == "false") return false;
    return defaultValue;
}

static bool parseColor(const char* text, COLORREF* out) {
    unsigned r, g, b;
    if (!text || strlen(text) != 7 || text[0] != '#' || sscanf(text + 1, "%2x%2x%2x", &r, &g, &b) != 3) return false;
    *out = RGB(r, g, b);
    return true;
}

COLORREF ReadColor(const char* file, const char* key, const char* defaultColor) {
    recordFile(file);
    record(std::string("ReadColor ") + key + " " + (defaultColor ? defaultColor : "(null)"));
    COLORREF colour = 0;
    const std::string* v = lookup(key);
    if (v && parseColor(v->c_str(), &colour)) return colour;
    parseColor(defaultColor, &colour);
    return colour;
}

const char* ReadString(const char* file, const char* key, const char* defaultText) {
    recordFile(file);
    record(std::string("ReadString ") + key + " " + (defaultText ? "\"" + std::string(defaultText) + "\"" : "(null)"));
    const std::string* v = lookup(key);
    if (!v) return defaultText;
    lastString = *v;
    return lastString.c_str();
}

void WriteInt(const char* file, const char* key, int value) {
    recordFile(file);
    record(std::string("WriteInt ") + key + " " + std::to_string(value));
    store[lower(key)] = std::to_string(value);
}

__declspec(dllexport) void WriteBool(const char* file, const char* key, bool value) {
    recordFile(file);
    record(std::string("WriteBool ") + key + " " + (value ? "true" : "false"));
    store[lower(key)] = value ? "true" : "false";
}

__declspec(dllexport) void WriteString(const char* file, const char* key, const char* value) {
    recordFile(file);
    record(std::string("WriteString ") + key + " " + (value ? value : "(null)"));
    store[lower(key)] = value ? value : "";
}

void* GetSettingPtr(int index) {
    record("GetSettingPtr " + std::to_string(index));
    return style;
}

HFONT CreateStyleFont(void* record_) {
    record(record_ == style ? "CreateStyleFont style" : "CreateStyleFont other");
    return CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0, "Tahoma");
}

void MakeStyleGradient(HDC dc, RECT* rect, void* styleRecord, bool withBorder) {
    ++gradients;
    char line[128];
    snprintf(line, sizeof line, "MakeStyleGradient %ld %ld %ld %ld %d", rect->left, rect->top, rect->right,
             rect->bottom, withBorder ? 1 : 0);
    record(line);
    (void)styleRecord;
    if (hostGradients) {
        // The stand-in shell's own painting of its default style, a fill a row.
        static hoststyle::Record record;
        hoststyle::setDefaults(record);
        hoststyle::paintGradient(dc, *rect, record.bytes, withBorder);
        return;
    }
    HBRUSH brush = CreateSolidBrush(styleBackground);
    FillRect(dc, rect, brush);
    DeleteObject(brush);
}

void MakeSticky(HWND) { record("MakeSticky"); }

HostMenu* MakeNamedMenu(const char* title, const char* id, bool popup) {
    record(std::string("MakeNamedMenu ") + title + " " + id + " " + (popup ? "1" : "0"));
    menuRecords.push_back(MenuRecord{title, id, {}});
    return reinterpret_cast<HostMenu*>(static_cast<intptr_t>(menuRecords.size()));
}

static MenuRecord* menuOf(HostMenu* menu) {
    intptr_t index = reinterpret_cast<intptr_t>(menu) - 1;
    return index >= 0 && index < static_cast<intptr_t>(menuRecords.size()) ? &menuRecords[index] : nullptr;
}

HostMenuItem* MakeMenuItem(HostMenu* menu, const char* label, const char* command, bool checked) {
    MenuRecord* m = menuOf(menu);
    record(std::string("MakeMenuItem ") + (m ? m->title : "?") + " " + label + " " + command + " " +
           (checked ? "1" : "0"));
    if (m) m->items.push_back(MenuItemRecord{label, command, -1});
    return nullptr;
}

__declspec(dllexport) HostMenuItem* MakeMenuItemInt(HostMenu* menu, const char* label, const char* command, int value,
                                                   int minimum, int maximum) {
    MenuRecord* m = menuOf(menu);
    record(std::string("MakeMenuItemInt ") + (m ? m->title : "?") + " " + label + " " + command + " " +
           std::to_string(value) + " " + std::to_string(minimum) + " " + std::to_string(maximum));
    if (m) m->items.push_back(MenuItemRecord{label, command, -1});
    return nullptr;
}

HostMenuItem* MakeSubmenu(HostMenu* parent, HostMenu* child, const char* title) {
    MenuRecord* p = menuOf(parent);
    MenuRecord* c = menuOf(child);
    record(std::string("MakeSubmenu ") + (p ? p->title : "?") + " " + (c ? c->title : "?") + " " + title);
    if (p) p->items.push_back(MenuItemRecord{title, "", static_cast<int>(reinterpret_cast<intptr_t>(child) - 1)});
    return nullptr;
}

void ShowMenu(HostMenu* menu) {
    MenuRecord* m = menuOf(menu);
    record(std::string("ShowMenu ") + (m ? m->title : "?"));
    shown = static_cast<int>(reinterpret_cast<intptr_t>(menu) - 1);
}

__declspec(dllexport) bool SnapWindowToEdge(WINDOWPOS* position, LPARAM distance, UINT flags) {
    record("SnapWindowToEdge " + std::to_string(distance) + " " + std::to_string(flags));
    if (!snapping) return false;
    position->x = snapTarget.x;
    position->y = snapTarget.y;
    return true;
}

void GetBlackboxEditor(char* editorPath) {
    record("GetBlackboxEditor");
    snprintf(editorPath, MAX_PATH, "%s", "C:\\windows\\notepad.exe");
}

BOOL BBExecute(HWND owner, const char* verb, const char* file, const char* args, const char* directory,
                    int showCommand, bool noErrorBoxes) {
    char line[700];
    snprintf(line, sizeof line, "BBExecute %lld %s %s %s %s %d %d", static_cast<long long>(reinterpret_cast<intptr_t>(owner)),
             verb ? verb : "(null)", file ? file : "(null)", args ? args : "(null)", directory ? directory : "(null)",
             showCommand, noErrorBoxes ? 1 : 0);
    record(line);
    return FALSE;
}

}  // extern "C"

// The exported fakes have the types the plugin calls them by.
static_assert(std::is_same<decltype(&WriteBool), WriteBoolFn>::value, "WriteBool");
static_assert(std::is_same<decltype(&WriteString), WriteStringFn>::value, "WriteString");
static_assert(std::is_same<decltype(&MakeMenuItemInt), MakeMenuItemIntFn>::value, "MakeMenuItemInt");
static_assert(std::is_same<decltype(&SnapWindowToEdge), SnapWindowToEdgeFn>::value, "SnapWindowToEdge");
