#pragma once

// The wire formats of both searches: the 148-byte broadcast packet and the SSDP-style texts.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "discovery/DeviceInfo.h"

// Request and reply of the broadcast search share this layout.
struct SearchPacket {
  std::uint8_t opcode;
  std::uint8_t type;
  std::uint8_t reserved1;
  std::uint8_t reserved2;
  std::uint8_t address[4];
  std::uint32_t reserved3;
  std::uint32_t reserved4;
  std::uint32_t reserved5;
  char text[128];
};
static_assert(sizeof(SearchPacket) == 148, "the broadcast packet is 148 bytes on the wire");

inline constexpr std::uint8_t kSearchRequestOpcode = 11;
inline constexpr std::uint8_t kSearchReplyOpcode = 12;
inline constexpr std::uint16_t kBroadcastLocalPort = 67;
inline constexpr std::uint16_t kBroadcastDevicePort = 68;
inline constexpr const char* kBroadcastAddress = "255.255.255.255";

inline constexpr const char* kMulticastGroup = "239.143.255.250";
inline constexpr std::uint16_t kMulticastPort = 1900;
inline constexpr std::uint16_t kFirstCommandPort = 1530;
inline constexpr int kCommandPortStep = 20;

// The search request of the multicast workers: 129 bytes, sent without a terminating NUL.
inline constexpr std::string_view kMulticastSearchRequest =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
static_assert(kMulticastSearchRequest.size() == 129);

// The request every search pass broadcasts: opcode 11, type 1, address 255.255.255.255.
SearchPacket MakeSearchRequest();

// True when `text` is a dotted IPv4 address as inet_pton(AF_INET) takes it: four decimal parts
// from 0 to 255 without leading zeros, nothing before, between or after them. The only form of a
// device's address that is ever handed on: an address is later opened as a URL and a share, and a
// device must not choose what they point at.
bool IsDottedIPv4(std::string_view text);

enum class BroadcastReplyStatus {
  WrongLength,     // not 148 bytes: ignored without a log line
  NotDevice,       // opcode other than 12
  NotIPv4Address,  // a device, but its address is no dotted IPv4 address; not handed on
  Device,          // `device` holds the parsed record
};

// Parses one datagram received on the broadcast worker's port. `sender` is the sender's dotted
// address. Reads only `length` bytes of `data`; touches no state.
BroadcastReplyStatus ParseBroadcastReply(const char* data, std::size_t length, const char* sender,
                                         DeviceInfo& device);

enum class MulticastMessageStatus {
  Dropped,         // the message describes no device
  NotIPv4Address,  // it describes one whose address is no dotted IPv4 address; not handed on
  Device,          // `device` holds the parsed record
};

// Parses one message received by a multicast worker. The message ends at its first NUL byte or
// after `length` bytes, whichever comes first. Header names are matched at the start of a line
// and in any letter case, as HTTP's are; values are taken exactly as received. The address is
// the host of the LOCATION URL (from "//" to the first ':', '/', blank or line end), else the
// sender. The time to live is the max-age directive of the CACHE-CONTROL header (name and
// directive in any letter case, blanks allowed around '=', among other comma-separated
// directives), decimal digits only, moved into [kDefaultTimeToLive, kMaximumTimeToLive]; without
// the header or the directive, or with a malformed value, it stays kDefaultTimeToLive. Touches no
// state.
MulticastMessageStatus ReadMulticastMessage(const char* data, std::size_t length,
                                            const char* sender, DeviceInfo& device);
// ReadMulticastMessage for callers that only need the verdict: true for a device.
bool ParseMulticastMessage(const char* data, std::size_t length, const char* sender,
                           DeviceInfo& device);
