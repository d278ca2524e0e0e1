// Lines of the tooltips from exact inputs: power states, volumes, link speeds, shares, and a
// text longer than its buffer.
#include <cstring>
#include <string>

#include "doctest.h"
#include "sampling/detail_text.h"
#include "support/check_lines.h"

namespace {

std::vector<std::string> linesOf(const DetailText& detail) { return testsupport::crLfLines(detail.text); }

std::vector<std::string> power(uint8_t ac, uint8_t flag, uint8_t percent, uint32_t seconds) {
    DetailText detail;
    clearDetail(detail);
    describePowerFigures(detail, PowerFigures{ac, flag, percent, seconds});
    return linesOf(detail);
}

std::string speed(uint64_t bits) {
    char text[LINK_SPEED_TEXT_SIZE];
    formatLinkSpeed(text, sizeof text, bits);
    return text;
}

}  // namespace

TEST_CASE("the battery lines say what the power status knows, and nothing it does not") {
    using testsupport::checkLines;
    // 255 has the no-battery bit and the charging bit set too: it says nothing of a battery.
    checkLines({"Battery: unknown", "AC power: unknown"}, power(255, 255, 255, 0xFFFFFFFF));
    checkLines({"No system battery", "AC power: on"}, power(1, 128, 255, 0xFFFFFFFF));
    checkLines({"Charge: 57%", "AC power: on", "Charging: yes"}, power(1, 8, 57, 0xFFFFFFFF));
    checkLines({"Charge: 100%", "AC power: off", "Charging: no", "Time left: 2:05"}, power(0, 1, 100, 7500));
    checkLines({"Charge: unknown", "AC power: unknown", "Charging: no", "Time left: 0:00"}, power(7, 0, 101, 59));
}

TEST_CASE("link speeds in decimal units with one decimal at most, and shares rounded half up") {
    CHECK(speed(0) == "0 bit/s");
    CHECK(speed(300) == "300 bit/s");
    CHECK(speed(56000) == "56 kbit/s");
    CHECK(speed(9600) == "9.6 kbit/s");
    CHECK(speed(100000000) == "100 Mbit/s");
    CHECK(speed(866666667) == "866.7 Mbit/s");
    CHECK(speed(999960000) == "1000 Mbit/s");  // rounded within its unit, never into the next
    CHECK(speed(1000000000) == "1 Gbit/s");
    CHECK(speed(2500000000) == "2.5 Gbit/s");
    CHECK(speed(UINT64_MAX) == "18446744073 Gbit/s");

    CHECK(percentOf(1, 8) == 13);  // 12.5
    CHECK(percentOf(1, 3) == 33);
    CHECK(percentOf(2, 3) == 67);
    CHECK(percentOf(5, 0) == 0);
    CHECK(percentOf(UINT64_MAX, UINT64_MAX) == 100);
    CHECK(percentOf(UINT64_MAX, 1) == INT32_MAX);

    DetailText detail;
    clearDetail(detail);
    addInterfaceLine(detail, "Ethernet", 1000000000, 1000000000);
    addInterfaceLine(detail, "Wi-Fi", 300000000, 150000000);
    addInterfaceLine(detail, "Tunnel", 0, 0);
    testsupport::checkLines({"Ethernet: 1 Gbit/s", "Wi-Fi: 300 Mbit/s down, 150 Mbit/s up", "Tunnel"}, linesOf(detail));
}

TEST_CASE("a volume's lines: sizes only once it answered, its label only when it has one") {
    DetailText detail;
    clearDetail(detail);
    describeVolumeFigures(detail, VolumeFigures{"C:\\", true, false, 1000ULL << 30, 250ULL << 30, true, "", "NTFS"});
    testsupport::checkLines({"C:\\", "Total: 1000.00 GB", "Used: 750.00 GB", "Free: 250.00 GB (25%)", "File system: NTFS"},
                            linesOf(detail));
    clearDetail(detail);
    describeVolumeFigures(detail, VolumeFigures{"\\\\server\\share\\", false, true, 0, 0, false, "", ""});
    testsupport::checkLines({"\\\\server\\share\\", "n/a"}, linesOf(detail));
    clearDetail(detail);
    describeVolumeFigures(detail, VolumeFigures{"D:\\", true, false, 0, 0, true, "Data", "FAT32"});
    testsupport::checkLines({"D:\\", "Total: 0 B", "Used: 0 B", "Free: 0 B (0%)", "Label: Data", "File system: FAT32"},
                            linesOf(detail));
}

TEST_CASE("the processors' lines: their number and the three busiest, the lower number first among equals") {
    DetailText detail;
    clearDetail(detail);
    const uint8_t loads[] = {40, 92, 7, 92, 100, 40};
    describeCoreFigures(detail, loads, 6);
    testsupport::checkLines({"Logical processors: 6", "Processor 4: 100%", "Processor 1: 92%", "Processor 3: 92%"},
                            linesOf(detail));
    clearDetail(detail);
    describeCoreFigures(detail, loads, 2);
    testsupport::checkLines({"Logical processors: 2", "Processor 1: 92%", "Processor 0: 40%"}, linesOf(detail));
    clearDetail(detail);
    describeCoreFigures(detail, loads, 0);
    testsupport::checkLines({"Logical processors: n/a"}, linesOf(detail));
}

TEST_CASE("a text longer than its buffer is cut at the end, and nothing is added after the cut") {
    DetailText detail;
    clearDetail(detail);
    const std::string long_line(300, 'x');
    for (int i = 0; i < 10; ++i) addLine(detail, "%d %s", i, long_line.c_str());
    CHECK(detail.length == DETAIL_TEXT_SIZE - 1);
    CHECK(strlen(detail.text) == detail.length);
    addLine(detail, "after");
    CHECK(detail.length == DETAIL_TEXT_SIZE - 1);
    CHECK(std::string(detail.text).find("after") == std::string::npos);
    CHECK(linesOf(detail).size() == 4);  // three whole lines of 304 bytes and the cut fourth
}
