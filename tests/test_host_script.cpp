// The stand-in host's script files and command line.
#include <string>

#include "host/options.h"
#include "host/script.h"
#include "support/test_support.h"

using hostscript::StepKind;

TEST_CASE("a script of every step parses in order, with blank and comment lines skipped") {
    const hostscript::Script s = hostscript::parseScript(
        "# a demo\r\n"
        "wait 1500\r\n"
        "\r\n"
        "broadcast   @Kelvora.settings.read  \r\n"
        "reconfigure\n"
        "   menu write settings\n"
        "drag -40 25\n"
        "screenshot Z:\\tmp\\panel one.png\n"
        "write-int Kelvora.width: -240 Z:\\tmp\\my theme.rc\n"
        "menu-number -3 Transparency  level\n"
        "window\n"
        "stop");
    REQUIRE(s.error.empty());
    REQUIRE(s.steps.size() == 10);
    CHECK(s.steps[0].kind == StepKind::Wait);
    CHECK(s.steps[0].milliseconds == 1500);
    CHECK(s.steps[0].line == 2);
    CHECK(s.steps[1].kind == StepKind::Broadcast);
    CHECK(s.steps[1].text == "@Kelvora.settings.read");
    CHECK(s.steps[2].kind == StepKind::Reconfigure);
    CHECK(s.steps[3].kind == StepKind::Menu);
    CHECK(s.steps[3].text == "write settings");
    CHECK(s.steps[4].kind == StepKind::Drag);
    CHECK(s.steps[4].dx == -40);
    CHECK(s.steps[4].dy == 25);
    CHECK(s.steps[5].kind == StepKind::Screenshot);
    CHECK(s.steps[5].text == "Z:\\tmp\\panel one.png");
    CHECK(s.steps[6].kind == StepKind::WriteInt);
    CHECK(s.steps[6].key == "Kelvora.width:");
    CHECK(s.steps[6].value == -240);
    CHECK(s.steps[6].text == "Z:\\tmp\\my theme.rc");
    CHECK(s.steps[7].kind == StepKind::MenuNumber);
    CHECK(s.steps[7].value == -3);
    CHECK(s.steps[7].text == "Transparency  level");
    CHECK(s.steps[8].kind == StepKind::Window);
    CHECK(s.steps[9].kind == StepKind::Stop);
    CHECK(s.steps[9].line == 12);
}

TEST_CASE("a faulty line names itself and leaves no steps to run") {
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"wait 10\nwait\n", "line 2: wait needs a number of milliseconds from 0 up"},
        {"wait -5", "line 1: wait needs a number of milliseconds from 0 up"},
        {"wait 1s", "line 1: wait needs a number of milliseconds from 0 up"},
        {"broadcast", "line 1: broadcast needs a text"},
        {"menu   ", "line 1: menu needs a label"},
        {"screenshot", "line 1: screenshot needs a file"},
        {"drag 10", "line 1: drag needs two whole numbers of pixels"},
        {"write-int Kelvora.x: 5", "line 1: write-int needs a key, a whole number and a file"},
        {"write-int Kelvora.x: five a.rc", "line 1: write-int needs a key, a whole number and a file"},
        {"drag ten 5", "line 1: drag needs two whole numbers of pixels"},
        {"menu-number 128", "line 1: menu-number needs a whole number and a label"},
        {"menu-number half Transparency level", "line 1: menu-number needs a whole number and a label"},
        {"window panel", "line 1: window takes nothing after it"},
        {"stop now", "line 1: stop takes nothing after it"},
        {"broadcast-null x", "line 1: broadcast-null takes nothing after it"},
        {"repeat 0 tick", "line 1: repeat needs a count from 1 up and a step"},
        {"repeat 5", "line 1: unknown step \"\""},
        {"repeat 2 wait 5", "line 1: repeat takes broadcast, reconfigure, tick, paint, restart or reload-module"},
        {"repeat 2 repeat 2 tick", "line 1: repeat takes broadcast, reconfigure, tick, paint, restart or reload-module"},
        {"repeat 2 drag x 1", "line 1: drag needs two whole numbers of pixels"},
        {"measure", "line 1: measure needs a label"},
        {"clock", "line 1: clock needs a label"},
        {"tick 3", "line 1: tick takes nothing after it"},
        {"broadcast-long", "line 1: broadcast-long needs a length from 0 to 16777216 bytes"},
        {"broadcast-long 16777217 @x", "line 1: broadcast-long needs a length from 0 to 16777216 bytes"},
        {"# ok\nclick 3 4\nstop", "line 2: unknown step \"click\""},
        {"Wait 10", "line 1: unknown step \"Wait\""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.script);
        const hostscript::Script s = hostscript::parseScript(c.script);
        CHECK(s.error == c.error);
        CHECK(s.steps.empty());
    }
}

