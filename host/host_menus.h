// The host's menu records behind the opaque HostMenu and HostMenuItem of the plugin interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "shell/host_api.h"

struct HostMenuItem {
    std::string label;
    std::string command;  // empty for a submenu entry
    bool checked;
    HostMenu* submenu;
    // A number item (MakeMenuItemInt): its value and range; choosing it broadcasts the command,
    // one blank and the number set.
    bool number = false;
    int value = 0;
    int minimum = 0;
    int maximum = 0;
};

struct HostMenu {
    int number;  // 1, 2, ... in order of making; names the menu in the log
    std::string title;
    std::string id;
    bool popup;
    std::vector<std::unique_ptr<HostMenuItem>> items;
};

namespace host {

HostMenu* makeMenu(const char* title, const char* id, bool popup);
HostMenuItem* addItem(HostMenu* menu, const char* label, const char* command, bool checked);
HostMenuItem* addNumberItem(HostMenu* menu, const char* label, const char* command, int value, int minimum,
                            int maximum);
HostMenuItem* addSubmenu(HostMenu* parent, HostMenu* child, const char* title);
// "menu#N", or "null".
std::string menuName(const HostMenu* menu);

}  // namespace host
