// The network sampler: reads the interface table (GetIfTable2 where the system has it, else
// Windows XP's GetIfTable), picks the interfaces that count and shows their rates.
#pragma once

// The order matters: the IPv6 definitions come before the table types that use them.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdint>

// The system calls the sampler makes, as a seam that tests replace with tables of their own.
struct NetPlatform {
    // GetIfTable2 and FreeMibTable, or null where the system lacks them (Windows XP); the table
    // is read with GetIfTable only then, never both ways in one reading.
    DWORD(WINAPI* getIfTable2)(PMIB_IF_TABLE2* table);
    VOID(WINAPI* freeMibTable)(PVOID memory);
    DWORD(WINAPI* getIfTable)(PMIB_IFTABLE table, PULONG size, BOOL sorted);
    // Milliseconds since the system started: the tick count the uptime row shows.
    ULONGLONG (*tickCount)();
};

// The calls the sampler uses now: the system's unless a test installed its own.
const NetPlatform& netPlatform();
// Makes the sampler use `platform` (kept by pointer) from now on; null restores the system's.
void installNetPlatform(const NetPlatform* platform);
// Looks up GetIfTable2 and FreeMibTable in the system, at start.
void lookUpNetworkTables();

void CALLBACK sampleNetwork(HWND, UINT, UINT_PTR, DWORD);

// Bytes the counted interfaces received and sent since the plugin started.
struct NetTotals {
    uint64_t received;
    uint64_t sent;
};
NetTotals netTotals();
// Reads the interface table once more and calls each with the name (UTF-8: the friendly name, or
// on Windows XP the description) and the link speeds of every interface the sampler counts.
// False when the table cannot be read.
typedef void (*CountedInterfaceVisitor)(void* context, const char* name, uint64_t inSpeed, uint64_t outSpeed);
bool listCountedInterfaces(CountedInterfaceVisitor each, void* context);
// The automatic choice's rule for a row of GetIfTable2's table: up, no loopback, and a physical
// adapter (hardware, no filter).
bool interfaceCountsByItself(const MIB_IF_ROW2& row);
// Releases the sampler's kept buffers and forgets its readings; for the plugin's stop.
void releaseNetworkSampler();

// The largest interface table read with GetIfTable: some 19,000 rows, far beyond any machine.
constexpr ULONG NET_TABLE_SIZE_LIMIT = 16u * 1024 * 1024;
