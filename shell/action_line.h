// The text of a part's action: the disk path put in for "%s", and a command line split into the
// program and its arguments. No windows.h, so the same code builds natively for sanitizers.
#pragma once

#include <cstddef>

// A broadcast command, posted to the shell, rather than a command line.
bool isBroadcastAction(const char* action);
// action with every "%s" replaced by path, into out, cut to size.
void expandPath(const char* action, const char* path, char* out, size_t size);
// Splits a command line as the shell's own [exec] menu items split theirs: blanks before it are
// skipped; a program that starts with a double quote runs to the next one (the quotes dropped),
// any other to the first blank; the arguments are the rest, the blanks before them skipped, and
// empty when there is none. Each is cut to its size.
void splitCommandLine(const char* line, char* program, size_t programSize, char* arguments, size_t argumentsSize);
// A program named without a folder: no '\', '/' or ':' in its name.
bool namedWithoutFolder(const char* program);
