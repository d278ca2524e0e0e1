// The actions of the panel's parts in-process: the rule for the native system folder through its
// seam, and the command line that reaches the shell's BBExecute.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "shell/panel_parts.h"
#include "shell/part_actions.h"
#include "support/fake_host.h"
#include "support/running_plugin.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

bool wow64 = false;
std::vector<std::string> looked;

bool fakeWow64() { return wow64; }

bool fakeWindowsFolder(char* folder, size_t size) {
    snprintf(folder, size, "%s", "C:\\WINDOWS");
    return true;
}

// The native system folder holds Task Manager, nothing else.
bool fakeFileExists(const char* path) {
    looked.push_back(path);
    return strcmp(path, "C:\\WINDOWS\\Sysnative\\taskmgr.exe") == 0;
}

const ActionPlatform fakePlatform = {fakeWow64, fakeWindowsFolder, fakeFileExists};

std::string started(const char* program) {
    char out[PATH_SIZE];
    programToStart(program, out, sizeof out);
    return out;
}

struct FakeActionPlatform {
    FakeActionPlatform() { installActionPlatform(&fakePlatform); }
    ~FakeActionPlatform() { installActionPlatform(nullptr); }
};

}  // namespace

TEST_CASE("under WOW64 a program of the native system folder, named without a folder, starts from Sysnative") {
    FakeActionPlatform fake;
    wow64 = true;
    CHECK(started("taskmgr.exe") == "C:\\WINDOWS\\Sysnative\\taskmgr.exe");
    CHECK(started("taskmgr") == "C:\\WINDOWS\\Sysnative\\taskmgr.exe");
    CHECK(started("notepad.exe") == "notepad.exe");
    CHECK(started("C:\\WINDOWS\\system32\\taskmgr.exe") == "C:\\WINDOWS\\system32\\taskmgr.exe");
    CHECK(started("tools\\taskmgr.exe") == "tools\\taskmgr.exe");

    // A 64-bit process, or a 32-bit one on 32-bit Windows, looks at no file.
    wow64 = false;
    looked.clear();
    CHECK(started("taskmgr.exe") == "taskmgr.exe");
    CHECK(looked.empty());

    // The shell gets the program and the arguments apart.
    wow64 = true;
    freshHost();
    panelModel.hostWindow = fakehost::hostWindow();
    snprintf(cpuGraph().action, ACTION_SIZE, "%s", "taskmgr.exe /7");
    runPartAction(partId(0, 0));
    checkLines({"BBExecute 0 (null) C:\\WINDOWS\\Sysnative\\taskmgr.exe /7 (null) 1 0"}, fakehost::log);
    resetModel();
}

TEST_CASE("the system's own rule: the native folder only under WOW64") {
    // The x64 build never runs under WOW64; the x86 build does on 64-bit Windows (and Wine).
    const bool underWow64 = actionPlatform().runsUnderWow64();
    const std::string program = started("taskmgr.exe");
    const std::string native = "\\Sysnative\\taskmgr.exe";
    if (underWow64)
        CHECK(program.substr(program.size() > native.size() ? program.size() - native.size() : 0) == native);
    else
        CHECK(program == "taskmgr.exe");
#ifdef _WIN64
    CHECK_FALSE(underWow64);
#endif
}
