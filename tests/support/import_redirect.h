// Redirects a program's own imports of a system function to a recording or counting
// replacement, so tests see exactly the calls the plugin's code makes.
#pragma once

#include <windows.h>

#include "host/import_patch.h"

// Points every import slot of this program that holds target at replacement;
// returns how many slots were changed.
inline int redirectImport(void* target, void* replacement) {
    return importpatch::patchImport(GetModuleHandleA(nullptr), nullptr, nullptr, target, replacement);
}
