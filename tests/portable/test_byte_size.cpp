// Byte-size and byte-rate texts: the unit thresholds, the rounding of halves, the extremes, and
// an integer-arithmetic oracle over many counts below 2^46.
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

#include "sampling/byte_size.h"
#include "doctest.h"

namespace {

std::string formatted(int64_t bytes) {
    char text[BYTE_SIZE_TEXT_MAX + 8];
    memset(text, 'x', sizeof text);
    formatByteSize(text, bytes);
    return text;
}

std::string rate(int64_t bytesPerSecond, size_t size = BYTE_RATE_TEXT_SIZE) {
    char text[BYTE_RATE_TEXT_SIZE + 8];
    memset(text, 'x', sizeof text);
    formatByteRate(text, size, bytesPerSecond);
    return text;
}

// The expected text from integers alone: the exact quotient bytes / 2^shift scaled
// by 10^decimals, an exact half rounded up. Rates show one decimal in KB/s, sizes three.
std::string oracle(int64_t bytes, bool isRate = false) {
    const std::string per = isRate ? "/s" : "";
    if (bytes < 1024) return std::to_string(bytes) + " B" + per;
    int shift = 30, decimals = 2;
    uint64_t scale = 100;
    const char* unit = " GB";
    if (bytes < 1048576) {
        shift = 10, decimals = isRate ? 1 : 3, scale = isRate ? 10 : 1000, unit = " KB";
    } else if (bytes < 1073741824) {
        shift = 20, decimals = 1, scale = 10, unit = " MB";
    }
    // bytes < 2^46 keeps 2 × bytes × 1000 within 64 bits.
    const uint64_t scaled = (2 * static_cast<uint64_t>(bytes) * scale + (uint64_t{1} << shift)) >> (shift + 1);
    std::string fraction = std::to_string(scaled % scale);
    fraction.insert(0, static_cast<size_t>(decimals) - fraction.size(), '0');
    return std::to_string(scaled / scale) + "." + fraction + unit + per;
}

// A small deterministic generator, so that a failing count can be reproduced.
uint64_t nextRandom(uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 11;
}

// Reports only the first few mismatches of a long run.
struct OracleRun {
    int mismatches = 0;
    long long checked = 0;
    void check(int64_t bytes) {
        for (bool isRate : {false, true}) {
            ++checked;
            const std::string expected = oracle(bytes, isRate);
            const std::string actual = isRate ? rate(bytes) : formatted(bytes);
            if (expected == actual) continue;
            if (++mismatches <= 5) FAIL_CHECK(bytes << ": expected \"" << expected << "\", got \"" << actual << "\"");
        }
    }
};

}  // namespace

TEST_CASE("each unit starts at its threshold and halves round up") {
    struct Case { int64_t bytes; const char* text; };
    const Case cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.000 KB"},
        {1088, "1.063 KB"},
        {10000, "9.766 KB"},
        {1048575, "1023.999 KB"},
        {1048576, "1.0 MB"},
        {1310720, "1.3 MB"},
        {1073689395, "1023.9 MB"},
        {1073689396, "1024.0 MB"},
        {1073741823, "1024.0 MB"},
        {1073741824, "1.00 GB"},
        {1207959552, "1.13 GB"},
        {4294967296, "4.00 GB"},
        {INT64_MAX, "8589934592.00 GB"},
        {-1, "-1 B"},
        {INT64_MIN, "-9223372036854775808 B"},
    };
    for (const Case& c : cases) CHECK_MESSAGE(formatted(c.bytes) == c.text, c.bytes);
}

