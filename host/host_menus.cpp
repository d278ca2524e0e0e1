// Menus of the stand-in host: the plugin builds them through the host, the host shows
// them as real popup menus, and a chosen entry comes back to the plugin as a broadcast
// of its command text. A script can pick an entry by its label through the real menu.
#include "host/host_menus.h"

#include <algorithm>
#include <cstring>

#include "host/host.h"

namespace host {

namespace {

std::vector<std::unique_ptr<HostMenu>> menus;  // every menu made and not yet shown
int menusMade = 0;
int shownCount = 0;
bool openNow = false;

// A pick armed by the script, and its progress while the menu is open.
struct Pick {
    bool armed = false;
    bool active = false;
    bool cancel = false;  // the label is not in the menu: close it as a person would
    std::string label;
    bool hasNumber = false;
    int number = 0;
    std::vector<int> path;    // item positions from the shown menu down to the entry
    std::vector<HMENU> handles;  // the popup menus along that path
    int keys = 0;
};
Pick pick;

struct Built {
    HMENU handle;
    std::vector<const HostMenuItem*> entries;  // the entry of identifier i+1
};

// A number item shows its value beside the label, where a shell shows its slider.
std::string shownText(const HostMenuItem& item) {
    return item.number ? item.label + "\t" + std::to_string(item.value) : item.label;
}

HMENU buildPopup(const HostMenu* menu, Built& built, int depth) {
    HMENU handle = CreatePopupMenu();
    for (const auto& item : menu->items) {
        if (item->submenu && depth < 8) {
            AppendMenuA(handle, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(buildPopup(item->submenu, built, depth + 1)),
                        item->label.c_str());
        } else {
            built.entries.push_back(item.get());
            UINT flags = MF_STRING | (item->checked ? MF_CHECKED : 0);
            AppendMenuA(handle, flags, built.entries.size(), shownText(*item).c_str());
        }
    }
    return handle;
}

// What choosing the entry broadcasts: a number item's command carries the number set.
std::string chosenCommand(const HostMenuItem& item, const int* number) {
    if (!item.number) return item.command;
    int set = number ? *number : item.value;
    set = std::max(item.minimum, std::min(item.maximum, set));
    return item.command + " " + std::to_string(set);
}

// Depth-first search for the first entry labelled label; fills the position path.
bool findLabel(const HostMenu* menu, const std::string& label, std::vector<int>& path, int depth) {
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const HostMenuItem& item = *menu->items[i];
        path.push_back(static_cast<int>(i));
        if (item.submenu ? depth < 8 && findLabel(item.submenu, label, path, depth + 1) : item.label == label)
            return true;
        path.pop_back();
    }
    return false;
}

void collectTree(HostMenu* menu, std::vector<HostMenu*>& tree, int depth) {
    if (!menu || depth > 8 || std::find(tree.begin(), tree.end(), menu) != tree.end()) return;
    tree.push_back(menu);
    for (const auto& item : menu->items) collectTree(item->submenu, tree, depth + 1);
}

// The shown menu and its submenus belong to the host and go once the menu has closed.
void releaseTree(HostMenu* root) {
    std::vector<HostMenu*> tree;
    collectTree(root, tree, 0);
    menus.erase(std::remove_if(menus.begin(), menus.end(),
                               [&](const std::unique_ptr<HostMenu>& m) {
                                   return std::find(tree.begin(), tree.end(), m.get()) != tree.end();
                               }),
                menus.end());
}

bool isMine(const HostMenu* menu) {
    for (const auto& m : menus)
        if (m.get() == menu) return true;
    return false;
}

struct OpenMenus {
    std::vector<HMENU> handles;
};

BOOL CALLBACK collectOpenMenu(HWND window, LPARAM data) {
    char cls[16] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "#32768") == 0 && IsWindowVisible(window))
        reinterpret_cast<OpenMenus*>(data)->handles.push_back(
            reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0)));
    return TRUE;
}

int highlightedItem(HMENU menu) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i)
        if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE) return i;
    return -1;
}

// The menu loop reads keys posted to any window of its thread.
void pressKey(UINT message, WPARAM key) { PostMessageA(mainWindow(), message, key, 0); }

}  // namespace

HostMenu* makeMenu(const char* title, const char* id, bool popup) {
    auto menu = std::make_unique<HostMenu>();
    menu->number = ++menusMade;
    menu->title = title ? title : "";
    menu->id = id ? id : "";
    menu->popup = popup;
    menus.push_back(std::move(menu));
    return menus.back().get();
}

HostMenuItem* addItem(HostMenu* menu, const char* label, const char* command, bool checked) {
    if (!isMine(menu)) return nullptr;
    menu->items.push_back(std::make_unique<HostMenuItem>(HostMenuItem{label ? label : "", command ? command : "", checked, nullptr}));
    return menu->items.back().get();
}

