// Fuzz target: any 64-bit count gives a bounded text, as a size and as a rate, that reads back
// as the count within the precision the unit shows.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "sampling/byte_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(int64_t)) return 0;
    int64_t bytes;
    memcpy(&bytes, data, sizeof bytes);
    char text[64];
    for (const bool isRate : {false, true}) {
        memset(text, 'X', sizeof text);
        if (isRate)
            formatByteRate(text, BYTE_RATE_TEXT_SIZE, bytes);
        else
            formatByteSize(text, bytes);
        const size_t length = strnlen(text, sizeof text);
        // Every count fits 22 characters as a size and 24 as a rate; one that is not negative 16 and 18.
        if (length >= (isRate ? 25u : 23u)) abort();
        if (bytes >= 0 && length > (isRate ? 18u : 16u)) abort();
        char unit[8] = "";
        double shown = 0;
        if (sscanf(text, "%lf %7s", &shown, unit) != 2) abort();
        const char* const units[] = {"B", "KB", "MB", "GB"};
        const double scales[] = {1, 1024.0, 1048576.0, 1073741824.0};
        const double halfSteps[] = {0, isRate ? 0.05 : 0.0005, 0.05, 0.005};
        int u = -1;
        for (int i = 0; i < 4; ++i) {
            char expected[8];
            snprintf(expected, sizeof expected, "%s%s", units[i], isRate ? "/s" : "");
            if (strcmp(unit, expected) == 0) u = i;
        }
        if (u < 0) abort();
        const double exact = static_cast<double>(bytes) / scales[u];
        // Rounding moves the value by at most half a shown step (plus double noise).
        if (std::fabs(shown - exact) > halfSteps[u] + std::fabs(exact) * 1e-15 + 1e-9) abort();
    }
    return 0;
}
