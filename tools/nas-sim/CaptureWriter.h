#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nassim {

// The capture file of the `number`th datagram received, on `port`: "68-0001.bin".
std::string CaptureFileName(std::uint16_t port, unsigned number);

// Writes every received datagram to its own file, numbered across all ports from 1. Each file
// appears whole: it is written under a hidden name and then renamed, so a test that polls for a
// file never reads it half written.
class CaptureWriter {
 public:
  explicit CaptureWriter(std::string directory);

  // Writes one datagram; returns the path written, or throws std::system_error.
  std::string Write(std::uint16_t port, const void* data, std::size_t length);

 private:
  std::string directory_;
  unsigned count_ = 0;
};

}  // namespace nassim
