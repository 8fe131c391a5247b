#include "SimMessages.h"

#include <algorithm>
#include <cstddef>

namespace nassim {

namespace {

constexpr std::string_view kDeviceType = "urn:schemas-upnp-org:device:HomeNasDevice:1";

void AppendHeader(std::string& message, std::string_view name,
                  const std::optional<std::string>& value) {
  if (value) {
    message.append(name).append(": ").append(*value).append("\r\n");
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

BroadcastReply BuildBroadcastReply(std::uint8_t opcode, std::uint8_t byte1, std::string_view text) {
  constexpr std::size_t kTextOffset = offsetof(SearchPacket, text);
  constexpr std::size_t kTextSize = sizeof(SearchPacket::text);
  BroadcastReply reply{};
  reply[offsetof(SearchPacket, opcode)] = opcode;
  reply[offsetof(SearchPacket, type)] = byte1;
  const std::size_t length = std::min(text.size(), kTextSize);
  std::copy_n(text.begin(), length, reply.begin() + kTextOffset);
  return reply;
}

std::string BuildSearchReply(const ReplyHeaders& headers) {
  std::string reply =
      "HTTP/1.1 200 OK\r\n"
      "CACHE-CONTROL: max-age=1800\r\n"
      "EXT:\r\n";
  AppendHeader(reply, "LOCATION", headers.location);
  AppendHeader(reply, "SERVER", headers.server);
  AppendHeader(reply, "SSIDINFO", headers.ssidinfo);
  reply.append("ST: ").append(kDeviceType).append("\r\n");
  AppendHeader(reply, "USN", headers.usn);
  reply.append("\r\n");
  return reply;
}

std::string BuildNotify(std::string_view nts, const ReplyHeaders& headers) {
  std::string notify =
      "NOTIFY * HTTP/1.1\r\n"
      "HOST: 239.143.255.250:1900\r\n"
      "CACHE-CONTROL: max-age=1800\r\n";
  AppendHeader(notify, "LOCATION", headers.location);
  notify.append("NT: upnp:rootdevice\r\n");
  notify.append("NTS: ").append(nts).append("\r\n");
  AppendHeader(notify, "SERVER", headers.server);
  AppendHeader(notify, "SSIDINFO", headers.ssidinfo);
  AppendHeader(notify, "USN", headers.usn);
  notify.append("\r\n");
  return notify;
}

bool IsBroadcastSearchRequest(const std::uint8_t* data, std::size_t length) {
  return length == sizeof(SearchPacket) &&
         data[offsetof(SearchPacket, opcode)] == kSearchRequestOpcode;
}

bool IsDeviceSearch(std::string_view message) {
  std::size_t lineEnd = message.find('\n');
  const std::string_view requestLine = message.substr(0, lineEnd);
  if (!requestLine.starts_with("M-SEARCH ")) {
    return false;
  }
  // Header lines follow up to the empty line; a bare line feed is taken as a line end too.
  while (lineEnd != std::string_view::npos) {
    const std::size_t start = lineEnd + 1;
    lineEnd = message.find('\n', start);
    std::string_view line = message.substr(
        start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      break;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsIgnoringCase(line.substr(0, colon), "ST")) {
      continue;
    }
    const std::string_view target = TrimBlanks(line.substr(colon + 1));
    return target == kDeviceType || target == "ssdp:all";
  }
  return false;
}

}  // namespace nassim
