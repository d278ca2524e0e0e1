// Path expansion and splitting of a part's action text.
#include "shell/action_line.h"

#include <cstdio>
#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

const char* skipBlanks(const char* text) {
    while (isBlank(*text)) ++text;
    return text;
}

// Copies length bytes of text into out, cut to size.
void copyPart(const char* text, size_t length, char* out, size_t size) {
    if (size == 0) return;
    const size_t kept = length < size - 1 ? length : size - 1;
    memcpy(out, text, kept);
    out[kept] = '\0';
}

}  // namespace

bool isBroadcastAction(const char* action) { return action[0] == '@'; }

void expandPath(const char* action, const char* path, char* out, size_t size) {
    if (size == 0) return;
    size_t at = 0;
    for (const char* c = action; *c && at + 1 < size; ++c) {
        if (c[0] == '%' && c[1] == 's') {
            for (const char* p = path; *p && at + 1 < size; ++p) out[at++] = *p;
            ++c;
            continue;
        }
        out[at++] = *c;
    }
    out[at] = '\0';
}

void splitCommandLine(const char* line, char* program, size_t programSize, char* arguments, size_t argumentsSize) {
    const char* start = skipBlanks(line);
    const char* rest;
    if (*start == '"') {
        const char* close = strchr(start + 1, '"');
        const size_t length = close ? static_cast<size_t>(close - start - 1) : strlen(start + 1);
        copyPart(start + 1, length, program, programSize);
        rest = close ? close + 1 : start + 1 + length;
    } else {
        const char* end = start;
        while (*end && !isBlank(*end)) ++end;
        copyPart(start, static_cast<size_t>(end - start), program, programSize);
        rest = end;
    }
    rest = skipBlanks(rest);
    copyPart(rest, strlen(rest), arguments, argumentsSize);
}

bool namedWithoutFolder(const char* program) { return program[0] && !strpbrk(program, "\\/:"); }
