// Byte counts as short texts in B, KB, MB or GB for the panel's memory and disk rows.
// Portable: no platform headers, so the same text comes out of every runtime.
#pragma once

#include <cstdint>

// Longest text: "-9223372036854775808 B", 22 characters; callers give at least 23 bytes.
constexpr int BYTE_SIZE_TEXT_MAX = 22;

// Writes the text for bytes into text: below 1024 "<count> B" (negative counts
// included), then "%.3f KB", "%.1f MB" and "%.2f GB" of the quotient, the decimals
// rounded from its 17-significant-digit form with a following 5 rounding up.
void formatByteSize(char* text, int64_t bytes);
