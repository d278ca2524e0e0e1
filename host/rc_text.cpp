// rc text rules of the stand-in host: comments, case-blind keys, first occurrence wins,
// and value replacement that keeps every line, rewritten with CRLF line ends.
#include "host/rc_text.h"

#include <cerrno>
#include <cstdlib>

namespace hostrc {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameWithoutCase(const std::string& text, size_t at, const std::string& word) {
    if (text.size() - at < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (lowerAscii(text[at + i]) != lowerAscii(word[i])) return false;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Examines one line [begin, end) (end excludes the newline) for the key.
bool matchLine(const std::string& text, size_t begin, size_t end, const std::string& key, ValueSpan* span) {
    if (end > begin && text[end - 1] == '\r') --end;
    size_t at = begin;
    while (at < end && isBlank(text[at])) ++at;
    if (at == end || text[at] == '!' || text[at] == '#') return false;
    if (end - at < key.size() || !sameWithoutCase(text, at, key)) return false;
    size_t value = at + key.size();
    span->blankAfterColon = value < end && isBlank(text[value]);
    while (value < end && isBlank(text[value])) ++value;
    size_t valueEnd = end;
    while (valueEnd > value && isBlank(text[valueEnd - 1])) --valueEnd;
    span->found = true;
    span->begin = value;
    span->end = valueEnd;
    return true;
}

}  // namespace

std::string normalisedKey(const char* key) {
    std::string k = key ? key : "";
    size_t first = 0;
    while (first < k.size() && isBlank(k[first])) ++first;
    size_t last = k.size();
    while (last > first && isBlank(k[last - 1])) --last;
    k = k.substr(first, last - first);
    if (k.empty() || k.back() != ':') k += ':';
    return k;
}

ValueSpan findValue(const std::string& text, const char* key) {
    const std::string wanted = normalisedKey(key);
    ValueSpan span;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t newline = text.find('\n', begin);
        size_t end = newline == std::string::npos ? text.size() : newline;
        if (matchLine(text, begin, end, wanted, &span)) return span;
        if (newline == std::string::npos) break;
        begin = newline + 1;
    }
    return ValueSpan();
}

bool lookupValue(const std::string& text, const char* key, std::string* value) {
    ValueSpan span = findValue(text, key);
    if (!span.found) return false;
    *value = text.substr(span.begin, span.end - span.begin);
    return true;
}

bool parseInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (digits == text.size()) return false;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    errno = 0;
    long long parsed = strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < -2147483647LL - 1 || parsed > 2147483647LL) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool parseBool(const std::string& text, bool* value) {
    if (text.size() == 4 && sameWithoutCase(text, 0, "true")) {
        *value = true;
        return true;
    }
    if (text.size() == 5 && sameWithoutCase(text, 0, "false")) {
        *value = false;
        return true;
    }
    return false;
}

bool parseColor(const std::string& text, unsigned* colour) {
    if (text.size() != 7 || text[0] != '#') return false;
    unsigned rgb[3];
    for (int i = 0; i < 3; ++i) {
        int high = hexDigit(text[1 + 2 * i]);
        int low = hexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0) return false;
        rgb[i] = static_cast<unsigned>(high * 16 + low);
    }
    *colour = rgb[0] | (rgb[1] << 8) | (rgb[2] << 16);
    return true;
}

std::string withValue(const std::string& text, const char* key, const std::string& value) {
    const ValueSpan span = findValue(text, key);
    std::string edited = text;
    if (span.found) {
        // A key written without any blank after its colon gets one, so the line stays readable.
        const std::string replacement = (!span.blankAfterColon && span.begin == span.end ? " " : "") + value;
        edited = text.substr(0, span.begin) + replacement + text.substr(span.end);
    }
    // The shell writes the file anew line by line, each ending in CRLF, whatever ends the
    // lines had before; a last line without a line end gets one.
    std::string result;
    size_t begin = 0;
    while (begin < edited.size()) {
        const size_t newline = edited.find('\n', begin);
        size_t end = newline == std::string::npos ? edited.size() : newline;
        if (end > begin && edited[end - 1] == '\r') --end;
        result.append(edited, begin, end - begin).append("\r\n");
        if (newline == std::string::npos) break;
        begin = newline + 1;
    }
    if (!span.found) result += normalisedKey(key) + " " + value + "\r\n";
    return result;
}

}  // namespace hostrc
