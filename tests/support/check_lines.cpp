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

}  // namespace testsupport
