// Byte-size and byte-rate texts built from the exact decimal digits of the quotient, so that
// the rounding is the same under every C runtime and locale (no %f, no %I64d).
#include "sampling/byte_size.h"

#include <cstring>

namespace {

constexpr int SIGNIFICANT_DIGITS = 17;

// A decimal number as digit values, most significant first, with the decimal
// point after the first integerDigits digits: up to 20 integer digits and 30
// fraction digits (30 binary places give 30 decimal places), and a carry digit.
struct DecimalDigits {
    unsigned char digit[64];
    int count;
    int integerDigits;
};

// A bounded text under construction; a full text drops further characters. Room for the longer
// of the two kinds of text: no byte size comes near it.
constexpr int TEXT_MAX = BYTE_RATE_TEXT_MAX;
static_assert(TEXT_MAX >= BYTE_SIZE_TEXT_MAX, "the builder holds every byte-size text");

struct TextBuilder {
    char text[TEXT_MAX + 1];
    int length;
    void append(char c) {
        if (length < TEXT_MAX) text[length++] = c;
    }
    void appendText(const char* s) {
        while (*s) append(*s++);
    }
};

void appendUnsigned(TextBuilder& out, uint64_t value) {
    char reversed[20];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) out.append(reversed[--n]);
}

void pushDigit(DecimalDigits& number, unsigned value) {
    if (number.count < static_cast<int>(sizeof number.digit)) number.digit[number.count++] = static_cast<unsigned char>(value);
}

// The count as a double holds it: exact below 2^53, above that rounded to 53
// significant bits, to nearest with ties to even. The largest result is 2^63,
// which still fits the unsigned type.
uint64_t roundedAsDouble(uint64_t count) {
    int bits = 0;
    for (uint64_t rest = count; rest != 0; rest >>= 1) ++bits;
    if (bits <= 53) return count;
    const uint64_t unit = uint64_t{1} << (bits - 53);
    const uint64_t low = count & (unit - 1);
    uint64_t kept = count - low;
    if (low > unit / 2 || (low == unit / 2 && (kept & unit) != 0)) kept += unit;
    return kept;
}

// The exact decimal expansion of count / 2^shift, the double-precision quotient of
// the count by the power of two: a division that only moves the binary point, so
// its fraction ends after at most shift digits. Integer arithmetic keeps it free
// of the excess precision that x87 code may carry in a double.
DecimalDigits exactQuotient(uint64_t count, int shift) {
    const uint64_t mask = (uint64_t{1} << shift) - 1;
    uint64_t integerPart = count >> shift;
    uint64_t remainder = count & mask;

    DecimalDigits number = {};
    unsigned char reversed[20];
    int n = 0;
    do {
        reversed[n++] = static_cast<unsigned char>(integerPart % 10);
        integerPart /= 10;
    } while (integerPart != 0);
    while (n > 0) pushDigit(number, reversed[--n]);
    number.integerDigits = number.count;

    // remainder < 2^30, so ten times it stays far within 64 bits.
    while (remainder != 0) {
        remainder *= 10;
        pushDigit(number, static_cast<unsigned>(remainder >> shift));
        remainder &= mask;
    }
    return number;
}

// Keeps the first kept digits; a following digit of 5 or more raises the last kept
// digit, and a carry out of the top adds a leading 1.
void roundToDigits(DecimalDigits& number, int kept) {
    if (number.count <= kept) return;
    bool carry = number.digit[kept] >= 5;
    number.count = kept;
    for (int i = kept - 1; carry && i >= 0; --i) {
        if (number.digit[i] == 9) {
            number.digit[i] = 0;
        } else {
            ++number.digit[i];
            carry = false;
        }
    }
    if (carry) {
        memmove(number.digit + 1, number.digit, static_cast<size_t>(number.count));
        number.digit[0] = 1;
        ++number.count;
        ++number.integerDigits;
    }
}

// Fixed-point text of the quotient of a count of at least 2^shift by 2^shift: its
// 17 significant digits, then rounded to the shown decimals.
void appendFixed(TextBuilder& out, int64_t bytes, int shift, int decimals) {
    DecimalDigits number = exactQuotient(roundedAsDouble(static_cast<uint64_t>(bytes)), shift);
    roundToDigits(number, SIGNIFICANT_DIGITS);
    roundToDigits(number, number.integerDigits + decimals);
    for (int i = 0; i < number.integerDigits + decimals; ++i) {
        if (i == number.integerDigits) out.append('.');
        out.append(static_cast<char>('0' + (i < number.count ? number.digit[i] : 0)));
    }
}

// Decimals shown in KB, MB and GB.
struct UnitDecimals {
    int kb, mb, gb;
};

// The count in the largest unit it reaches, 1024 to a step: below 1024 the whole count (negative
// counts included), then the quotient with the given decimals.
TextBuilder inUnits(int64_t bytes, UnitDecimals decimals, const char* perUnit) {
    TextBuilder out = {};
    if (bytes < 1024) {
        // The magnitude in unsigned arithmetic: the most negative count has no positive twin.
        uint64_t magnitude = static_cast<uint64_t>(bytes);
        if (bytes < 0) {
            out.append('-');
            magnitude = 0 - magnitude;
        }
        appendUnsigned(out, magnitude);
        out.appendText(" B");
    } else if (bytes < 1048576) {
        appendFixed(out, bytes, 10, decimals.kb);
        out.appendText(" KB");
    } else if (bytes < 1073741824) {
        appendFixed(out, bytes, 20, decimals.mb);
        out.appendText(" MB");
    } else {
        appendFixed(out, bytes, 30, decimals.gb);
        out.appendText(" GB");
    }
    out.appendText(perUnit);
    out.text[out.length] = '\0';
    return out;
}

}  // namespace

void formatByteSize(char* text, int64_t bytes) {
    const TextBuilder out = inUnits(bytes, UnitDecimals{3, 1, 2}, "");
    memcpy(text, out.text, static_cast<size_t>(out.length) + 1);
}

void formatByteRate(char* text, size_t size, int64_t bytesPerSecond) {
    if (size == 0) return;
    const TextBuilder out = inUnits(bytesPerSecond, UnitDecimals{1, 1, 2}, "/s");
    const size_t length = static_cast<size_t>(out.length) < size - 1 ? static_cast<size_t>(out.length) : size - 1;
    memcpy(text, out.text, length);
    text[length] = '\0';
}