HostMenuItem* addNumberItem(HostMenu* menu, const char* label, const char* command, int value, int minimum,
                            int maximum) {
    HostMenuItem* item = addItem(menu, label, command, false);
    if (!item) return nullptr;
    item->number = true;
    item->value = value;
    item->minimum = minimum;
    item->maximum = maximum;
    return item;
}

HostMenuItem* addSubmenu(HostMenu* parent, HostMenu* child, const char* title) {
    if (!isMine(parent) || !isMine(child) || parent == child) return nullptr;
    parent->items.push_back(std::make_unique<HostMenuItem>(HostMenuItem{title ? title : "", "", false, child}));
    return parent->items.back().get();
}

std::string menuName(const HostMenu* menu) { return menu ? "menu#" + std::to_string(menu->number) : "null"; }

void armMenuPick(const std::string& label, const int* number) {
    pick = Pick();
    pick.armed = true;
    pick.label = label;
    pick.hasNumber = number != nullptr;
    pick.number = number ? *number : 0;
}

int menusShown() { return shownCount; }
bool menuOpen() { return openNow; }

void showHostMenu(HostMenu* menu) {
    if (!isMine(menu)) return;
    Built built;
    built.handle = buildPopup(menu, built, 0);
    ++shownCount;

    if (pick.armed) {
        pick.armed = false;
        pick.active = findLabel(menu, pick.label, pick.path, 0);
        if (!pick.active) {
            logLine("menu has no entry labelled %s", quoted(pick.label.c_str()).c_str());
            pick.cancel = true;
            SetTimer(mainWindow(), TIMER_MENU_PICK, 40, nullptr);
        }
        HMENU level = built.handle;
        for (size_t i = 0; pick.active && i < pick.path.size(); ++i) {
            pick.handles.push_back(level);
            level = GetSubMenu(level, pick.path[i]);
        }
        if (pick.active) SetTimer(mainWindow(), TIMER_MENU_PICK, 40, nullptr);
    }

    POINT at;
    GetCursorPos(&at);
    // The owner must be the foreground window, or the menu does not close when clicked away.
    SetForegroundWindow(mainWindow());
    openNow = true;
    UINT chosen = static_cast<UINT>(TrackPopupMenuEx(built.handle, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                     at.x, at.y, mainWindow(), nullptr));
    openNow = false;
    KillTimer(mainWindow(), TIMER_MENU_PICK);
    pick.active = false;
    pick.cancel = false;
    const bool numberGiven = pick.hasNumber;
    pick.hasNumber = false;
    DestroyMenu(built.handle);

    if (chosen >= 1 && chosen <= built.entries.size()) {
        const HostMenuItem& entry = *built.entries[chosen - 1];
        const std::string command = chosenCommand(entry, numberGiven ? &pick.number : nullptr);
        logLine("menu choice %s -> %s", quoted(entry.label.c_str()).c_str(), quoted(command.c_str()).c_str());
        // Delivered from the main loop: the plugin is still inside its own mouse handler here.
        if (!command.empty()) queueBroadcast(command);
    } else {
        logLine("menu closed without a choice");
    }
    releaseTree(menu);
}

void onMenuPickTimer() {
    OpenMenus open;
    EnumThreadWindows(GetCurrentThreadId(), collectOpenMenu, reinterpret_cast<LPARAM>(&open));
    if (pick.cancel && !open.handles.empty()) {
        pick.cancel = false;
        pressKey(WM_KEYDOWN, VK_ESCAPE);
        return;
    }
    if (!pick.active) return;
    int level = -1;
    for (size_t i = 0; i < pick.handles.size(); ++i)
        if (std::find(open.handles.begin(), open.handles.end(), pick.handles[i]) != open.handles.end())
            level = static_cast<int>(i);
    if (level < 0) return;  // the menu is not on screen yet
    if (++pick.keys > 80) {
        logLine("menu pick of %s gave up", quoted(pick.label.c_str()).c_str());
        pick.active = false;
        pressKey(WM_KEYDOWN, VK_ESCAPE);
        pressKey(WM_KEYDOWN, VK_ESCAPE);
        return;
    }
    HMENU menu = pick.handles[level];
    const int target = pick.path[level];
    const int current = highlightedItem(menu);
    if (current != target) {
        pressKey(WM_KEYDOWN, current > target ? VK_UP : VK_DOWN);
    } else if (level + 1 < static_cast<int>(pick.handles.size())) {
        pressKey(WM_KEYDOWN, VK_RIGHT);
    } else {
        // Enter arrives as a character in the menu loop.
        pressKey(WM_CHAR, '\r');
        pick.active = false;
    }
}

}  // namespace host
