// Physical disks in the performance data of the stand-in host: lists the disks a plugin sees
// (script step "disks"), and with --disk-table or the disk-table step answers the plugin's
// performance-data queries for the physical-disk object with an object of the host's own, whose
// byte counters grow at set rates. Wine's performance data has no such object.
#include <windows.h>
#include <winperf.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/rc_files.h"
#include "sampling/perf_walk.h"

namespace host {

namespace {

constexpr DWORD PHYSICAL_DISK = 234;
const char* const PHYSICAL_DISK_NAME = "234";
// The counters of each instance: the current queue length (4 bytes, as the system has it), then
// the read and write bytes.
struct FedCounter {
    DWORD index;
    DWORD type;
    DWORD size;
};
const FedCounter COUNTERS[] = {
    {198, PERF_COUNTER_RAWCOUNT, 4},
    {220, PERF_COUNTER_BULK_COUNT, 8},
    {222, PERF_COUNTER_BULK_COUNT, 8},
};
constexpr DWORD COUNTER_BLOCK_LENGTH = 32;  // ByteLength and padding, the queue length and padding, two counts

struct FedDisk {
    std::string name;
    uint64_t read = 0, write = 0;          // the counters when the table was loaded
    uint64_t readRate = 0, writeRate = 0;  // bytes a second from then on
};

bool feeding = false;
std::vector<FedDisk> fed;
LARGE_INTEGER fedSince = {};

int64_t performanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// A count at the performance time `now`: the loaded value and what its rate adds since the load,
// from the same clock as the block's PerfTime, so that a reading's rate is the fed one.
uint64_t countAt(uint64_t base, uint64_t rate, int64_t now) {
    const uint64_t ticks = static_cast<uint64_t>(now - fedSince.QuadPart);
    const uint64_t frequency = static_cast<uint64_t>(performanceFrequency());
    return base + rate * (ticks / frequency) + rate * (ticks % frequency) / frequency;
}

size_t roundUp8(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

template <typename T>
T* at(std::vector<uint8_t>& bytes, size_t offset) {
    return reinterpret_cast<T*>(bytes.data() + offset);
}

size_t append(std::vector<uint8_t>& bytes, size_t length) {
    const size_t offset = bytes.size();
    bytes.resize(offset + length, 0);
    return offset;
}

void appendInstance(std::vector<uint8_t>& bytes, const std::string& name, uint64_t read, uint64_t write) {
    WCHAR wide[256];
    if (MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, 256) == 0) wide[0] = 0;
    const size_t nameBytes = (wcslen(wide) + 1) * sizeof(WCHAR);
    const size_t length = roundUp8(sizeof(PERF_INSTANCE_DEFINITION) + nameBytes);
    const size_t offset = append(bytes, length);
    PERF_INSTANCE_DEFINITION* instance = at<PERF_INSTANCE_DEFINITION>(bytes, offset);
    instance->ByteLength = static_cast<DWORD>(length);
    instance->UniqueID = PERF_NO_UNIQUE_ID;
    instance->NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
    instance->NameLength = static_cast<DWORD>(nameBytes);
    memcpy(bytes.data() + offset + sizeof(PERF_INSTANCE_DEFINITION), wide, nameBytes);
    const size_t counters = append(bytes, COUNTER_BLOCK_LENGTH);
    at<PERF_COUNTER_BLOCK>(bytes, counters)->ByteLength = COUNTER_BLOCK_LENGTH;
    *at<DWORD>(bytes, counters + 8) = 0;
    *at<uint64_t>(bytes, counters + 16) = read;
    *at<uint64_t>(bytes, counters + 24) = write;
}

// The data block of the physical-disk object as the system lays it out: the fed disks, then
// _Total with their sums, all at one time stamp.
std::vector<uint8_t> fedBlock() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t frequency = performanceFrequency();
    std::vector<uint8_t> bytes(sizeof(PERF_DATA_BLOCK), 0);
    // Pointers into the bytes are taken anew after every append, which may move them.
    PERF_DATA_BLOCK* header = at<PERF_DATA_BLOCK>(bytes, 0);
    memcpy(header->Signature, L"PERF", 4 * sizeof(WCHAR));
    header->LittleEndian = 1;
    header->Version = PERF_DATA_VERSION;
    header->Revision = PERF_DATA_REVISION;
    header->HeaderLength = sizeof(PERF_DATA_BLOCK);
    header->NumObjectTypes = 1;
    header->DefaultObject = PHYSICAL_DISK;
    header->PerfTime = now;
    header->PerfFreq.QuadPart = frequency;
    FILETIME wall;
    GetSystemTimeAsFileTime(&wall);
    header->PerfTime100nSec.LowPart = wall.dwLowDateTime;
    header->PerfTime100nSec.HighPart = static_cast<LONG>(wall.dwHighDateTime);

    const size_t object = append(bytes, sizeof(PERF_OBJECT_TYPE));
    const size_t definitions = append(bytes, sizeof COUNTERS / sizeof *COUNTERS * sizeof(PERF_COUNTER_DEFINITION));
    const DWORD offsets[] = {8, 16, 24};
    for (size_t i = 0; i < sizeof COUNTERS / sizeof *COUNTERS; ++i) {
        PERF_COUNTER_DEFINITION* d = at<PERF_COUNTER_DEFINITION>(bytes, definitions + i * sizeof(PERF_COUNTER_DEFINITION));
        d->ByteLength = sizeof(PERF_COUNTER_DEFINITION);
        d->CounterNameTitleIndex = COUNTERS[i].index;
        d->CounterHelpTitleIndex = COUNTERS[i].index + 1;
        d->CounterType = COUNTERS[i].type;
        d->CounterSize = COUNTERS[i].size;
        d->CounterOffset = offsets[i];
    }
    const size_t instances = bytes.size();
    uint64_t totalRead = 0, totalWrite = 0;
    for (const FedDisk& disk : fed) {
        const uint64_t read = countAt(disk.read, disk.readRate, now.QuadPart);
        const uint64_t write = countAt(disk.write, disk.writeRate, now.QuadPart);
        appendInstance(bytes, disk.name, read, write);
        totalRead += read;
        totalWrite += write;
    }
    appendInstance(bytes, "_Total", totalRead, totalWrite);

