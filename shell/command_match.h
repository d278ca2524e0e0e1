// Recognises the broadcast command texts the panel acts on, and the arguments of the
// configuration commands. No windows.h, so the matching also builds natively for fuzzing.
#pragma once

enum BroadcastCommand {
    COMMAND_NONE,
    COMMAND_SHOW_PLUGINS,  // the host's "@BBShowPlugins"
    COMMAND_HIDE_PLUGINS,  // the host's "@BBHidePlugins"
    COMMAND_READ_SETTINGS,
    COMMAND_WRITE_SETTINGS,
    COMMAND_EDIT_SETTINGS,
    COMMAND_ABOUT,
    COMMAND_CONFIG_ALWAYS_ON_TOP,
    COMMAND_CONFIG_PLUGIN_TOGGLE,
    COMMAND_CONFIG_SNAP_TO_EDGES,
    COMMAND_CONFIG_ALPHA_ENABLED,
    COMMAND_CONFIG_ALPHA_VALUE,
    COMMAND_CONFIG_TOOLTIPS,
    COMMAND_CONFIG_CPU_MEASURE,
};

// The host's two texts match only whole and byte for byte. The plugin's own commands match
// "@Kelvora." followed by a command word at the start of the rest. Whatever follows a settings
// or about word is ignored; a config word must be followed by the end of the text or a blank,
// and argument (when given) then points to what follows, blanks skipped. Case counts
// everywhere. Null is no command.
BroadcastCommand matchBroadcastCommand(const char* text, const char** argument = nullptr);

// A boolean config command's argument: none toggles, "true" and "false" set; anything else is
// no switch at all. Blanks after it are allowed.
enum SwitchArgument { SWITCH_TOGGLE, SWITCH_ON, SWITCH_OFF, SWITCH_UNKNOWN };
SwitchArgument parseSwitchArgument(const char* argument);

// The level command's argument: a whole number, kept within 0 to 255. False, leaving level as
// it was, for a text that is no whole number (none, "12px", "0x80").
bool parseLevelArgument(const char* argument, int* level);

// The measure command's argument: none toggles, "utility" and "time" set; anything else is no
// measure at all. Blanks after it are allowed.
enum MeasureArgument { MEASURE_TOGGLE, MEASURE_UTILITY, MEASURE_TIME, MEASURE_UNKNOWN };
MeasureArgument parseMeasureArgument(const char* argument);

// The text of Kelvora.cpu.measure: that asks for utility: "utility" with its ASCII letters in
// any case.
bool isUtilityMeasure(const char* text);
