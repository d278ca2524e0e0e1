// Exact 64-by-64-bit products divided back to 64 bits, for rates over any counter and interval.
#include "sampling/exact_math.h"

namespace {

// The 128-bit product of two 64-bit numbers, as its high and low halves.
void multiply(uint64_t a, uint64_t b, uint64_t* high, uint64_t* low) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    *low = (middle << 32) | (p00 & 0xFFFFFFFFu);
    *high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
}

}  // namespace

uint64_t mulDivFloor(uint64_t a, uint64_t b, uint64_t d) {
    uint64_t high, low;
    multiply(a, b, &high, &low);
    if (high == 0) return low / d;
    if (high >= d) return UINT64_MAX;
    // Long division of the 128-bit product, one bit at a time; only huge counts come here.
    uint64_t quotient = 0, remainder = high;
    for (int bit = 63; bit >= 0; --bit) {
        const bool overflow = (remainder >> 63) != 0;
        remainder = (remainder << 1) | ((low >> bit) & 1);
        quotient <<= 1;
        if (overflow || remainder >= d) {
            remainder -= d;
            quotient |= 1;
        }
    }
    return quotient;
}