    PERF_OBJECT_TYPE* type = at<PERF_OBJECT_TYPE>(bytes, object);
    type->TotalByteLength = static_cast<DWORD>(bytes.size() - object);
    type->DefinitionLength = static_cast<DWORD>(instances - object);
    type->HeaderLength = sizeof(PERF_OBJECT_TYPE);
    type->ObjectNameTitleIndex = PHYSICAL_DISK;
    type->ObjectHelpTitleIndex = PHYSICAL_DISK + 1;
    type->DetailLevel = PERF_DETAIL_NOVICE;
    type->NumCounters = sizeof COUNTERS / sizeof *COUNTERS;
    type->DefaultCounter = 0;
    type->NumInstances = static_cast<LONG>(fed.size() + 1);
    type->PerfTime = now;
    type->PerfFreq.QuadPart = frequency;
    at<PERF_DATA_BLOCK>(bytes, 0)->TotalByteLength = static_cast<DWORD>(bytes.size());
    return bytes;
}

bool parseDisk(const std::string& line, FedDisk* disk, std::string* error) {
    size_t at = 0;
    std::string key, value;
    bool bad = false;
    while (!bad && nextTableField(line, &at, &key, &value)) {
        uint64_t* numbers[] = {&disk->read, &disk->write, &disk->readRate, &disk->writeRate};
        const char* names[] = {"read", "write", "read-rate", "write-rate"};
        bool known = false;
        if (key == "name") {
            disk->name = value;
            known = true;
        }
        for (size_t i = 0; i < 4 && !known; ++i)
            if (key == names[i] && parseTableNumber(value, numbers[i])) known = true;
        bad = !known;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (bad || at < line.size() || disk->name.empty()) {
        *error = "cannot read the disk \"" + line + "\"";
        return false;
    }
    return true;
}

// The system's own data block of the physical-disk object; empty when it cannot be read.
std::vector<uint8_t> systemBlock() {
    std::vector<uint8_t> bytes(64 * 1024);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(bytes.size());
        const LONG answer = RegQueryValueExA(HKEY_PERFORMANCE_DATA, PHYSICAL_DISK_NAME, nullptr, nullptr, bytes.data(), &size);
        if (answer == ERROR_SUCCESS) {
            bytes.resize(size < bytes.size() ? size : bytes.size());
            return bytes;
        }
        if (answer != ERROR_MORE_DATA) break;
        bytes.resize(bytes.size() * 2);
    }
    return {};
}

}  // namespace

bool loadDiskTable(const char* file, std::string* error) {
    std::vector<std::string> lines;
    if (!readTableLines(file, "disk table", &lines, error)) return false;
    std::vector<FedDisk> disks;
    for (const std::string& line : lines) {
        FedDisk disk;
        if (!parseDisk(line, &disk, error)) return false;
        disks.push_back(disk);
    }
    // A disk of the table fed so far goes on from its counters now, as a real one does when only
    // its rates change.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    for (FedDisk& disk : disks)
        for (const FedDisk& before : fed)
            if (feeding && before.name == disk.name) {
                disk.read = countAt(before.read, before.readRate, now.QuadPart);
                disk.write = countAt(before.write, before.writeRate, now.QuadPart);
            }
    fed = disks;
    fedSince = now;
    feeding = true;
    logLine("disk-table %s: %u disks", quoted(file).c_str(), static_cast<unsigned>(fed.size()));
    return true;
}

bool answerDiskQuery(const char* valueName, LPBYTE data, LPDWORD size, LONG* answer) {
    if (!feeding || !valueName || strcmp(valueName, PHYSICAL_DISK_NAME) != 0 || !size) return false;
    const std::vector<uint8_t> block = fedBlock();
    if (!data || *size < block.size()) {
        *size = static_cast<DWORD>(block.size());
        *answer = ERROR_MORE_DATA;
        return true;
    }
    memcpy(data, block.data(), block.size());
    *size = static_cast<DWORD>(block.size());
    *answer = ERROR_SUCCESS;
    return true;
}

void logDisks() {
    const std::vector<uint8_t> block = feeding ? fedBlock() : systemBlock();
    perfwalk::Span whole, object, counters;
    if (!perfwalk::dataBlock(block.data(), block.size(), &whole) ||
        perfwalk::findObject(block.data(), whole, PHYSICAL_DISK, &object) != perfwalk::objectFound ||
        !perfwalk::hasInstances(block.data(), object)) {
        logLine("disks: the performance data has no physical disks");
        return;
    }
    // Every instance is visited and none is taken.
    perfwalk::findInstance(
        block.data(), object,
        [&](perfwalk::Span name) {
            WCHAR wide[256];
            const size_t units = perfwalk::nameUnits(name) < 255 ? perfwalk::nameUnits(name) : 255;
            for (size_t i = 0; i < units; ++i) wide[i] = perfwalk::read16(block.data(), name.begin + 2 * i);
            wide[units] = 0;
            char narrow[512];
            if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr) == 0) narrow[0] = 0;
            logLine("disk %s", quoted(narrow).c_str());
            return perfwalk::nameDiffers;
        },
        &counters);
}

}  // namespace host
