// File side of the host's rc settings: whole-file reads, and replacement through a
// temporary file so that a crash never leaves a truncated rc file behind.
#pragma once

#include <string>

namespace hostrc {

// The file's bytes; false (and empty bytes) when it cannot be read.
bool readWholeFile(const char* path, std::string* bytes);

// Writes bytes to a temporary file beside path and moves it over path.
// On failure the old file is left as it was and error says why.
bool replaceWholeFile(const char* path, const std::string& bytes, std::string* error);

// Reads the file, sets the key's integer and writes the result back.
bool storeInt(const char* path, const char* key, int value, std::string* error);

}  // namespace hostrc
