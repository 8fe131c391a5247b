#pragma once

// The datagrams a simulated device reads and writes: the 148-byte broadcast reply, the HTTP reply
// to a device search and the NOTIFY announcement, and the tests that pick the requests worth an
// answer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/SearchProtocol.h"

namespace nassim {

using BroadcastReply = std::array<std::uint8_t, sizeof(SearchPacket)>;

// The reply layout: byte 0 the opcode, byte 1 the device's event type, zeros up to the text area,
// then `text` cut to the size of the text area and padded with zeros. A text that fills the whole
// area is sent without a terminating zero, as a real device does.
BroadcastReply BuildBroadcastReply(std::uint8_t opcode, std::uint8_t byte1, std::string_view text);

// Header values of one device; a header without a value is left out of the message.
struct ReplyHeaders {
  std::optional<std::string> location;
  std::optional<std::string> server;
  std::optional<std::string> ssidinfo;
  std::optional<std::string> usn;
};

// The answer to a device search: "HTTP/1.1 200 OK" with the device's headers.
std::string BuildSearchReply(const ReplyHeaders& headers);

// The announcement sent to the group, with `nts` as the value of its NTS header.
std::string BuildNotify(std::string_view nts, const ReplyHeaders& headers);

// True for a broadcast search request: exactly one packet long, with the request opcode.
bool IsBroadcastSearchRequest(const std::uint8_t* data, std::size_t length);

// True for an "M-SEARCH" whose ST header asks for storage devices or for everything. Header names
// are compared without regard to case, as HTTP wants; the method and the values are not.
bool IsDeviceSearch(std::string_view message);

}  // namespace nassim
