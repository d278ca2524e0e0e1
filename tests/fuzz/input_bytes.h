// The fuzzers' input read as a stream of values: past its end every value reads as 0, so that
// any input, however short, drives a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct Input {
    const uint8_t* data;
    size_t size;
    template <typename T>
    T take() {
        T value = 0;
        const size_t n = size < sizeof value ? size : sizeof value;
        memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};
