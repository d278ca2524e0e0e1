// Exact integer arithmetic of the rate samplers: products of 64-bit counts and time bases
// that do not fit 64 bits, divided back down without rounding on the way. No windows.h.
#pragma once

#include <cstdint>

// floor(a * b / d) for d > 0, exact; UINT64_MAX when the quotient does not fit in 64 bits.
uint64_t mulDivFloor(uint64_t a, uint64_t b, uint64_t d);
// a + b, or UINT64_MAX when the sum does not fit.
// Written as the carry of the addition: 32-bit code then adds with carry and branches on it,
// where the comparison of the operands made it subtract first.
inline uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    const uint64_t sum = a + b;
    return sum < a ? UINT64_MAX : sum;
}
