#include "SimAddress.h"

#include <charconv>

namespace nassim {

namespace {

// Reads a decimal number of at most `maxDigits` digits without sign or leading zero.
std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits || (text.size() > 1 && text[0] == '0')) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::uint32_t> ParseIPv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.');
    const bool last = part == 3;
    if (last != (dot == std::string_view::npos)) {
      return std::nullopt;
    }
    const auto value = ParseDecimal(last ? text : text.substr(0, dot), 3);
    if (!value || *value > 255) {
      return std::nullopt;
    }
    address = (address << 8) | *value;
    if (!last) {
      text.remove_prefix(dot + 1);
    }
  }
  return address;
}

std::string FormatIPv4(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
         std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::optional<std::uint32_t> OffsetAddress(std::uint32_t base, std::uint64_t offset) {
  const std::uint64_t sum = std::uint64_t{base} + offset;
  if (offset > UINT32_MAX || sum > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(sum);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  const auto address = ParseIPv4(text.substr(0, colon));
  const auto port = ParseDecimal(text.substr(colon + 1), 5);
  if (!address || !port || *port == 0 || *port > 65535) {
    return std::nullopt;
  }
  return Endpoint{*address, static_cast<std::uint16_t>(*port)};
}

std::string FormatEndpoint(const Endpoint& endpoint) {
  return FormatIPv4(endpoint.address) + ':' + std::to_string(endpoint.port);
}

}  // namespace nassim
