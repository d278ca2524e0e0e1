// The IP row's sampler: the adapters' addresses (GetAdaptersAddresses) and the interface the
// default route leaves by (GetBestInterface, and GetBestInterfaceEx for IPv6 where the system has
// it). No name lookup and no socket: nothing here waits on a resolver.
#pragma once

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>

#include "sampling/detail_text.h"

// The system calls the IP row makes, as a seam that tests and the stand-in host replace.
struct IpPlatform {
    ULONG(WINAPI* getAdaptersAddresses)(ULONG family, ULONG flags, PVOID reserved, PIP_ADAPTER_ADDRESSES adapters,
                                        PULONG size);
    DWORD(WINAPI* getBestInterface)(IPAddr destination, PDWORD index);
    // Looked up at run time, null where the system lacks it: the IPv6 address then comes from the
    // adapter of the IPv4 default route.
    DWORD(WINAPI* getBestInterfaceEx)(struct sockaddr* destination, PDWORD index);
};

const IpPlatform& ipPlatform();
// Makes the row use `platform` (kept by pointer) from now on; null restores the system's.
void installIpPlatform(const IpPlatform* platform);
// Looks up GetBestInterfaceEx in the system, at start.
void lookUpIpRoutes();
// Whether Windows Sockets started: without them the row shows "n/a", as it always has.
void noteSocketsStarted(bool started);

// The tooltip of the IP row: every adapter that is up with its addresses, the default route's
// marked, and the adapter the row follows.
void describeIpInterfaces(DetailText& detail);
// Releases the kept buffers; for the plugin's stop.
void releaseIpSampler();

// The largest adapter list read: far beyond any machine's.
constexpr ULONG IP_ADAPTERS_SIZE_LIMIT = 16u * 1024 * 1024;
