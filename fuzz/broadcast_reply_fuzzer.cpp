// Fuzzes the broadcast reply parser. libFuzzer hands over a heap block of exactly the input's
// size, so AddressSanitizer reports any read past the datagram.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "FuzzCheck.h"
#include "discovery/SearchProtocol.h"

namespace {

void CheckReply(const std::uint8_t* data, std::size_t size) {
  DeviceInfo device;
  const BroadcastReplyStatus status =
      ParseBroadcastReply(reinterpret_cast<const char*>(data), size, "10.231.0.99", device);
  fuzzcheck::Require(
      (status == BroadcastReplyStatus::WrongLength) == (size != sizeof(SearchPacket)),
      "only a 148-byte datagram is a reply");
  if (status == BroadcastReplyStatus::Device) {
    fuzzcheck::RequireWellFormed(device);
    // A broadcast reply carries no lifetime.
    fuzzcheck::Require(device.timeToLive == kDefaultTimeToLive, "timeToLive changed");
    // The parser reads the text area up to its first NUL.
    const char* text = reinterpret_cast<const char*>(data) + offsetof(SearchPacket, text);
    fuzzcheck::RequireNoSplitCharacter(
        device, std::string_view(text, strnlen(text, sizeof(SearchPacket::text))));
    fuzzcheck::Require(data[0] == kSearchReplyOpcode, "a device from another opcode");
    fuzzcheck::Require(device.type == data[1], "the type is not byte 1");
    fuzzcheck::Require(IsDottedIPv4(device.ip), "a device whose address is no dotted IPv4 address");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckReply(data, size);
  // Nearly every input has the wrong length; its first 148 bytes still make a reply to parse, so
  // that the mutations of the text area are not wasted.
  if (size > sizeof(SearchPacket)) {
    CheckReply(data, sizeof(SearchPacket));
  }
  return 0;
}
