// Reading and editing the text of rc files ("key: value" lines) in memory; no file access
// and no windows.h, so the rules can be checked anywhere.
#pragma once

#include <cstddef>
#include <string>

namespace hostrc {

// Where the value of a key lies in an rc text: bytes [begin, end) of the first line
// that holds the key, blanks around the value excluded.
struct ValueSpan {
    bool found = false;
    size_t begin = 0;
    size_t end = 0;
    // Whether at least one blank separates the colon from the value.
    bool blankAfterColon = false;
};

// The key as lines carry it: blanks trimmed and a trailing colon added when missing.
std::string normalisedKey(const char* key);

// The first non-comment line whose key equals key (compared without case).
ValueSpan findValue(const std::string& text, const char* key);
bool lookupValue(const std::string& text, const char* key, std::string* value);

// Strict readers: the whole value must have the form, or the reader fails.
bool parseInt(const std::string& text, int* value);
bool parseBool(const std::string& text, bool* value);
// "#RRGGBB" into the COLORREF layout (red in the lowest byte).
bool parseColor(const std::string& text, unsigned* colour);

// The text as the shell writes it back: the key's value replaced in place by value (a number
// or "true"/"false" as the writers give it), or "key value" appended when the key is absent,
// and every line ending in CRLF; the lines' other bytes stay as they were.
std::string withValue(const std::string& text, const char* key, const std::string& value);

}  // namespace hostrc
