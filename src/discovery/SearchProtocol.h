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

enum class BroadcastReplyStatus {
  WrongLength,  // not 148 bytes: ignored without a log line
  NotDevice,    // opcode other than 12
  Device,       // `device` holds the parsed record
};

// Parses one datagram received on the broadcast worker's port. `sender` is the sender's dotted
// address. Reads only `length` bytes of `data`; touches no state.
BroadcastReplyStatus ParseBroadcastReply(const char* data, std::size_t length, const char* sender,
                                         DeviceInfo& device);

// Parses one message received by a multicast worker: true when it describes a device, with the
// record in `device`. The message ends at its first NUL byte or after `length` bytes, whichever
// comes first. Touches no state.
bool ParseMulticastMessage(const char* data, std::size_t length, const char* sender,
                           DeviceInfo& device);
