// GetTickCount64 for a module that must load on Windows XP, which lacks it: the module's own
// import slot of the function, so neither the samplers nor the linked-in thread library import it.
#include <windows.h>

namespace {

// Looked up at each call, since the call is rare (the uptime timer); without it the 32-bit
// count serves, which starts again at 0 after 49.7 days.
ULONGLONG WINAPI tickCount64() {
    using TickCount64 = ULONGLONG(WINAPI*)();
    const auto system =
        reinterpret_cast<TickCount64>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64"));
    return system ? system() : GetTickCount();
}

}  // namespace

// Calls of the declared GetTickCount64 go through this pointer, under the name the import
// library would give it; the linker then takes no import of the function from kernel32.
#ifdef _WIN64
#define KELVORA_TICK_COUNT64_SLOT "__imp_GetTickCount64"
#else
#define KELVORA_TICK_COUNT64_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" ULONGLONG(WINAPI* const kelvoraTickCount64Slot)() __asm__(KELVORA_TICK_COUNT64_SLOT) = tickCount64;
