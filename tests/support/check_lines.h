// Comparison of expected and recorded line lists (host calls, system calls, messages),
// reported entry by entry on a mismatch. Needs no Windows.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

void checkLines(const std::vector<std::string>& expected, const std::vector<std::string>& actual);
// The lines of a text whose lines end in CR LF, as a tooltip's text holds them.
std::vector<std::string> crLfLines(const std::string& text);

}  // namespace testsupport
