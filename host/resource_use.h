// What a process holds: committed private memory, GDI objects, USER objects and kernel
// handles, measured the same way by the stand-in host and by the tests.
#pragma once

#include <cstddef>

namespace resourceuse {

// Private memory in use, in bytes: the heaps' blocks as asked for, and every other committed
// private region whole (Wine reports no PrivateUsage in the process memory counters). A heap
// keeps the pages it once needed, so its committed size follows the highest use, which the
// order of the allocations decides, and that order follows the machine's load.
size_t privateBytes();
// GDI objects of this process; -1 when they cannot be counted.
int gdiObjectCount();
// USER objects of this process where the system counts them. Wine does not: there it is the
// number of USER objects in use on the whole display (every process of the wineserver),
// which is steady while nothing else starts or ends.
unsigned userObjectCount();
// Kernel handles of this process.
unsigned long kernelHandleCount();
// Threads of this process.
int threadCount();
// Processor time this process has used so far, user and kernel, in milliseconds.
unsigned long long processorMilliseconds();

}  // namespace resourceuse
