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

// The readers behind ReadInt, ReadBool, ReadColor and ReadString: the key's value from
// the file as it is now, or the default when the file, the key or a sound value is missing.
int readIntOr(const char* path, const char* key, int fallback);
bool readBoolOr(const char* path, const char* key, bool fallback);
// The default is colour text too; a default that is no colour gives black.
unsigned readColorOr(const char* path, const char* key, const char* fallbackText);
bool readText(const char* path, const char* key, std::string* value);

// Reads the file, sets the key's value text (WriteInt's number, WriteBool's "true" or
// "false") and writes the result back.
bool storeValue(const char* path, const char* key, const std::string& value, std::string* error);

}  // namespace hostrc
