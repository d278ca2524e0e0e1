// Entry-by-entry report of two line lists that differ.
#include "support/check_lines.h"

#include <cstdio>

#include "doctest.h"

namespace testsupport {

void checkLines(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    if (expected == actual) {
        CHECK(true);
        return;
    }
    std::string report = "line lists differ (expected | actual):\n";
    size_t n = expected.size() > actual.size() ? expected.size() : actual.size();
    for (size_t i = 0; i < n; ++i) {
        const std::string e = i < expected.size() ? expected[i] : "<none>";
        const std::string a = i < actual.size() ? actual[i] : "<none>";
        char prefix[16];
        snprintf(prefix, sizeof prefix, "%s%3u ", e == a ? "  " : "! ", static_cast<unsigned>(i));
        report += prefix + e + " | " + a + "\n";
    }
    FAIL_CHECK(report);
}

std::vector<std::string> crLfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0;;) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return lines;
        at = end + 2;
    }
}

}  // namespace testsupport
