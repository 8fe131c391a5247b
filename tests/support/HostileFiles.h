#pragma once

// Files that a careless or hostile skin puts where a layout document or an image is expected.
// Header-only, so that the tests of every layer can make them without linking more.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace testsupport {

// The bytes of a PNG that stops where its pixels begin: the header claims `width` x `height`
// pixels, with correct checksums, and an empty data chunk follows, so that image readers take the
// size from the header before they find that the pixels are missing.
inline std::string PngHeaderClaiming(std::uint32_t width, std::uint32_t height) {
  const auto bigEndian = [](std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      out += static_cast<char>((value >> shift) & 0xFF);
    }
  };
  const auto crc32 = [](const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
      crc ^= static_cast<std::uint8_t>(byte);
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
      }
    }
    return crc ^ 0xFFFFFFFFu;
  };
  std::string chunk = "IHDR";
  bigEndian(chunk, width);
  bigEndian(chunk, height);
  chunk += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  bigEndian(png, 13);
  png += chunk;
  bigEndian(png, crc32(chunk));
  bigEndian(png, 0);
  png += "IDAT";
  bigEndian(png, crc32("IDAT"));
  return png;
}

// A FIFO at `path` that nobody writes to: a reader that opens it blocking waits forever.
inline bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

}  // namespace testsupport
