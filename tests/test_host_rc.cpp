// The stand-in host's rc files: how keys are found and read, and how WriteInt rewrites
// a file in CRLF lines while keeping every other line.
#include <cstdio>
#include <string>

#include "host/rc_files.h"
#include "host/rc_text.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

std::string readBack(const std::string& path) {
    std::string bytes;
    REQUIRE(hostrc::readWholeFile(path.c_str(), &bytes));
    return bytes;
}

std::string rcFile(const std::string& bytes) {
    const std::string path = makeTempDir() + "Kelvora.rc";
    writeFile(path, bytes);
    return path;
}

int filesIn(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    int n = 0;
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return n;
}

}  // namespace

TEST_CASE("keys are found without case, with or without their colon, values trimmed") {
    const std::string text = "Kelvora.CpuGraph.X:   42  \r\nkelvora.caption:\tHello world\t\n";
    std::string v;
    REQUIRE(hostrc::lookupValue(text, "kelvora.cpugraph.x:", &v));
    CHECK(v == "42");
    REQUIRE(hostrc::lookupValue(text, "KELVORA.CPUGRAPH.X", &v));
    CHECK(v == "42");
    REQUIRE(hostrc::lookupValue(text, "Kelvora.caption:", &v));
    CHECK(v == "Hello world");
    CHECK_FALSE(hostrc::lookupValue(text, "Kelvora.cpuGraph:", &v));
    CHECK_FALSE(hostrc::lookupValue(text, "Kelvora.cpuGraph.x.y:", &v));
}

TEST_CASE("comment lines are skipped and the first occurrence wins") {
    const std::string text =
        "! Kelvora.x: 1\n"
        "# Kelvora.x: 2\n"
        "   ! Kelvora.x: 3\n"
        "Kelvora.x: 4\n"
        "Kelvora.x: 5\n"
        "Kelvora.note: a # is no comment here\n";
    std::string v;
    REQUIRE(hostrc::lookupValue(text, "Kelvora.x:", &v));
    CHECK(v == "4");
    REQUIRE(hostrc::lookupValue(text, "Kelvora.note:", &v));
    CHECK(v == "a # is no comment here");
}

TEST_CASE("a value keeps its own colons; an empty value is still a value") {
    std::string v;
    REQUIRE(hostrc::lookupValue("Kelvora.disk[1].path: C:\\data\nKelvora.ip.caption:\n", "Kelvora.disk[1].path:", &v));
    CHECK(v == "C:\\data");
    REQUIRE(hostrc::lookupValue("Kelvora.disk[1].path: C:\\data\nKelvora.ip.caption:\n", "Kelvora.ip.caption:", &v));
    CHECK(v == "");
}

TEST_CASE("the readers give the default on absent keys, missing files and bad values") {
    const std::string path = rcFile(
        "Kelvora.a: 17\nKelvora.b: -2147483648\nKelvora.c: 12abc\nKelvora.d: 2147483648\nKelvora.e:\n"
        "Kelvora.t: TRUE\nKelvora.f: false\nKelvora.g: yes\n"
        "Kelvora.red: #ff0000\nKelvora.mix: #102030\nKelvora.short: #12345\nKelvora.word: red\n");
    const char* f = path.c_str();
    CHECK(hostrc::readIntOr(f, "Kelvora.a:", 5) == 17);
    CHECK(hostrc::readIntOr(f, "Kelvora.b:", 5) == -2147483647 - 1);
    CHECK(hostrc::readIntOr(f, "Kelvora.c:", 5) == 5);
    CHECK(hostrc::readIntOr(f, "Kelvora.d:", 5) == 5);
    CHECK(hostrc::readIntOr(f, "Kelvora.e:", 5) == 5);
    CHECK(hostrc::readIntOr(f, "Kelvora.absent:", -9) == -9);
    CHECK(hostrc::readIntOr("C:\\no\\such\\file.rc", "Kelvora.a:", 3) == 3);

    CHECK(hostrc::readBoolOr(f, "Kelvora.t:", false));
    CHECK_FALSE(hostrc::readBoolOr(f, "Kelvora.f:", true));
    CHECK(hostrc::readBoolOr(f, "Kelvora.g:", true));
    CHECK_FALSE(hostrc::readBoolOr(f, "Kelvora.g:", false));

    CHECK(hostrc::readColorOr(f, "Kelvora.red:", "#000000") == RGB(255, 0, 0));
    CHECK(hostrc::readColorOr(f, "Kelvora.mix:", "#000000") == RGB(0x10, 0x20, 0x30));
    CHECK(hostrc::readColorOr(f, "Kelvora.short:", "#FFFFFF") == RGB(255, 255, 255));
    CHECK(hostrc::readColorOr(f, "Kelvora.word:", "#0000FF") == RGB(0, 0, 255));
    CHECK(hostrc::readColorOr(f, "Kelvora.absent:", "#00FF00") == RGB(0, 255, 0));
    CHECK(hostrc::readColorOr(f, "Kelvora.absent:", "green") == 0);
    CHECK(hostrc::readColorOr(f, "Kelvora.absent:", nullptr) == 0);

    std::string text;
    CHECK_FALSE(hostrc::readText(f, "Kelvora.absent:", &text));
    REQUIRE(hostrc::readText(f, "Kelvora.word:", &text));
    CHECK(text == "red");
}

