// Module entry of Kelvora.dll. No thread needs the module's attention as it starts or ends (the
// volume worker uses nothing of the thread library), so it asks not to be called for them.
#include <windows.h>

// The C++ runtime is linked statically, and with it the exception-handling emergency pool
// (about 70 KB) that it allocates when the module loads and never frees. A shell that
// unloads and loads the plugin again would lose that much each time; this returns it.
namespace __gnu_cxx {
void __freeres();
}

// The thread library linked in (winpthreads) keeps a record of each thread that calls into
// it, with a duplicate of the thread's handle and an event; in a 32-bit build the unwinder's
// frame registration makes one for the shell's thread as the module loads. The library
// drops a record when its thread ends, never when the module is unloaded while the thread
// goes on, so each unload would leave two kernel handles behind. Its thread-detach callback
// is what releases the record: the module calls it for the unloading thread. Depending on
// the system, either the loader's TLS callbacks (the thread library's in .CRT$XLF, ours just
// before it) or the entry point run first at an unload, and Windows XP calls no TLS callback
// of a module loaded at run time at all; whichever comes second finds no record left.
extern "C" PIMAGE_TLS_CALLBACK __xl_f;

namespace {

void releaseThreadRecord(PVOID instance) { __xl_f(instance, DLL_THREAD_DETACH, nullptr); }

void NTAPI unloadCallback(PVOID instance, DWORD reason, PVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && !reserved) releaseThreadRecord(instance);
}

}  // namespace

extern "C" __attribute__((section(".CRT$XLE"), used)) const PIMAGE_TLS_CALLBACK kelvoraUnloadCallback = unloadCallback;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // At process exit (reserved not null) the system takes everything back anyway.
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        releaseThreadRecord(instance);
        __gnu_cxx::__freeres();
    }
    return TRUE;
}
