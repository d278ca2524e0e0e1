// Import-table patching: points a module's import slots at a replacement, so that the
// stand-in host and the tests see the calls a plugin makes without the plugin knowing.
#pragma once

#include <windows.h>

namespace importpatch {

// Points the module's imports of `function` from `dll` (by name where the import names
// survive binding, else by the bound address `real`) at replacement. A null dll means every
// imported DLL, a null function matching by address alone. Answers the slots changed.
int patchImport(HMODULE module, const char* dll, const char* function, void* real, void* replacement);

}  // namespace importpatch
