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
HostMenuItem* addSubmenu(HostMenu* parent, HostMenu* child, const char* title);
// "menu#N", or "null".
std::string menuName(const HostMenu* menu);

}  // namespace host
