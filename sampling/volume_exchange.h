// The hand-off of volume queries between the shell's thread and the thread that makes them: one
// slot a disk, whose state says who may touch it. No windows.h, so it also builds natively.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int VOLUME_SLOTS = 26;            // the disk slots 1..25; slot 0 is never used
constexpr size_t VOLUME_PATH_SIZE = 100;    // a disk path of the model
constexpr size_t VOLUME_NAME_SIZE = 40;     // a volume label (32 characters) or file system name

struct VolumeAnswer {
    bool found;          // the free-space query succeeded
    uint64_t freeBytes;  // all free bytes of the volume
    uint64_t totalBytes;
    bool described;      // label and file system are known
    char label[VOLUME_NAME_SIZE];
    char fileSystem[VOLUME_NAME_SIZE];
};

// Idle: the shell's thread owns path and answer. Queued and running: the querying thread reads
// path and writes answer. Answered: the shell's thread takes the answer, and the slot is idle.
enum VolumeSlotState : int32_t { VOLUME_IDLE = 0, VOLUME_QUEUED, VOLUME_RUNNING, VOLUME_ANSWERED };

struct VolumeSlot {
    std::atomic<int32_t> state{VOLUME_IDLE};
    char path[VOLUME_PATH_SIZE] = {};
    VolumeAnswer answer = {};
};

// Shared by the shell's thread and every thread that queries for it; the last one to let go
// frees it, so a query that hangs past the plugin's stop still has somewhere to write.
struct VolumeExchange {
    VolumeSlot slots[VOLUME_SLOTS];
    std::atomic<int32_t> holders{1};
    // Set at the plugin's stop: answers are still written, but nobody is told of them.
    std::atomic<bool> stopping{false};
};

// Hands the slot a path to query; false while a query of the slot is out or its answer not taken,
// so that a query is never asked for twice.
bool queueVolumeQuery(VolumeSlot& slot, const char* path);
// The querying thread's side: takes a queued query, then answers it.
bool claimVolumeQuery(VolumeSlot& slot);
void answerVolumeQuery(VolumeSlot& slot, const VolumeAnswer& answer);
// The shell's side: the answer and the path it belongs to, when one is there; the slot is then idle.
bool takeVolumeAnswer(VolumeSlot& slot, VolumeAnswer* answer, char* path, size_t pathSize);
// True for the holder that let go last, which then frees the exchange.
bool letGoOfExchange(VolumeExchange& exchange);
