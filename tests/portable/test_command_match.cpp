// Matching of broadcast texts: whole host texts, or the plugin prefix and a word.
#include <string>

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

TEST_CASE("a config word stands alone or before a blank; its argument follows the blanks") {
    const char* argument = nullptr;
    CHECK(matchBroadcastCommand("@Kelvora.config.alwaysOnTop", &argument) == COMMAND_CONFIG_ALWAYS_ON_TOP);
    CHECK(std::string(argument).empty());
    CHECK(matchBroadcastCommand("@Kelvora.config.alphaValue \t 128", &argument) == COMMAND_CONFIG_ALPHA_VALUE);
    CHECK(std::string(argument) == "128");
    CHECK(matchBroadcastCommand("@Kelvora.config.pluginToggle false", nullptr) == COMMAND_CONFIG_PLUGIN_TOGGLE);
    CHECK(matchBroadcastCommand("@Kelvora.config.snapToEdges") == COMMAND_CONFIG_SNAP_TO_EDGES);
    CHECK(matchBroadcastCommand("@Kelvora.config.alphaEnabled true") == COMMAND_CONFIG_ALPHA_ENABLED);
    // Unlike the settings words, which take any tail.
    for (const char* text : {"@Kelvora.config.alwaysOnTopX", "@Kelvora.config.alphaValue128",
                             "@Kelvora.config.alphaEnabled:true", "@Kelvora.config.AlwaysOnTop", "@Kelvora.config"})
        CHECK(matchBroadcastCommand(text) == COMMAND_NONE);
    CHECK(matchBroadcastCommand("@Kelvora.settings.readX", &argument) == COMMAND_READ_SETTINGS);
}

TEST_CASE("switch and level arguments") {
    CHECK(parseSwitchArgument("") == SWITCH_TOGGLE);
    CHECK(parseSwitchArgument("  ") == SWITCH_TOGGLE);
    CHECK(parseSwitchArgument("true") == SWITCH_ON);
    CHECK(parseSwitchArgument("false \t") == SWITCH_OFF);
    for (const char* text : {"True", "yes", "1", "truex", "true false"}) CHECK(parseSwitchArgument(text) == SWITCH_UNKNOWN);

    struct Case {
        const char* text;
        int level;
    };
    for (Case c : {Case{"0", 0}, Case{"128", 128}, Case{"+255 ", 255}, Case{"256", 255}, Case{"-1", 0},
                   Case{"99999999999999999999", 255}, Case{"-99999999999999999999", 0}}) {
        CAPTURE(c.text);
        int level = -7;
        CHECK(parseLevelArgument(c.text, &level));
        CHECK(level == c.level);
    }
    for (const char* text : {"", "abc", "12px", "0x80", "-", "1 2", "+"}) {
        CAPTURE(text);
        int level = 77;
        CHECK_FALSE(parseLevelArgument(text, &level));
        CHECK(level == 77);
    }

    SUBCASE("the measure: its command's argument with case, the rc value without") {
        CHECK(matchBroadcastCommand("@Kelvora.config.cpuMeasure utility") == COMMAND_CONFIG_CPU_MEASURE);
        CHECK(matchBroadcastCommand("@Kelvora.config.cpuMeasureX") == COMMAND_NONE);
        CHECK(parseMeasureArgument("") == MEASURE_TOGGLE);
        CHECK(parseMeasureArgument("utility ") == MEASURE_UTILITY);
        CHECK(parseMeasureArgument("time") == MEASURE_TIME);
        for (const char* text : {"Utility", "utilityx", "times", "time utility"})
            CHECK(parseMeasureArgument(text) == MEASURE_UNKNOWN);
        CHECK(isUtilityMeasure("utility"));
        CHECK(isUtilityMeasure("UTILITY"));
        for (const char* text : {"", "time", "utilit", "utility ", "utilityy"}) CHECK_FALSE(isUtilityMeasure(text));
    }
}
