// A copy of a byte block placed so that any read past its end is caught: on Windows the block
// ends where an unreadable page begins, natively it is an exact-size heap block that
// AddressSanitizer watches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// Names what the code under test was doing, for the report of a read past the end.
void setGuardedReadLabel(const char* label);

class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<uint8_t>& bytes);
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    const uint8_t* data() const { return start; }
    size_t size() const { return length; }

private:
    size_t length;
    uint8_t* base = nullptr;
    uint8_t* start = nullptr;
    void* handler = nullptr;
};

}  // namespace testsupport