TEST_CASE("rates: the whole number below 1024 B/s, one decimal in KB/s and MB/s, two in GB/s") {
    struct Case { int64_t bytesPerSecond; const char* text; };
    const Case cases[] = {
        {0, "0 B/s"},
        {1023, "1023 B/s"},
        {1024, "1.0 KB/s"},
        {1280, "1.3 KB/s"},  // exactly 1.25, rounded up
        {1000000, "976.6 KB/s"},
        {1048575, "1024.0 KB/s"},  // below the MB step, whatever the rounding shows
        {1048576, "1.0 MB/s"},
        {1258291, "1.2 MB/s"},
        {1310720, "1.3 MB/s"},  // exactly 1.25
        {1073741823, "1024.0 MB/s"},
        {1073741824, "1.00 GB/s"},
        {1207959552, "1.13 GB/s"},  // exactly 1.125
        {INT64_MAX, "8589934592.00 GB/s"},
        {INT64_MIN, "-9223372036854775808 B/s"},
    };
    for (const Case& c : cases) CHECK_MESSAGE(rate(c.bytesPerSecond) == c.text, c.bytesPerSecond);
    // A short buffer takes what fits, always terminated; the sizes' texts are unchanged above.
    CHECK(rate(1000000, 6) == "976.6");
    CHECK(rate(1000000, 1) == "");
    CHECK(rate(INT64_MIN, BYTE_RATE_TEXT_MAX + 1) == "-9223372036854775808 B/s");
}

TEST_CASE("large counts round as a double quotient taken to 17 significant digits") {
    // 123456789.0049999952...: its 17 significant digits 123456789.00500000 round up.
    CHECK(formatted(132560717811411840LL) == "123456789.01 GB");
    // 1234567.00499999996...: 17 digits keep the 4 (16 would round it up to a 5).
    CHECK(formatted(1325606227798917LL) == "1234567.00 GB");
    CHECK(formatted(132560717811411785LL) == "123456789.00 GB");
    // The count itself becomes a double first: 8000000000.0049996... turns into 8000000000.0050001...
    CHECK(formatted(8589934592005368321LL) == "8000000000.01 GB");
    // A count halfway between two doubles takes the even one: here the upper, then the lower.
    CHECK(formatted(4294967296005368576LL) == "4000000000.01 GB");
    CHECK(formatted(8589934592005368320LL) == "8000000000.00 GB");
}

TEST_CASE("the text never depends on the locale's decimal point") {
    const char* previous = setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    // Windows runtimes know the first name; a Linux machine may have none of them.
    const char* german = nullptr;
    for (const char* name : {"German_Germany.1252", "de_DE.UTF-8", "de_DE"})
        if (!german) german = setlocale(LC_ALL, name);
    if (!german) {
        MESSAGE("no locale with a decimal comma on this machine");
        return;
    }
    char probe[16];
    snprintf(probe, sizeof probe, "%.1f", 1.5);
    REQUIRE(std::string(probe) == "1,5");  // the runtime itself now prints a comma
    CHECK(formatted(1088) == "1.063 KB");
    CHECK(formatted(1310720) == "1.3 MB");
    setlocale(LC_ALL, saved.c_str());
}

TEST_CASE("every count below 2^46 matches exact rounding with halves up") {
    OracleRun run;
    SUBCASE("every count below 1 MiB") {
        for (int64_t bytes = -2048; bytes < 1048576 + 2048; ++bytes) run.check(bytes);
    }
    SUBCASE("the exact halves of MB and GB texts and their neighbours") {
        // Quotients of a quarter (MB) and an eighth (GB) of an odd count sit on a half.
        for (int64_t k = 4; k <= 4096; ++k)
            for (int64_t d = -1; d <= 1; ++d) run.check(k * (int64_t{1} << 18) + d);
        for (int64_t k = 8; k < (int64_t{1} << 19); ++k)
            for (int64_t d = -1; d <= 1; ++d) run.check(k * (int64_t{1} << 27) + d);
    }
    SUBCASE("random counts of every length up to 46 bits") {
        uint64_t state = 20240601;
        for (int i = 0; i < 2000000; ++i) {
            const int bits = 1 + static_cast<int>(nextRandom(state) % 46);
            run.check(static_cast<int64_t>(nextRandom(state) & ((uint64_t{1} << bits) - 1)));
        }
    }
    CHECK(run.mismatches == 0);
    CHECK(run.checked > 1000000);
}
