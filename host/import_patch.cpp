// Import-table patching of a loaded module's import address table.
#include "host/import_patch.h"

#include <cstring>

namespace importpatch {

int patchImport(HMODULE module, const char* dll, const char* function, void* real, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return 0;
    int changed = 0;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (dll && lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
        auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        auto* names = imp->OriginalFirstThunk ? reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk) : nullptr;
        for (; thunk->u1.Function; ++thunk, names = names ? names + 1 : nullptr) {
            // By name where the import names survive binding, else by the bound address.
            const bool byName = function && names && !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                                strcmp(reinterpret_cast<const char*>(
                                           reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name),
                                       function) == 0;
            if (!byName && thunk->u1.Function != reinterpret_cast<ULONG_PTR>(real)) continue;
            DWORD old;
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), PAGE_READWRITE, &old);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), old, &old);
            ++changed;
        }
    }
    return changed;
}

}  // namespace importpatch
