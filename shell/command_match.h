// Recognises the broadcast command texts the panel acts on. No windows.h, so the
// matching also builds natively for fuzzing.
#pragma once

enum BroadcastCommand {
    COMMAND_NONE,
    COMMAND_SHOW_PLUGINS,  // the host's "@BBShowPlugins"
    COMMAND_HIDE_PLUGINS,  // the host's "@BBHidePlugins"
    COMMAND_READ_SETTINGS,
    COMMAND_WRITE_SETTINGS,
    COMMAND_EDIT_SETTINGS,
    COMMAND_ABOUT,
};

// The host's two texts match only whole and byte for byte. The plugin's own
// commands match "@Kelvora." followed by a command word at the start of the rest;
// whatever follows the word is ignored. Case counts everywhere. Null is no command.
BroadcastCommand matchBroadcastCommand(const char* text);
