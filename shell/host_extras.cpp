// Run-time lookup of the shell functions beyond the plugin's imports.
#include "shell/host_extras.h"

HostExtras hostExtras;

namespace {

// The module that exports the plugin's imports: blackbox.exe by name, else the program that
// loaded the plugin under another name.
HMODULE shellModule() {
    HMODULE shell = GetModuleHandleA("blackbox.exe");
    return shell ? shell : GetModuleHandleA(nullptr);
}

template <typename Function>
Function lookUp(HMODULE shell, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(shell, name)));
}

}  // namespace

void lookUpHostExtras() {
    HMODULE shell = shellModule();
    hostExtras.writeBool = lookUp<WriteBoolFn>(shell, "WriteBool");
    hostExtras.writeString = lookUp<WriteStringFn>(shell, "WriteString");
    hostExtras.makeMenuItemInt = lookUp<MakeMenuItemIntFn>(shell, "MakeMenuItemInt");
    hostExtras.snapWindowToEdge = lookUp<SnapWindowToEdgeFn>(shell, "SnapWindowToEdge");
}
