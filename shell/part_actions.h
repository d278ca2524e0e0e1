// What a double click on a part runs: its action key's text, a broadcast command posted to the
// shell or a command line started through the shell's BBExecute.
#pragma once

#include <cstddef>

// The system calls of the rule for the native system folder, as a seam that tests replace.
struct ActionPlatform {
    // This 32-bit process runs on 64-bit Windows (IsWow64Process, looked up at run time).
    bool (*runsUnderWow64)();
    // The system's Windows folder; false when it cannot be had.
    bool (*windowsFolder)(char* folder, size_t size);
    bool (*fileExists)(const char* path);
};

// The calls the rule uses now: the system's unless a test installed its own.
const ActionPlatform& actionPlatform();
// Makes the rule use `platform` (kept by pointer) from now on; null restores the system's.
void installActionPlatform(const ActionPlatform* platform);

// Runs the action of a shown part; an empty action runs nothing. A disk's "%s" is its path.
void runPartAction(int id);
// The program to start for one named in an action. A 32-bit process on 64-bit Windows sees the
// 32-bit system folder where the native one is named, so a program named without a folder that
// the native system folder holds is named through that folder's alias, Sysnative; elsewhere,
// and for any other program, it stays as it is.
void programToStart(const char* program, char* out, size_t size);
