// The shell functions that the plugin does not import but looks up at start, so that it still
// loads in a shell without them. Each is null where the shell lacks it; its feature then falls
// back (shell/commands.cpp, shell/placement.cpp).
#pragma once

#include "shell/host_api.h"

struct HostExtras {
    WriteBoolFn writeBool;
    WriteStringFn writeString;
    MakeMenuItemIntFn makeMenuItemInt;
    SnapWindowToEdgeFn snapWindowToEdge;
};

extern HostExtras hostExtras;

// Looks each one up in the module of the shell that runs the plugin.
void lookUpHostExtras();
