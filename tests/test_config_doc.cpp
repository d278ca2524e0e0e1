// The key table of docs/configuration.md against the keys the reader really reads:
// same keys, same order, same readers and defaults.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "config/panel_model.h"
#include "config/settings.h"
#include "support/fake_host.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// One documented row as the fake host logs the read: "ReadInt Kelvora.x: 100".
std::string readLineOf(const std::string& key, const std::string& reader, const std::string& defaultText) {
    std::string function, shownDefault = defaultText;
    if (reader == "int") function = "ReadInt";
    if (reader == "bool") function = "ReadBool";
    if (reader == "color") function = "ReadColor";
    if (reader == "string") function = "ReadString";
    if (reader == "icon") function = "ReadString";
    if (defaultText == "(empty)") shownDefault = "\"\"";
    if (defaultText == "(none)") shownDefault = "(null)";
    std::string k = key;
    size_t n = k.find("[N]");
    if (n != std::string::npos) k.replace(n, 3, "[1]");
    return function + " " + k + " " + shownDefault;
}

std::vector<std::string> documentedReads() {
    std::ifstream doc("Z:" KELVORA_SOURCE_DIR "/docs/configuration.md");
    REQUIRE(doc.good());
    std::vector<std::string> reads;
    std::string line;
    while (std::getline(doc, line)) {
        if (line.compare(0, 3, "| `") != 0) continue;
        std::vector<std::string> cells;
        std::stringstream row(line.substr(1));
        std::string cell;
        while (std::getline(row, cell, '|')) cells.push_back(trim(cell));
        if (cells.size() < 3 || cells[0].find("`Kelvora.") != 0 || cells[0].find("@") != std::string::npos) continue;
        reads.push_back(readLineOf(cells[0].substr(1, cells[0].size() - 2), cells[1], cells[2]));
    }
    return reads;
}

}  // namespace

TEST_CASE("the documented keys are exactly the keys read, in reading order") {
    resetModel();
    fakehost::reset();
    fakehost::set("Kelvora.diskCount:", "1");
    reloadSettings();
    std::vector<std::string> actual;
    for (const std::string& line : fakehost::log)
        if (line.compare(0, 4, "Read") == 0) actual.push_back(line);
    checkLines(actual, documentedReads());
}