TEST_CASE("the odd broadcasts: no text, an empty text, a text padded to a length") {
    const hostscript::Script s =
        hostscript::parseScript("broadcast-null\nbroadcast-empty\nbroadcast-long 100000 @Kelvora.\nbroadcast-long 3 @Kelvora.\n");
    REQUIRE(s.error == "");
    REQUIRE(s.steps.size() == 4);
    CHECK(s.steps[0].kind == StepKind::BroadcastNull);
    CHECK(s.steps[1].kind == StepKind::Broadcast);
    CHECK(s.steps[1].text == "");
    CHECK(s.steps[2].kind == StepKind::Broadcast);
    CHECK(s.steps[2].text.size() == 100000);
    CHECK(s.steps[2].text.compare(0, 10, "@Kelvora.x") == 0);
    CHECK(s.steps[2].text.find_first_not_of('x', 9) == std::string::npos);
    CHECK(s.steps[3].text == "@Kelvora.");  // never cut short
}

TEST_CASE("soak steps: a repeated step keeps its own kind and text, the others run once") {
    const hostscript::Script s = hostscript::parseScript(
        "repeat 100 broadcast @Kelvora.settings.read\nrepeat 167 tick\npaint\nrestart\nreload-module\nmeasure first cycle\n");
    REQUIRE(s.error == "");
    REQUIRE(s.steps.size() == 6);
    CHECK(s.steps[0].kind == StepKind::Broadcast);
    CHECK(s.steps[0].text == "@Kelvora.settings.read");
    CHECK(s.steps[0].repeat == 100);
    CHECK(s.steps[1].kind == StepKind::Tick);
    CHECK(s.steps[1].repeat == 167);
    CHECK(s.steps[2].kind == StepKind::Paint);
    CHECK(s.steps[3].kind == StepKind::Restart);
    CHECK(s.steps[4].kind == StepKind::ReloadModule);
    CHECK(s.steps[5].kind == StepKind::Measure);
    CHECK(s.steps[5].text == "first cycle");
    for (size_t i = 2; i < s.steps.size(); ++i) CHECK(s.steps[i].repeat == 1);
}

TEST_CASE("an empty script has no steps and no error") {
    const hostscript::Script s = hostscript::parseScript("\n# nothing\n\n");
    CHECK(s.error.empty());
    CHECK(s.steps.empty());
}

TEST_CASE("the command line picks the start entry point and the run's files") {
    using hostoptions::StartKind;
    hostoptions::Options o = hostoptions::parseOptions(
        {"--slit", "--log", "run.log", "--script", "s.txt", "--screenshot", "p.png", "--style", "dark.style",
         "--editor", "ed.exe", "--stop-after", "5000", "Kelvora.dll"});
    CHECK(o.error.empty());
    CHECK(o.start == StartKind::Slit);
    CHECK(o.logFile == "run.log");
    CHECK(o.scriptFile == "s.txt");
    CHECK(o.screenshotFile == "p.png");
    CHECK(o.styleFile == "dark.style");
    CHECK(o.editor == "ed.exe");
    CHECK(o.stopAfter == 5000);
    CHECK(o.plugin == "Kelvora.dll");

    o = hostoptions::parseOptions({"Kelvora.dll"});
    CHECK(o.error.empty());
    CHECK(o.start == StartKind::Plain);
    CHECK(o.stopAfter == -1);
    CHECK(hostoptions::parseOptions({"--ex", "Kelvora.dll"}).start == StartKind::Ex);

    CHECK(hostoptions::parseOptions({}).error == "no plugin DLL given");
    CHECK(hostoptions::parseOptions({"--slit", "--ex", "a.dll"}).error == "give at most one of --slit and --ex");
    CHECK(hostoptions::parseOptions({"a.dll", "--log"}).error == "--log needs a file");
    CHECK(hostoptions::parseOptions({"--stop-after", "soon", "a.dll"}).error == "--stop-after needs a number of milliseconds");
    CHECK(hostoptions::parseOptions({"--verbose", "a.dll"}).error == "unknown option --verbose");
    CHECK(hostoptions::parseOptions({"a.dll", "b.dll"}).error == "only one plugin can be given");
    CHECK(hostoptions::parseOptions({"--help"}).help);

    o = hostoptions::parseOptions({"--without", "WriteBool", "Kelvora.dll", "--without", "GetIfTable2"});
    CHECK(o.error.empty());
    CHECK(o.without == std::vector<std::string>{"WriteBool", "GetIfTable2"});
    CHECK(hostoptions::parseOptions({"a.dll", "--without"}).error == "--without needs the name of a function");
    CHECK(hostoptions::parseOptions({"--without", "--ex", "a.dll"}).error == "--without needs the name of a function");
}
