// Value texts of the uptime, battery and memory rows from exact inputs.
#include <string>

#include "doctest.h"
#include "sampling/sample_text.h"

namespace {

std::string uptime(uint64_t ms) {
    char text[52];
    formatUptime(text, sizeof text, ms);
    return text;
}

}  // namespace

TEST_CASE("uptime text shows whole hours unpadded and two-digit minutes") {
    CHECK(uptime(0) == "0:00");
    CHECK(uptime(3600000 - 1) == "0:59");
    CHECK(uptime(3600000) == "1:00");
    CHECK(uptime((25 * 3600 + 60 + 1) * 1000ULL) == "25:01");
    // Past the 32-bit tick count's wrap at 49.7 days the hours keep growing.
    CHECK(uptime(50ULL * 24 * 3600000) == "1200:00");
    CHECK(uptime(4294967296ULL) == "1193:02");
}

TEST_CASE("battery text and flags follow the power status bytes") {
    BatteryState s = batteryStateOf(1, 255, 255);  // status unknown: bits 0x80 and 8 set
    CHECK(std::string(s.text) == "AC");
    CHECK(s.charging);
    CHECK(s.onAC);

    s = batteryStateOf(1, 8, 57);
    CHECK(std::string(s.text) == "57%");
    CHECK(s.charging);

    s = batteryStateOf(0, 1, 255);
    CHECK(std::string(s.text) == "255%");
    CHECK_FALSE(s.charging);
    CHECK_FALSE(s.onAC);

    CHECK_FALSE(batteryStateOf(255, 1, 50).onAC);

    s = unknownBatteryState();
    CHECK(std::string(s.text) == "n/a");
    CHECK_FALSE(s.charging);
    CHECK_FALSE(s.onAC);
}

TEST_CASE("memory texts: total, total minus available, available, in 64 bits") {
    MemoryTexts t = memoryTextsOf(17179869184ULL, 4294967296ULL);  // 16 GiB with 4 GiB free
    CHECK(std::string(t.total) == "16.00 GB");
    CHECK(std::string(t.used) == "12.00 GB");
    CHECK(std::string(t.free) == "4.00 GB");

    t = memoryTextsOf(1048576ULL * 1536, 1048576ULL * 1000);
    CHECK(std::string(t.total) == "1.50 GB");
    CHECK(std::string(t.used) == "536.0 MB");
    CHECK(std::string(t.free) == "1000.0 MB");

    // An inconsistent status never gives a negative or wrapped used count.
    t = memoryTextsOf(1000, 2000);
    CHECK(std::string(t.used) == "0 B");
}

