// The arithmetic of Kelvora's own share: readings kept every few seconds, shares between two
// readings in exact integers, and their texts.
#include "sampling/own_share.h"

#include <cstdio>

#include "sampling/exact_math.h"

namespace {

constexpr uint64_t NANOSECONDS = 1000000000;
constexpr uint64_t MILLIONTHS = 1000000;

uint64_t nanosecondsOf(uint64_t ticks, uint64_t rate) { return rate ? mulDivFloor(ticks, NANOSECONDS, rate) : 0; }

const OwnTimes& keptAt(const OwnShareAccount& account, int age) {
    return account.kept[(account.newest - age + OWN_SHARE_KEPT) % OWN_SHARE_KEPT];
}

}  // namespace

void startOwnShare(OwnShareAccount& account, const OwnTimes& now) {
    account.start = now;
    account.newest = 0;
    account.count = 0;
}

bool keepOwnTimes(OwnShareAccount& account, const OwnTimes& now, uint64_t wallRate) {
    const OwnTimes& newest = account.count ? keptAt(account, 0) : account.start;
    if (now.wall - newest.wall < OWN_SHARE_STEP_SECONDS * wallRate) return false;
    account.newest = (account.newest + 1) % OWN_SHARE_KEPT;
    account.kept[account.newest] = now;
    if (account.count < OWN_SHARE_KEPT) ++account.count;
    return true;
}

uint64_t ownNanoseconds(const OwnTimes& from, const OwnTimes& to, const OwnRates& rates) {
    return saturatingAdd(nanosecondsOf(to.shell - from.shell, rates.shell),
                         nanosecondsOf(to.workers - from.workers, rates.workers));
}

uint64_t ownShareBetween(const OwnTimes& from, const OwnTimes& to, const OwnRates& rates) {
    const uint64_t wall = nanosecondsOf(to.wall - from.wall, rates.wall);
    return wall ? mulDivFloor(ownNanoseconds(from, to, rates), MILLIONTHS, wall) : 0;
}

uint64_t lastMinuteShare(const OwnShareAccount& account, const OwnTimes& now, const OwnRates& rates) {
    const uint64_t window = OWN_SHARE_WINDOW_SECONDS * rates.wall;
    // The oldest first: the start, then the kept readings from the oldest.
    const OwnTimes* from = now.wall - account.start.wall <= window ? &account.start : nullptr;
    for (int age = account.count - 1; age >= 0 && !from; --age)
        if (now.wall - keptAt(account, age).wall <= window) from = &keptAt(account, age);
    if (!from) from = account.count ? &keptAt(account, 0) : &account.start;
    return ownShareBetween(*from, now, rates);
}

uint64_t shareSinceStart(const OwnShareAccount& account, const OwnTimes& now, const OwnRates& rates) {
    return ownShareBetween(account.start, now, rates);
}

uint64_t calibratedRate(uint64_t advance, uint64_t span, uint64_t spanRate) {
    return span ? mulDivFloor(advance, spanRate, span) : 0;
}

void formatOwnShare(char* text, size_t size, uint64_t millionths) {
    if (size == 0) return;
    if (millionths < 100) {
        snprintf(text, size, "< 0.01%%");
        return;
    }
    const uint64_t hundredths = millionths / 100 + (millionths % 100 >= 50 ? 1 : 0);
    snprintf(text, size, "%llu.%02u%%", static_cast<unsigned long long>(hundredths / 100),
             static_cast<unsigned>(hundredths % 100));
}

void formatOwnSeconds(char* text, size_t size, uint64_t nanoseconds) {
    if (size == 0) return;
    const uint64_t milliseconds = nanoseconds / 1000000 + (nanoseconds % 1000000 >= 500000 ? 1 : 0);
    snprintf(text, size, "%llu.%03u s", static_cast<unsigned long long>(milliseconds / 1000),
             static_cast<unsigned>(milliseconds % 1000));
}
