// Acts on the broadcast commands and builds the plugin menu through the host. Each
// menu item carries a command text that the host broadcasts back when it is chosen.
#include "shell/commands.h"

#include <cstdio>

#include "config/panel_model.h"
#include "config/settings.h"
#include "shell/command_match.h"
#include "shell/host_api.h"
#include "shell/plugin.h"
#include "shell/plugin_info.h"

namespace {

void writePosition() {
    WriteInt(panelModel.rcPath, "Kelvora.x:", panelModel.x);
    WriteInt(panelModel.rcPath, "Kelvora.y:", panelModel.y);
}

void editSettings() {
    char editor[PATH_SIZE] = "";
    GetBlackboxEditor(editor);
    editor[PATH_SIZE - 1] = '\0';
    BBExecute(nullptr, nullptr, editor, panelModel.rcPath, nullptr, SW_SHOWNORMAL, false);
}

void showAbout() {
    const char text[] = PLUGIN_NAME " " PLUGIN_VERSION "\nReleased " PLUGIN_RELEASE_DATE "\nby " PLUGIN_AUTHOR
                        "\n\n" PLUGIN_WEB_ADDRESS;
    MessageBoxA(panelModel.hostWindow, text, "About", MB_OK | MB_TOPMOST | MB_ICONINFORMATION);
}

}  // namespace

void handleBroadcastCommand(HWND window, const char* text) {
    switch (matchBroadcastCommand(text)) {
        case COMMAND_SHOW_PLUGINS:
            ShowWindow(window, SW_SHOW);
            break;
        case COMMAND_HIDE_PLUGINS:
            if (panelModel.pluginToggle) ShowWindow(window, SW_HIDE);
            break;
        case COMMAND_READ_SETTINGS:
            reloadSettings();
            applyWindowSettings(window);
            break;
        case COMMAND_WRITE_SETTINGS:
            writePosition();
            break;
        case COMMAND_EDIT_SETTINGS:
            editSettings();
            break;
        case COMMAND_ABOUT:
            showAbout();
            break;
        case COMMAND_NONE:
            break;
    }
}

// Built anew at every right-button release; the host owns the menu once shown.
void showPluginMenu() {
    HostMenu* main = MakeNamedMenu(PLUGIN_NAME, "Kelvora_IDMain", true);
    HostMenu* settings = MakeNamedMenu("Settings", "Kelvora_IDSettings", true);
    MakeMenuItem(settings, "read settings", "@Kelvora.settings.read", false);
    MakeMenuItem(settings, "write settings", "@Kelvora.settings.write", false);
    MakeMenuItem(settings, "edit settings", "@Kelvora.settings.edit", false);
    MakeSubmenu(main, settings, "Settings");
    MakeMenuItem(main, "About", "@Kelvora.about", false);
    ShowMenu(main);
}
