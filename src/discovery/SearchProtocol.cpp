#include "discovery/SearchProtocol.h"

#include <cstring>

namespace {

using std::string_view;
constexpr std::size_t npos = string_view::npos;

// The SERVER header's product item (vendor/host/product/extra) keeps at most this many bytes.
constexpr std::size_t kProductItemLimit = 63;

void SetText(char (&field)[DeviceInfo::kTextSize], string_view text) {
  SetDeviceText(field, text.data(), text.size());
}

// The part of `text` from `from` (clamped to the end) up to, not including, `to`.
string_view Between(string_view text, std::size_t from, std::size_t to) {
  if (from > text.size()) {
    from = text.size();
  }
  if (to < from) {
    to = from;
  }
  return text.substr(from, to - from);
}

std::size_t FindFrom(string_view text, string_view what, std::size_t from) {
  if (from > text.size()) {
    return npos;
  }
  return text.find(what, from);
}

}  // namespace

SearchPacket MakeSearchRequest() {
  SearchPacket request;
  std::memset(&request, 0, sizeof request);
  request.opcode = kSearchRequestOpcode;
  request.type = 1;
  std::memset(request.address, 255, sizeof request.address);
  return request;
}

BroadcastReplyStatus ParseBroadcastReply(const char* data, std::size_t length, const char* sender,
                                         DeviceInfo& device) {
  if (length != sizeof(SearchPacket)) {
    return BroadcastReplyStatus::WrongLength;
  }
  device.Reset();
  SearchPacket reply;
  std::memcpy(&reply, data, sizeof reply);
  if (reply.opcode != kSearchReplyOpcode) {
    return BroadcastReplyStatus::NotDevice;
  }
  SetText(device.ip, sender == nullptr ? string_view() : string_view(sender));
  device.type = reply.type;

  // The text area ends at its first NUL or at the end of the field.
  const string_view text(reply.text, strnlen(reply.text, sizeof reply.text));
  struct Key {
    string_view name;
    char (*field)[DeviceInfo::kTextSize];
  };
  const Key keys[] = {
      {"id=", &device.id},       {"host=", &device.host}, {"vendor=", &device.vendor},
      {"product=", &device.product}, {"ssid=", &device.ssid}, {"mac0=", &device.mac0},
      {"mac1=", &device.mac1},
  };
  for (const Key& key : keys) {
    // A key matches anywhere, also inside a longer word ("id=" inside "ssid=").
    const std::size_t at = text.find(key.name);
    if (at == npos) {
      continue;
    }
    const std::size_t valueStart = at + key.name.size();
    const std::size_t valueEnd = FindFrom(text, "&", valueStart);
    SetText(*key.field, Between(text, valueStart, valueEnd == npos ? text.size() : valueEnd));
  }
  return BroadcastReplyStatus::Device;
}

