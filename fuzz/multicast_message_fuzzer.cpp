// Fuzzes the multicast message parser twice per input: on libFuzzer's own heap block of exactly
// the input's size (AddressSanitizer sees any read past it), and on a zeroed 1025-byte buffer
// holding the first 1024 bytes, as the receive loop passes a datagram. Both must agree.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "FuzzCheck.h"
#include "discovery/SearchProtocol.h"

namespace {

constexpr std::size_t kReceiveLength = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  DeviceInfo exact;
  const bool exactFound = ParseMulticastMessage(bytes, size, "10.231.0.99", exact);
  if (exactFound) {
    fuzzcheck::RequireWellFormed(exact);
    fuzzcheck::RequireNoSplitCharacter(exact, std::string_view(bytes, strnlen(bytes, size)));
    fuzzcheck::Require(exact.type == 0 || exact.type == 1 || exact.type == 2 || exact.type == 4,
                       "unknown type");
    fuzzcheck::Require(IsDottedIPv4(exact.ip), "a device whose address is no dotted IPv4 address");
  }

  // The receive loop never passes more than 1024 bytes, nor an empty datagram.
  const std::size_t received = size < kReceiveLength ? size : kReceiveLength;
  if (received == 0) {
    return 0;
  }
  char buffer[kReceiveLength + 1];
  std::memset(buffer, 0, sizeof buffer);
  std::memcpy(buffer, bytes, received);
  DeviceInfo looped;
  const bool loopedFound = ParseMulticastMessage(buffer, received, "10.231.0.99", looped);
  if (received == size) {
    fuzzcheck::Require(loopedFound == exactFound, "receive buffer changes the verdict");
    if (exactFound) {
      fuzzcheck::Require(fuzzcheck::SameRecord(exact, looped), "receive buffer changes the record");
    }
  } else if (loopedFound) {
    fuzzcheck::RequireWellFormed(looped);
    fuzzcheck::RequireNoSplitCharacter(looped, std::string_view(buffer, strnlen(buffer, received)));
  }
  return 0;
}
