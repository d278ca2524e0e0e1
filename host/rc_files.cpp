// rc file access of the stand-in host: every read sees the file as it is now, and
// every write goes through a temporary file that then replaces the original.
#include "host/rc_files.h"

#include <windows.h>

#include <cstdio>

#include "host/rc_text.h"

namespace hostrc {

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string lastErrorText(const char* what) {
    char text[128];
    snprintf(text, sizeof text, "%s failed (error %lu)", what, GetLastError());
    return text;
}

bool writeAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = bytes.size() - done > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size() - done);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

bool readWholeFile(const char* path, std::string* bytes) {
    bytes->clear();
    if (!path) return false;
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool replaceWholeFile(const char* path, const std::string& bytes, std::string* error) {
    char temp[MAX_PATH];
    // The temporary file lives in the same folder, so the final move is a rename on one volume.
    if (!GetTempFileNameA(folderOf(path).c_str(), "rc", 0, temp)) {
        *error = lastErrorText("GetTempFileName");
        return false;
    }
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = lastErrorText("CreateFile");
        DeleteFileA(temp);
        return false;
    }
    bool written = writeAll(file, bytes) && FlushFileBuffers(file);
    if (!written) *error = lastErrorText("WriteFile");
    CloseHandle(file);
    if (!written) {
        DeleteFileA(temp);
        return false;
    }
    if (!MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = lastErrorText("MoveFileEx");
        DeleteFileA(temp);
        return false;
    }
    return true;
}

bool readText(const char* path, const char* key, std::string* value) {
    std::string text;
    if (!path || !key || !readWholeFile(path, &text)) return false;
    return lookupValue(text, key, value);
}

int readIntOr(const char* path, const char* key, int fallback) {
    std::string value;
    int result;
    return readText(path, key, &value) && parseInt(value, &result) ? result : fallback;
}

bool readBoolOr(const char* path, const char* key, bool fallback) {
    std::string value;
    bool result;
    return readText(path, key, &value) && parseBool(value, &result) ? result : fallback;
}

unsigned readColorOr(const char* path, const char* key, const char* fallbackText) {
    std::string value;
    unsigned result;
    if (readText(path, key, &value) && parseColor(value, &result)) return result;
    return fallbackText && parseColor(fallbackText, &result) ? result : 0;
}

bool storeValue(const char* path, const char* key, const std::string& value, std::string* error) {
    if (!path || !key) {
        *error = "no file or no key";
        return false;
    }
    // A read-only rc file is the user's wish that it stays as it is; a rename over it
    // would go through on some systems.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        *error = "the file is read-only";
        return false;
    }
    std::string text;
    // An rc file that does not exist yet is an empty one; one that exists but cannot be read
    // must not be replaced by a file holding only the new key.
    if (!readWholeFile(path, &text) && attributes != INVALID_FILE_ATTRIBUTES) {
        *error = "cannot read the file";
        return false;
    }
    return replaceWholeFile(path, withValue(text, key, value), error);
}

}  // namespace hostrc