namespace {

struct ServerFields {
  string_view osVersion, vendor, host, product, extra;
};

// Reads the SERVER header. Returns true when parsing goes on with the wireless information,
// false when it goes straight to the identity; the fields found so far are kept either way.
bool ParseServer(string_view message, ServerFields& out) {
  const std::size_t serverAt = message.find("SERVER:");
  if (serverAt == npos) {
    return true;
  }
  const string_view server = message.substr(serverAt);
  const std::size_t vrixAt = server.find("VRIX/");
  if (vrixAt == npos) {
    return false;
  }
  const std::size_t versionStart = vrixAt + 5;
  const std::size_t firstComma = FindFrom(server, ",", versionStart);
  if (firstComma == npos) {
    return false;
  }
  out.osVersion = Between(server, versionStart, firstComma);
  const std::size_t secondComma = FindFrom(server, ",", firstComma + 1);
  if (secondComma == npos) {
    return false;
  }
  // Skip the comma and the blank after it; past the end of the message there is nothing more.
  const std::size_t itemStart = secondComma + 2;
  const std::size_t itemEnd = FindFrom(server, "\r", itemStart);
  if (itemEnd == npos) {
    return false;
  }
  // The item is cut to 63 bytes before it is split. Its last part becomes a field as it stands,
  // so this cut, like the field's own, leaves out a character that it would split.
  string_view item = Between(server, itemStart, itemEnd);
  item = item.substr(0, CutLengthAtCharacter(item.data(), item.size(), kProductItemLimit));
  const std::size_t slash1 = item.find('/');
  if (slash1 == npos) {
    return false;
  }
  out.vendor = item.substr(0, slash1);
  const std::size_t slash2 = item.find('/', slash1 + 1);
  if (slash2 == npos) {
    return false;
  }
  out.host = Between(item, slash1 + 1, slash2);
  const std::size_t slash3 = item.find('/', slash2 + 1);
  if (slash3 == npos) {
    out.product = item.substr(slash2 + 1);
    return false;
  }
  out.product = Between(item, slash2 + 1, slash3);
  out.extra = item.substr(slash3 + 1);
  return true;
}

struct WirelessFields {
  string_view ssid, mac0, mac1;
};

// Reads the value after `marker` up to `terminator`, both searched from `from` on. On success
// `from` moves past the terminator; false when either is missing.
bool ReadMarkedValue(string_view message, string_view marker, string_view terminator,
                     std::size_t& from, string_view& value) {
  const std::size_t markerAt = FindFrom(message, marker, from);
  if (markerAt == npos) {
    return false;
  }
  const std::size_t valueStart = markerAt + marker.size();
  const std::size_t valueEnd = FindFrom(message, terminator, valueStart);
  if (valueEnd == npos) {
    return false;
  }
  value = Between(message, valueStart, valueEnd);
  from = valueEnd + 1;
  return true;
}

// Reads the SSIDINFO header "SSID/ssid,MAC0/mac0,MAC1/mac1\r": each value ends at the
// separator before the next marker; a missing marker or separator ends the reading with the
// values found so far.
void ParseWireless(string_view message, WirelessFields& out) {
  std::size_t from = message.find("SSIDINFO");
  if (from == npos) {
    return;
  }
  if (ReadMarkedValue(message, "SSID/", ",", from, out.ssid) &&
      ReadMarkedValue(message, "MAC0/", ",", from, out.mac0)) {
    ReadMarkedValue(message, "MAC1/", "\r", from, out.mac1);
  }
}

}  // namespace

bool ParseMulticastMessage(const char* data, std::size_t length, const char* sender,
                           DeviceInfo& device) {
  const string_view message(data, strnlen(data, length));
  if (message.find("VRIX") == npos) {
    return false;
  }

  // Address: the host part of LOCATION's URL, else the sender.
  string_view address = sender == nullptr ? string_view() : string_view(sender);
  const std::size_t locationAt = message.find("LOCATION:");
  if (locationAt != npos) {
    const std::size_t slashes = FindFrom(message, "//", locationAt);
    if (slashes == npos) {
      return false;
    }
    const std::size_t colon = FindFrom(message, ":", slashes + 2);
    if (colon == npos) {
      return false;
    }
    address = Between(message, slashes + 2, colon);
  }

  ServerFields server;
  WirelessFields wireless;
  if (ParseServer(message, server)) {
    ParseWireless(message, wireless);
  }

  const std::size_t usnAt = message.find("USN:");
  if (usnAt == npos) {
    return false;
  }
  const std::size_t uuidAt = FindFrom(message, "uuid:", usnAt);
  if (uuidAt == npos) {
    return false;
  }
  const std::size_t identityEnd = FindFrom(message, "::", uuidAt + 5);
  if (identityEnd == npos) {
    return false;
  }
  const string_view identity = Between(message, uuidAt + 5, identityEnd);

  std::int32_t type = 0;
  if (message.starts_with("HTTP")) {
    type = kDeviceSearchReply;
  } else if (message.starts_with("NOTIFY")) {
    const std::size_t ntsAt = message.find("NTS:");
    if (message.find("rootdevice") == npos || ntsAt == npos) {
      return false;
    }
    std::size_t valueAt = ntsAt + 4;
    while (valueAt < message.size() && (message[valueAt] == ' ' || message[valueAt] == '\t')) {
      ++valueAt;
    }
    const string_view value = message.substr(valueAt);
    if (value.starts_with("ssdp:alive")) {
      type = kDeviceAlive;
    } else if (value.starts_with("ssdp:byebye")) {
      type = kDeviceByeBye;
    }
  } else {
    return false;
  }

  device.Reset();
  SetText(device.id, identity);
  SetText(device.ip, address);
  SetText(device.host, server.host);
  SetText(device.product, server.product);
  SetText(device.extra, server.extra);
  SetText(device.osVersion, server.osVersion);
  SetText(device.vendor, server.vendor);
  SetText(device.ssid, wireless.ssid);
  SetText(device.mac0, wireless.mac0);
  SetText(device.mac1, wireless.mac1);
  device.type = type;
  return true;
}
