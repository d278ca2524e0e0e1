// Acts on the broadcast commands and builds the plugin menu through the host. Each
// menu item carries a command text that the host broadcasts back when it is chosen.
#include "shell/commands.h"

#include <cstdio>

#include "config/panel_model.h"
#include "config/settings.h"
#include "sampling/core_sampler.h"
#include "shell/command_match.h"
#include "shell/host_api.h"
#include "shell/host_extras.h"
#include "shell/plugin.h"
#include "shell/plugin_info.h"
#include "shell/tooltips.h"

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

// A boolean setting of the Configuration menu: its entry, its command and its key. On a
// floating panel a change takes effect at once through apply (none: the model is all it
// needs); a docked one keeps it for the next start that floats it, unless it applies docked too.
struct Switch {
    BroadcastCommand command;
    const char* label;
    const char* text;
    const char* key;
    bool PanelModel::*setting;
    void (*apply)(HWND window);
    bool appliesDocked = false;
};

const Switch switches[] = {
    {COMMAND_CONFIG_ALWAYS_ON_TOP, "Always on top", "@Kelvora.config.alwaysOnTop", "Kelvora.alwaysOnTop:",
     &PanelModel::alwaysOnTop, applyZOrder},
    {COMMAND_CONFIG_PLUGIN_TOGGLE, "Toggle with plugins", "@Kelvora.config.pluginToggle", "Kelvora.pluginToggle:",
     &PanelModel::pluginToggle, nullptr},
    {COMMAND_CONFIG_SNAP_TO_EDGES, "Snap to edges", "@Kelvora.config.snapToEdges", "Kelvora.snapToEdges:",
     &PanelModel::snapToEdges, nullptr},
    {COMMAND_CONFIG_TOOLTIPS, "Show tooltips", "@Kelvora.config.tooltips", "Kelvora.tooltips:", &PanelModel::tooltips,
     layoutTooltips, true},
    {COMMAND_CONFIG_ALPHA_ENABLED, "Transparency", "@Kelvora.config.alphaEnabled", "Kelvora.alphaEnabled:",
     &PanelModel::alphaEnabled, applyTransparency},
};

const char* const LEVEL_COMMAND = "@Kelvora.config.alphaValue";
// The levels offered where the shell has no number item, opaque first.
const int transparencyLevels[] = {255, 224, 192, 160, 128, 96};

const Switch* switchFor(BroadcastCommand command) {
    for (const Switch& s : switches)
        if (s.command == command) return &s;
    return nullptr;
}

// Without WriteBool in the shell the change holds for this run only: a reload reads the
// file's value again.
void flipSwitch(const Switch& s, HWND window, const char* argument) {
    const SwitchArgument wanted = parseSwitchArgument(argument);
    if (wanted == SWITCH_UNKNOWN) return;
    bool& setting = panelModel.*s.setting;
    setting = wanted == SWITCH_TOGGLE ? !setting : wanted == SWITCH_ON;
    if (hostExtras.writeBool) hostExtras.writeBool(panelModel.rcPath, s.key, setting);
    if (s.apply && (panelFloats() || s.appliesDocked)) s.apply(window);
}

void setTransparencyLevel(HWND window, const char* argument) {
    int level = 0;
    if (!parseLevelArgument(argument, &level)) return;
    panelModel.alphaValue = level;
    WriteInt(panelModel.rcPath, "Kelvora.alphaValue:", level);
    if (panelFloats()) applyTransparency(window);
}

// The level the panel shows: only the low 8 bits of the setting count.
int shownLevel() { return panelModel.alphaValue & 0xFF; }

void addTransparencyLevels(HostMenu* config) {
    if (hostExtras.makeMenuItemInt) {
        hostExtras.makeMenuItemInt(config, "Transparency level", LEVEL_COMMAND, shownLevel(), 0, 255);
        return;
    }
    HostMenu* levels = MakeNamedMenu("Transparency level", "Kelvora_IDTransparency", true);
    for (int level : transparencyLevels) {
        char label[8];
        char command[40];
        snprintf(label, sizeof label, "%d", level);
        snprintf(command, sizeof command, "%s %d", LEVEL_COMMAND, level);
        MakeMenuItem(levels, label, command, level == shownLevel());
    }
    MakeSubmenu(config, levels, "Transparency level");
}

// The measure behind the CPU figure. The next CPU tick shows the new measure; the graph's
// history stays. Without WriteString in the shell the change holds for this run only.
void setCpuMeasure(const char* argument) {
    const MeasureArgument wanted = parseMeasureArgument(argument);
    if (wanted == MEASURE_UNKNOWN) return;
    bool& utility = panelModel.cpuUtility;
    utility = wanted == MEASURE_TOGGLE ? !utility : wanted == MEASURE_UTILITY;
    primeCpuFigure();
    if (hostExtras.writeString)
        hostExtras.writeString(panelModel.rcPath, "Kelvora.cpu.measure:", utility ? "utility" : "time");
}

// Entries that the shell could not save are left out: the menu offers only settings that last.
// The measure's entry names the measure it switches to, so that a menu picked after the
// measure changed by another way still does what its checkmark promised.
void addConfigurationMenu(HostMenu* main) {
    HostMenu* config = MakeNamedMenu("Configuration", "Kelvora_IDConfiguration", true);
    if (hostExtras.writeBool)
        for (const Switch& s : switches) MakeMenuItem(config, s.label, s.text, panelModel.*s.setting);
    addTransparencyLevels(config);
    if (hostExtras.writeString) {
        const bool utility = panelModel.cpuUtility;
        MakeMenuItem(config, "Match Task Manager",
                     utility ? "@Kelvora.config.cpuMeasure time" : "@Kelvora.config.cpuMeasure utility", utility);
    }
    MakeSubmenu(main, config, "Configuration");
}

void showAbout() {
    const char text[] = PLUGIN_NAME " " PLUGIN_VERSION "\nReleased " PLUGIN_RELEASE_DATE "\nby " PLUGIN_AUTHOR
                        "\n\n" PLUGIN_WEB_ADDRESS;
    MessageBoxA(panelModel.hostWindow, text, "About", MB_OK | MB_TOPMOST | MB_ICONINFORMATION);
}

}  // namespace

void handleBroadcastCommand(HWND window, const char* text) {
    const char* argument = nullptr;
    const BroadcastCommand command = matchBroadcastCommand(text, &argument);
    if (const Switch* s = switchFor(command)) {
        flipSwitch(*s, window, argument);
        return;
    }
    switch (command) {
        case COMMAND_SHOW_PLUGINS:
            ShowWindow(window, SW_SHOW);
            break;
        case COMMAND_HIDE_PLUGINS:
            if (panelModel.pluginToggle) ShowWindow(window, SW_HIDE);
            break;
        case COMMAND_READ_SETTINGS:
            reloadSettings();
            primeCpuFigure();
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
        case COMMAND_CONFIG_ALPHA_VALUE:
            setTransparencyLevel(window, argument);
            break;
        case COMMAND_CONFIG_CPU_MEASURE:
            setCpuMeasure(argument);
            break;
        default:
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
    addConfigurationMenu(main);
    MakeMenuItem(main, "About", "@Kelvora.about", false);
    ShowMenu(main);
}
