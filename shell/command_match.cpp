// Matching of broadcast command texts to the panel's commands, and their arguments.
#include "shell/command_match.h"

#include <cstring>

namespace {

bool startsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

const char* skipBlanks(const char* text) {
    while (isBlank(*text)) ++text;
    return text;
}

// The text ends here, or only blanks follow.
bool endsAt(const char* text) { return *skipBlanks(text) == '\0'; }

struct CommandWord {
    const char* word;
    BroadcastCommand command;
    // Only a word followed by the end of the text or a blank; else any text may follow.
    bool whole;
};

// The words differ within their own lengths, so at most one matches a text.
const CommandWord pluginCommands[] = {
    {"settings.read", COMMAND_READ_SETTINGS, false},
    {"settings.write", COMMAND_WRITE_SETTINGS, false},
    {"settings.edit", COMMAND_EDIT_SETTINGS, false},
    {"about", COMMAND_ABOUT, false},
    {"config.alwaysOnTop", COMMAND_CONFIG_ALWAYS_ON_TOP, true},
    {"config.pluginToggle", COMMAND_CONFIG_PLUGIN_TOGGLE, true},
    {"config.snapToEdges", COMMAND_CONFIG_SNAP_TO_EDGES, true},
    {"config.alphaEnabled", COMMAND_CONFIG_ALPHA_ENABLED, true},
    {"config.alphaValue", COMMAND_CONFIG_ALPHA_VALUE, true},
    {"config.tooltips", COMMAND_CONFIG_TOOLTIPS, true},
    {"config.cpuMeasure", COMMAND_CONFIG_CPU_MEASURE, true},
};

}  // namespace

BroadcastCommand matchBroadcastCommand(const char* text, const char** argument) {
    if (!text) return COMMAND_NONE;
    if (strcmp(text, "@BBShowPlugins") == 0) return COMMAND_SHOW_PLUGINS;
    if (strcmp(text, "@BBHidePlugins") == 0) return COMMAND_HIDE_PLUGINS;
    static const char prefix[] = "@Kelvora.";
    if (!startsWith(text, prefix)) return COMMAND_NONE;
    const char* rest = text + sizeof prefix - 1;
    for (const CommandWord& c : pluginCommands) {
        if (!startsWith(rest, c.word)) continue;
        const char* after = rest + strlen(c.word);
        if (c.whole && *after != '\0' && !isBlank(*after)) return COMMAND_NONE;
        if (argument) *argument = skipBlanks(after);
        return c.command;
    }
    return COMMAND_NONE;
}

SwitchArgument parseSwitchArgument(const char* argument) {
    if (endsAt(argument)) return SWITCH_TOGGLE;
    if (startsWith(argument, "true") && endsAt(argument + 4)) return SWITCH_ON;
    if (startsWith(argument, "false") && endsAt(argument + 5)) return SWITCH_OFF;
    return SWITCH_UNKNOWN;
}

bool parseLevelArgument(const char* argument, int* level) {
    const char* at = argument;
    const bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    if (*at < '0' || *at > '9') return false;
    // Saturated past the range, so that no number of digits overflows.
    int value = 0;
    for (; *at >= '0' && *at <= '9'; ++at)
        if (value <= 255) value = value * 10 + (*at - '0');
    if (!endsAt(at)) return false;
    *level = negative ? 0 : value > 255 ? 255 : value;
    return true;
}

MeasureArgument parseMeasureArgument(const char* argument) {
    if (endsAt(argument)) return MEASURE_TOGGLE;
    if (startsWith(argument, "utility") && endsAt(argument + 7)) return MEASURE_UTILITY;
    if (startsWith(argument, "time") && endsAt(argument + 4)) return MEASURE_TIME;
    return MEASURE_UNKNOWN;
}

bool isUtilityMeasure(const char* text) {
    static const char utility[] = "utility";
    for (size_t i = 0; i < sizeof utility; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != utility[i]) return false;  // the terminators compare too
    }
    return true;
}
