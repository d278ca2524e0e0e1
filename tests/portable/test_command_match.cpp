// Matching of broadcast texts: whole host texts, or the plugin prefix and a word.
#include "doctest.h"
#include "shell/command_match.h"

TEST_CASE("command matching is by whole host text or prefix and word") {
    CHECK(matchBroadcastCommand("@BBShowPlugins") == COMMAND_SHOW_PLUGINS);
    CHECK(matchBroadcastCommand("@BBHidePlugins") == COMMAND_HIDE_PLUGINS);
    CHECK(matchBroadcastCommand("@BBHidePlugins2") == COMMAND_NONE);
    CHECK(matchBroadcastCommand("@Kelvora.settings.write") == COMMAND_WRITE_SETTINGS);
    CHECK(matchBroadcastCommand("@Kelvora.settings.editor") == COMMAND_EDIT_SETTINGS);
    CHECK(matchBroadcastCommand("@Kelvora.about") == COMMAND_ABOUT);
    CHECK(matchBroadcastCommand(" @Kelvora.about") == COMMAND_NONE);
    CHECK(matchBroadcastCommand(nullptr) == COMMAND_NONE);
}
