// Matching of broadcast command texts to the panel's commands.
#include "shell/command_match.h"

#include <cstring>

namespace {

bool startsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

struct CommandWord {
    const char* word;
    BroadcastCommand command;
};

// The words differ within their own lengths, so at most one matches a text.
const CommandWord pluginCommands[] = {
    {"settings.read", COMMAND_READ_SETTINGS},
    {"settings.write", COMMAND_WRITE_SETTINGS},
    {"settings.edit", COMMAND_EDIT_SETTINGS},
    {"about", COMMAND_ABOUT},
};

}  // namespace

BroadcastCommand matchBroadcastCommand(const char* text) {
    if (!text) return COMMAND_NONE;
    if (strcmp(text, "@BBShowPlugins") == 0) return COMMAND_SHOW_PLUGINS;
    if (strcmp(text, "@BBHidePlugins") == 0) return COMMAND_HIDE_PLUGINS;
    static const char prefix[] = "@Kelvora.";
    if (!startsWith(text, prefix)) return COMMAND_NONE;
    const char* rest = text + sizeof prefix - 1;
    for (const CommandWord& c : pluginCommands)
        if (startsWith(rest, c.word)) return c.command;
    return COMMAND_NONE;
}