TEST_CASE("a read sees the file as it is now") {
    const std::string path = rcFile("Kelvora.x: 1\n");
    CHECK(hostrc::readIntOr(path.c_str(), "Kelvora.x:", 0) == 1);
    writeFile(path, "Kelvora.x: 2\n");
    CHECK(hostrc::readIntOr(path.c_str(), "Kelvora.x:", 0) == 2);
}

TEST_CASE("WriteInt replaces the value bytes of the first occurrence and ends every line in CRLF") {
    // Line ends of both kinds, as a file edited on two systems has them.
    const std::string before =
        "! Kelvora example\r\n"
        "# Kelvora.x: 7 (a comment, not the key)\n"
        "kelvora.X:\t\t150   \r\n"
        "Kelvora.width:  240\n"
        "\n"
        "Kelvora.x: 999\r\n"
        "Other.key: untouched\n"
        "Kelvora.y:120";
    const std::string path = rcFile(before);
    std::string error;
    REQUIRE(hostrc::storeValue(path.c_str(), "Kelvora.x:", "-35", &error));
    REQUIRE(hostrc::storeValue(path.c_str(), "Kelvora.y:", "4096", &error));
    const std::string expected =
        "! Kelvora example\r\n"
        "# Kelvora.x: 7 (a comment, not the key)\r\n"
        "kelvora.X:\t\t-35   \r\n"
        "Kelvora.width:  240\r\n"
        "\r\n"
        "Kelvora.x: 999\r\n"
        "Other.key: untouched\r\n"
        "Kelvora.y:4096\r\n";
    CHECK(readBack(path) == expected);
    CHECK(hostrc::readIntOr(path.c_str(), "Kelvora.x:", 0) == -35);
}

TEST_CASE("WriteInt appends an absent key as a CRLF line") {
    SUBCASE("after a last line without a line end") {
        CHECK(hostrc::withValue("A: 1\r\nB: 2", "Kelvora.x:", "5") == "A: 1\r\nB: 2\r\nKelvora.x: 5\r\n");
    }
    SUBCASE("in a file of plain line ends, which all become CRLF") {
        CHECK(hostrc::withValue("A: 1\n\nB: 2\n", "Kelvora.y", "6") == "A: 1\r\n\r\nB: 2\r\nKelvora.y: 6\r\n");
    }
    SUBCASE("into a file that does not exist yet") {
        const std::string path = makeTempDir() + "new.rc";
        std::string error;
        REQUIRE(hostrc::storeValue(path.c_str(), "Kelvora.x:", "12", &error));
        CHECK(readBack(path) == "Kelvora.x: 12\r\n");
    }
    SUBCASE("a key present without a value gets one") {
        CHECK(hostrc::withValue("Kelvora.x:\nKelvora.y: 3\n", "Kelvora.x:", "8") == "Kelvora.x: 8\r\nKelvora.y: 3\r\n");
    }
}

TEST_CASE("WriteInt leaves no temporary file behind, and the old file alone when it cannot write") {
    const std::string dir = makeTempDir();
    const std::string path = dir + "Kelvora.rc";
    writeFile(path, "Kelvora.x: 1\n");
    std::string error;
    for (int i = 0; i < 20; ++i) REQUIRE(hostrc::storeValue(path.c_str(), "Kelvora.x:", std::to_string(i), &error));
    CHECK(filesIn(dir) == 1);
    CHECK(readBack(path) == "Kelvora.x: 19\r\n");

    // A read-only rc file cannot be replaced: it stays whole and unchanged.
    REQUIRE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK_FALSE(hostrc::storeValue(path.c_str(), "Kelvora.x:", "77", &error));
    CHECK_FALSE(error.empty());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    CHECK(readBack(path) == "Kelvora.x: 19\r\n");
    CHECK(filesIn(dir) == 1);

    CHECK_FALSE(hostrc::storeValue("C:\\no\\such\\folder\\Kelvora.rc", "Kelvora.x:", "1", &error));
    // A name that cannot be read as a file is not replaced by a file holding only the key.
    CHECK_FALSE(hostrc::storeValue(dir.substr(0, dir.size() - 1).c_str(), "Kelvora.x:", "1", &error));
    CHECK(readBack(path) == "Kelvora.x: 19\r\n");
}
