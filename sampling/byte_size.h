// Byte counts and byte rates as short texts in B, KB, MB or GB for the panel's memory, disk,
// network and disk-activity rows. Portable: no platform headers, so the same text comes out of
// every runtime.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest text: "-9223372036854775808 B", 22 characters; callers give at least 23 bytes.
constexpr int BYTE_SIZE_TEXT_MAX = 22;

// Writes the text for bytes into text: below 1024 "<count> B" (negative counts
// included), then "%.3f KB", "%.1f MB" and "%.2f GB" of the quotient, the decimals
// rounded from its 17-significant-digit form with a following 5 rounding up.
void formatByteSize(char* text, int64_t bytes);

// Longest rate text: "-9223372036854775808 B/s", 24 characters.
constexpr int BYTE_RATE_TEXT_MAX = 24;
// Room for any rate text and its terminator.
constexpr size_t BYTE_RATE_TEXT_SIZE = 32;

// Writes the text for a rate in bytes a second, cut to `size` bytes with its terminator: below
// 1024 "<count> B/s", then one decimal in KB/s and MB/s and two in GB/s, with the unit steps and
// the rounding of formatByteSize. A rate whose last digits change every second still reads at a
// glance.
void formatByteRate(char* text, size_t size, int64_t bytesPerSecond);
