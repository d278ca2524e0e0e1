// Kelvora's own share from exact counter readings: rates of three units, counters that wrap, the
// last minute's readings and the texts.
#include <string>

#include "doctest.h"
#include "sampling/own_share.h"

namespace {

std::string shareText(uint64_t millionths) {
    char text[OWN_SHARE_TEXT_SIZE];
    formatOwnShare(text, sizeof text, millionths);
    return text;
}

// Milliseconds of wall time and of the shell's thread, 100 ns of the workers'.
constexpr OwnRates RATES = {1000, 1000, 10000000};

}  // namespace

TEST_CASE("a share is hundredths of a per cent of one core, halves up, and < 0.01% below one") {
    const std::pair<uint64_t, const char*> table[] = {
        {0, "< 0.01%"},    {99, "< 0.01%"},   {100, "0.01%"},      {149, "0.01%"},
        {150, "0.02%"},    {10000, "1.00%"},  {1234567, "123.46%"}, {UINT64_MAX, "1844674407370955.16%"}};
    for (const auto& entry : table) CHECK_MESSAGE(shareText(entry.first) == entry.second, entry.first);
    char seconds[OWN_SHARE_TEXT_SIZE];
    formatOwnSeconds(seconds, sizeof seconds, 1234499999);
    CHECK(std::string(seconds) == "1.234 s");
    formatOwnSeconds(seconds, sizeof seconds, 1234500000);
    CHECK(std::string(seconds) == "1.235 s");
    // A buffer too small cuts the text and still ends it.
    char small[4];
    formatOwnShare(small, sizeof small, 1234567);
    CHECK(std::string(small) == "123");
}

TEST_CASE("the shell's and the workers' times add up in their own units, across counters that wrap") {
    // 1 ms of the shell's thread and 1 ms of the workers' over 10 s: 0.02% of a core.
    const OwnTimes from = {0, 0, 0};
    const OwnTimes to = {10000, 1, 10000};
    CHECK(ownNanoseconds(from, to, RATES) == 2000000);
    CHECK(ownShareBetween(from, to, RATES) == 200);
    // The same advances with every counter passing 2^64 on the way.
    const OwnTimes late = {UINT64_MAX - 4999, UINT64_MAX, UINT64_MAX - 2};
    const OwnTimes wrapped = {late.wall + 10000, late.shell + 1, late.workers + 10000};
    CHECK(wrapped.wall < late.wall);
    CHECK(ownShareBetween(late, wrapped, RATES) == 200);
    // No wall time, or a counter without a rate: nothing to divide by, nothing counted.
    CHECK(ownShareBetween(to, to, RATES) == 0);
    CHECK(ownShareBetween(from, to, OwnRates{1000, 0, 10000000}) == 100);
    // A time-stamp counter of 3 GHz against a 10 MHz performance counter over two minutes.
    CHECK(calibratedRate(360000000000ULL, 1200000000ULL, 10000000) == 3000000000ULL);
    CHECK(calibratedRate(5, 0, 10000000) == 0);
}

TEST_CASE("the last minute starts at the oldest reading kept within it") {
    OwnShareAccount account;
    startOwnShare(account, OwnTimes{0, 0, 0});
    OwnTimes now = {0, 0, 0};
    // 30 s of 10% of a core, then quiet; a reading is offered every second and kept every 5 s.
    for (int second = 1; second <= 100; ++second) {
        now.wall += 1000;
        if (second <= 30) now.shell += 100;
        keepOwnTimes(account, now, RATES.wall);
        if (second == 20) {
            CHECK(lastMinuteShare(account, now, RATES) == 100000);  // younger than a minute: since the start
        }
    }
    CHECK(account.count == OWN_SHARE_KEPT);
    CHECK(lastMinuteShare(account, now, RATES) == 0);  // the busy half-minute ended 70 s ago
    CHECK(shareSinceStart(account, now, RATES) == 30000);
    // 20 s of a whole core: 20 s over the minute since the reading kept at 40 s.
    now.wall += 20000;
    now.shell += 20000;
    CHECK(lastMinuteShare(account, now, RATES) == 333333);
    // No reading kept for two minutes (no CPU tick): since the newest one kept.
    now.wall += 120000;
    CHECK(lastMinuteShare(account, now, RATES) == 142857);
}
