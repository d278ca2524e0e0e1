// Redirects a program's own imports of a system function to a recording or counting
// replacement, so tests see exactly the calls the plugin's code makes.
#pragma once

#include <windows.h>

// Points every import slot of this program that holds target at replacement;
// returns how many slots were changed.
inline int redirectImport(void* target, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int changed = 0;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp)
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); thunk->u1.Function; ++thunk) {
            if (thunk->u1.Function != reinterpret_cast<ULONG_PTR>(target)) continue;
            DWORD old;
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), PAGE_READWRITE, &old);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), old, &old);
            ++changed;
        }
    return changed;
}
