// A part's action text: the disk path put in, and a command line split as the shell splits its
// own, each cut to its buffer.
#include <string>

#include "doctest.h"
#include "shell/action_line.h"

namespace {

struct Split {
    std::string program;
    std::string arguments;
};

Split split(const char* line, size_t programSize = 260, size_t argumentsSize = 260) {
    char program[260], arguments[260];
    splitCommandLine(line, program, programSize, arguments, argumentsSize);
    return Split{program, arguments};
}

std::string expanded(const char* action, const char* path, size_t size = 100) {
    char out[100];
    expandPath(action, path, out, size);
    return out;
}

}  // namespace

TEST_CASE("a command line is the program, to the first blank or in double quotes, and the rest") {
    struct Case {
        const char* line;
        const char* program;
        const char* arguments;
    };
    for (Case c : {Case{"taskmgr.exe", "taskmgr.exe", ""},
                   Case{"  explorer.exe   C:\\", "explorer.exe", "C:\\"},
                   Case{"\"C:\\Program Files\\Tool\\tool.exe\" -a \"b c\"", "C:\\Program Files\\Tool\\tool.exe", "-a \"b c\""},
                   Case{"\"C:\\My Tools\\x.exe\"", "C:\\My Tools\\x.exe", ""},
                   Case{"\"unclosed quote here", "unclosed quote here", ""},
                   Case{"control.exe\tncpa.cpl", "control.exe", "ncpa.cpl"},
                   Case{"   ", "", ""}}) {
        CAPTURE(c.line);
        const Split s = split(c.line);
        CHECK(s.program == c.program);
        CHECK(s.arguments == c.arguments);
    }
    const Split cut = split("abcdefgh 12345678", 5, 4);
    CHECK(cut.program == "abcd");
    CHECK(cut.arguments == "123");
}

TEST_CASE("every %s of a disk action is the path, cut to the buffer") {
    CHECK(expanded("explorer.exe %s", "D:\\") == "explorer.exe D:\\");
    CHECK(expanded("\"%s\" %s%%s", "C:\\") == "\"C:\\\" C:\\%C:\\");
    CHECK(expanded("no path 100%", "C:\\") == "no path 100%");
    CHECK(expanded("%s%s", "abcdef", 10) == "abcdefabc");
    CHECK(isBroadcastAction("@BBShowPlugins"));
    CHECK_FALSE(isBroadcastAction(" @BBShowPlugins"));
    CHECK(namedWithoutFolder("taskmgr.exe"));
    for (const char* program : {"C:\\Windows\\notepad.exe", "bin/tool", "C:tool.exe", ""})
        CHECK_FALSE(namedWithoutFolder(program));
}
