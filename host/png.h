// A small PNG writer for the host's screenshots: 8-bit RGB, stored (uncompressed) deflate
// blocks, which every PNG reader accepts. No windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostpng {

// pixels: width*height values 0x00RRGGBB, top row first. Returns the file's bytes.
std::string encodePng(int width, int height, const std::vector<uint32_t>& pixels);

uint32_t crc32(const unsigned char* data, size_t size, uint32_t crc = 0);

}  // namespace hostpng
