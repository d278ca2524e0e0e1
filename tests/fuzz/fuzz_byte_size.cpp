// Fuzz target: any 64-bit count gives a bounded text that reads back as the count
// within the precision the unit shows.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sampling/byte_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(int64_t)) return 0;
    int64_t bytes;
    memcpy(&bytes, data, sizeof bytes);
    char text[64];
    memset(text, 'X', sizeof text);
    formatByteSize(text, bytes);
    const size_t length = strnlen(text, sizeof text);
    if (length >= 23) abort();                // every count fits 22 characters
    if (bytes >= 0 && length > 16) abort();   // and a count that is not negative 16
    char unit[4] = "";
    double shown = 0;
    if (sscanf(text, "%lf %3s", &shown, unit) != 2) abort();
    double scale = 1, halfStep = 0;
    if (strcmp(unit, "B") == 0) { scale = 1; halfStep = 0; }
    else if (strcmp(unit, "KB") == 0) { scale = 1024.0; halfStep = 0.0005; }
    else if (strcmp(unit, "MB") == 0) { scale = 1048576.0; halfStep = 0.05; }
    else if (strcmp(unit, "GB") == 0) { scale = 1073741824.0; halfStep = 0.005; }
    else abort();
    const double exact = static_cast<double>(bytes) / scale;
    // Rounding moves the value by at most half a shown step (plus double noise).
    if (std::fabs(shown - exact) > halfStep + std::fabs(exact) * 1e-15 + 1e-9) abort();
    return 0;
}
