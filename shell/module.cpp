// Module entry of Kelvora.dll: the plugin creates no threads, so it asks not to be
// called for thread attach and detach.
#include <windows.h>

// The C++ runtime is linked statically, and with it the exception-handling emergency pool
// (about 70 KB) that it allocates when the module loads and never frees. A shell that
// unloads and loads the plugin again would lose that much each time; this returns it.
namespace __gnu_cxx {
void __freeres();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // At process exit (reserved not null) the system takes everything back anyway.
    if (reason == DLL_PROCESS_DETACH && !reserved) __gnu_cxx::__freeres();
    return TRUE;
}
