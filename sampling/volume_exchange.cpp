// Slot states of the volume hand-off. A state is stored with release order after the data it
// hands over, and loaded with acquire order before that data is read.
#include "sampling/volume_exchange.h"

#include <cstdio>
#include <cstring>

bool queueVolumeQuery(VolumeSlot& slot, const char* path) {
    if (slot.state.load(std::memory_order_acquire) != VOLUME_IDLE) return false;
    snprintf(slot.path, sizeof slot.path, "%s", path ? path : "");
    slot.state.store(VOLUME_QUEUED, std::memory_order_release);
    return true;
}

bool claimVolumeQuery(VolumeSlot& slot) {
    int32_t queued = VOLUME_QUEUED;
    return slot.state.compare_exchange_strong(queued, VOLUME_RUNNING, std::memory_order_acquire);
}

void answerVolumeQuery(VolumeSlot& slot, const VolumeAnswer& answer) {
    slot.answer = answer;
    slot.state.store(VOLUME_ANSWERED, std::memory_order_release);
}

bool takeVolumeAnswer(VolumeSlot& slot, VolumeAnswer* answer, char* path, size_t pathSize) {
    if (slot.state.load(std::memory_order_acquire) != VOLUME_ANSWERED) return false;
    *answer = slot.answer;
    snprintf(path, pathSize, "%s", slot.path);
    slot.state.store(VOLUME_IDLE, std::memory_order_release);
    return true;
}

bool letGoOfExchange(VolumeExchange& exchange) { return exchange.holders.fetch_sub(1, std::memory_order_acq_rel) == 1; }
