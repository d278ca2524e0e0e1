// PNG encoding for screenshots: signature, IHDR, one IDAT of stored deflate blocks, IEND.
#include "host/png.h"

namespace hostpng {

namespace {

void put32(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void putChunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    out += typed;
    put32(out, crc32(reinterpret_cast<const unsigned char*>(typed.data()), typed.size()));
}

uint32_t adler32(const std::string& data) {
    uint32_t a = 1, b = 0;
    for (unsigned char c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

// zlib stream of stored blocks: no compression, so it is trivially correct.
std::string zlibStored(const std::string& raw) {
    std::string out = "\x78\x01";
    size_t at = 0;
    do {
        size_t size = raw.size() - at > 65535 ? 65535 : raw.size() - at;
        bool last = at + size == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(size & 0xFF);
        out += static_cast<char>(size >> 8);
        out += static_cast<char>(~size & 0xFF);
        out += static_cast<char>((~size >> 8) & 0xFF);
        out.append(raw, at, size);
        at += size;
    } while (at < raw.size());
    put32(out, adler32(raw));
    return out;
}

}  // namespace

uint32_t crc32(const unsigned char* data, size_t size, uint32_t crc) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string encodePng(int width, int height, const std::vector<uint32_t>& pixels) {
    std::string header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header += "\x08\x02";      // 8 bits per sample, colour type 2 (RGB)
    header += std::string(3, '\0');  // deflate, adaptive filters, no interlace
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw += '\0';  // filter "none" for every row
        for (int x = 0; x < width; ++x) {
            uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            raw += static_cast<char>((p >> 16) & 0xFF);
            raw += static_cast<char>((p >> 8) & 0xFF);
            raw += static_cast<char>(p & 0xFF);
        }
    }
    std::string out = "\x89PNG\r\n\x1a\n";
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", zlibStored(raw));
    putChunk(out, "IEND", "");
    return out;
}

}  // namespace hostpng
