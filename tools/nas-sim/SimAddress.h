#pragma once

// IPv4 addresses and endpoints of the simulator. Addresses are handled as 32-bit numbers in host
// byte order, so that the address of device i is plain addition.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nassim {

// Reads a dotted address of four decimal parts 0-255 ("10.231.0.2"). Leading zeros are refused,
// because other tools read them as octal and the same text would name another address.
std::optional<std::uint32_t> ParseIPv4(std::string_view text);

std::string FormatIPv4(std::uint32_t address);

// `base` + `offset`, or nothing when the sum would pass 255.255.255.255.
std::optional<std::uint32_t> OffsetAddress(std::uint32_t base, std::uint64_t offset);

struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Reads "ADDRESS:PORT" with a dotted address and a port 1-65535.
std::optional<Endpoint> ParseEndpoint(std::string_view text);

std::string FormatEndpoint(const Endpoint& endpoint);

}  // namespace nassim
