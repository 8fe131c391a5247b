#include "discovery/SearchProtocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

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

bool IsDottedIPv4(string_view text) {
  // "255.255.255.255" is the longest; inet_pton wants the text NUL-terminated.
  char copy[16] = {};
  if (text.size() >= sizeof copy) {
    return false;
  }
  text.copy(copy, text.size());
  if (std::memchr(copy, '\0', text.size()) != nullptr) {
    return false;
  }
  in_addr address{};
  return ::inet_pton(AF_INET, copy, &address) == 1;
}

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
  const string_view address = sender == nullptr ? string_view() : string_view(sender);
  if (!IsDottedIPv4(address)) {
    return BroadcastReplyStatus::NotIPv4Address;
  }
  SetText(device.ip, address);
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

// Where the headers the parser reads begin: the first line that starts with each name, in any
// letter case (HTTP header names are case-insensitive). npos for a header that is missing.
struct HeaderPositions {
  std::size_t location = npos;      // "LOCATION:"
  std::size_t server = npos;        // "SERVER:"
  std::size_t ssidinfo = npos;      // "SSIDINFO"
  std::size_t usn = npos;           // "USN:"
  std::size_t nts = npos;           // "NTS:"
  std::size_t cacheControl = npos;  // "CACHE-CONTROL:"
};

// A header or directive name of at most 16 bytes, prepared at compile time so that NameAt
// compares it eight bytes at a time: its bytes with letters in lower case, and per byte the bit
// that turns an ASCII letter into lower case (none for other bytes, which must match exactly).
struct Name {
  std::uint64_t lower[2] = {};
  std::uint64_t fold[2] = {};
  std::uint64_t used[2] = {};  // 0xff for each byte that belongs to the name
  std::size_t size = 0;

  consteval explicit Name(string_view upper) : size(upper.size()) {
    if (upper.size() > 16) {
      throw "a name of at most 16 bytes";  // not a constant expression: fails the build
    }
    for (std::size_t i = 0; i < upper.size(); ++i) {
      const auto byte = static_cast<unsigned char>(upper[i]);
      const bool letter = byte >= 'A' && byte <= 'Z';
      const std::size_t shift =
          8 * (std::endian::native == std::endian::little ? i % 8 : 7 - i % 8);
      lower[i / 8] |= std::uint64_t{letter ? byte | 0x20u : byte} << shift;
      fold[i / 8] |= std::uint64_t{letter ? 0x20u : 0u} << shift;
      used[i / 8] |= std::uint64_t{0xff} << shift;
    }
  }
};

constexpr Name kLocationName("LOCATION:");
constexpr Name kServerName("SERVER:");
constexpr Name kSsidinfoName("SSIDINFO");
constexpr Name kUsnName("USN:");
constexpr Name kNtsName("NTS:");
constexpr Name kCacheControlName("CACHE-CONTROL:");
constexpr Name kMaxAgeName("MAX-AGE");

// True when `text` holds `name` at `at`, in any letter case. Reads at most 16 bytes from `at`,
// never past the end of `text`.
bool NameAt(string_view text, std::size_t at, const Name& name) {
  const std::size_t left = text.size() - at;
  if (left < name.size) {
    return false;
  }
  std::uint64_t words[2] = {};
  if (left >= sizeof words) {
    std::memcpy(words, text.data() + at, sizeof words);
  } else {
    // Near the end of the message only the name's own bytes are there to be read.
    char bytes[sizeof words] = {};
    for (std::size_t i = 0; i < name.size; ++i) {
      bytes[i] = text[at + i];
    }
    std::memcpy(words, bytes, sizeof words);
  }
  return (((words[0] | name.fold[0]) ^ name.lower[0]) & name.used[0]) == 0 &&
         (((words[1] | name.fold[1]) ^ name.lower[1]) & name.used[1]) == 0;
}

void Note(std::size_t& position, string_view message, std::size_t at, const Name& name) {
  if (position == npos && NameAt(message, at, name)) {
    position = at;
  }
}

// One pass over the lines of the message. Names are matched only at the start of a line: matched
// anywhere in any case, values such as "urn:...:MediaServer:1" or "...Events:" would pass for the
// SERVER and NTS headers.
HeaderPositions FindHeaders(string_view message) {
  HeaderPositions found;
  std::size_t line = 0;
  while (line < message.size()) {
    switch (message[line]) {
      case 'L':
      case 'l':
        Note(found.location, message, line, kLocationName);
        break;
      case 'S':
      case 's':
        Note(found.server, message, line, kServerName);
        Note(found.ssidinfo, message, line, kSsidinfoName);
        break;
      case 'U':
      case 'u':
        Note(found.usn, message, line, kUsnName);
        break;
      case 'N':
      case 'n':
        Note(found.nts, message, line, kNtsName);
        break;
      case 'C':
      case 'c':
        Note(found.cacheControl, message, line, kCacheControlName);
        break;
      default:
        break;
    }
    const void* end = std::memchr(message.data() + line, '\n', message.size() - line);
    if (end == nullptr) {
      break;
    }
    line = static_cast<std::size_t>(static_cast<const char*>(end) - message.data()) + 1;
  }
  return found;
}

bool IsHostEnd(char c) { return c == ':' || c == '/' || c == ' ' || c == '\t'; }

// The end of the line `from` lies on: its first carriage return or line feed, else the end of
// the message.
std::size_t LineEnd(string_view message, std::size_t from) {
  while (from < message.size() && message[from] != '\r' && message[from] != '\n') {
    ++from;
  }
  return from;
}

// What the CACHE-CONTROL reader makes of each byte, so that each of its loops tests one table
// entry per character instead of comparing the character with several.
enum CharClass : std::uint8_t {
  kLineEnd = 1,  // carriage return or line feed: the header's end
  kBlank = 2,    // blank or tab
  kComma = 4,    // between directives
  kEquals = 8,   // between a directive's name and its value
  kQuote = 16,   // starts and ends a quoted value
  kBackslash = 32,
  kDigit = 64,
};

constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  classes['\r'] = classes['\n'] = kLineEnd;
  classes[' '] = classes['\t'] = kBlank;
  classes[','] = kComma;
  classes['='] = kEquals;
  classes['"'] = kQuote;
  classes['\\'] = kBackslash;
  for (char digit = '0'; digit <= '9'; ++digit) {
    classes[static_cast<unsigned char>(digit)] = kDigit;
  }
  return classes;
}();

// Walks a header value character by character; the end of the message reads as a line end.
class ValueReader {
 public:
  ValueReader(string_view message, std::size_t at) : message_(message), at_(at) {}

  std::size_t At() const { return at_; }
  std::uint8_t Class() const {
    return at_ < message_.size() ? kCharClasses[static_cast<unsigned char>(message_[at_])]
                                 : std::uint8_t{kLineEnd};
  }
  char Current() const { return message_[at_]; }
  void Next() { ++at_; }
  // Moves on while the current character has one of `classes`.
  void SkipWhile(std::uint8_t classes) {
    while (at_ < message_.size() &&
           (kCharClasses[static_cast<unsigned char>(message_[at_])] & classes) != 0) {
      ++at_;
    }
  }
  // Moves on up to the first character of one of `classes`, or the end of the message.
  void SkipUntil(std::uint8_t classes) {
    while (at_ < message_.size() &&
           (kCharClasses[static_cast<unsigned char>(message_[at_])] & classes) == 0) {
      ++at_;
    }
  }

 private:
  string_view message_;
  std::size_t at_;
};

// The time to live a max-age value gives, the reader standing on its first character: decimal
// digits only, optionally followed by blanks, then the directive's end (a comma or the line's).
// A number outside [kDefaultTimeToLive, kMaximumTimeToLive] is moved to the nearer bound;
// anything else (no digit, a sign, other characters, more than a 64-bit number holds) gives the
// default.
std::int64_t MaxAgeValue(ValueReader& reader) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  std::int64_t seconds = 0;
  bool anyDigit = false;
  while (reader.Class() == kDigit) {
    const int digit = reader.Current() - '0';
    if (seconds > (kLargest - digit) / 10) {
      return kDefaultTimeToLive;
    }
    seconds = seconds * 10 + digit;
    anyDigit = true;
    reader.Next();
  }
  reader.SkipWhile(kBlank);
  if (!anyDigit || (reader.Class() & (kComma | kLineEnd)) == 0) {
    return kDefaultTimeToLive;
  }
  return std::clamp(seconds, kDefaultTimeToLive, kMaximumTimeToLive);
}

// The time to live the CACHE-CONTROL header promises: its max-age directive, found by name in any
// letter case among the comma-separated directives of the header's own line, with blanks allowed
// around the '='. The first max-age decides. Quoted values of other directives are skipped whole,
// so a comma or "max-age" inside them counts for nothing. Without the header or its max-age, the
// default.
std::int64_t ReadTimeToLive(string_view message, std::size_t cacheControlAt) {
  if (cacheControlAt == npos) {
    return kDefaultTimeToLive;
  }
  ValueReader reader(message, cacheControlAt + kCacheControlName.size);
  while (true) {
    reader.SkipWhile(kBlank | kComma);
    if (reader.Class() == kLineEnd) {
      return kDefaultTimeToLive;
    }
    const std::size_t nameStart = reader.At();
    reader.SkipUntil(kLineEnd | kBlank | kComma | kEquals);
    const bool isMaxAge =
        reader.At() - nameStart == kMaxAgeName.size && NameAt(message, nameStart, kMaxAgeName);
    reader.SkipWhile(kBlank);
    const bool hasValue = reader.Class() == kEquals;
    if (hasValue) {
      reader.Next();
      reader.SkipWhile(kBlank);
    }
    if (isMaxAge) {
      return hasValue ? MaxAgeValue(reader) : kDefaultTimeToLive;
    }
    if (hasValue && reader.Class() == kQuote) {
      // A quoted value ends at the next quote that no backslash escapes, or at the line's end.
      reader.Next();
      reader.SkipUntil(kLineEnd | kQuote | kBackslash);
      while (reader.Class() == kBackslash) {
        reader.Next();
        if (reader.Class() != kLineEnd) {
          reader.Next();
        }
        reader.SkipUntil(kLineEnd | kQuote | kBackslash);
      }
      if (reader.Class() == kQuote) {
        reader.Next();
      }
    }
    reader.SkipUntil(kLineEnd | kComma);
  }
}

// The host of the LOCATION URL on the header's own line: from "//" to the first ':', '/', blank
// or line end (or the end of the message). False when the line has no "//".
bool LocationHost(string_view message, std::size_t locationAt, string_view& host) {
  // Plain loops: find_first_of looks each character up in its set with a library call.
  const std::size_t lineEnd = LineEnd(message, locationAt + kLocationName.size);
  const std::size_t slashes = FindFrom(message.substr(0, lineEnd), "//", locationAt);
  if (slashes == npos) {
    return false;
  }
  const std::size_t hostStart = slashes + 2;
  std::size_t hostEnd = hostStart;
  while (hostEnd < lineEnd && !IsHostEnd(message[hostEnd])) {
    ++hostEnd;
  }
  host = Between(message, hostStart, hostEnd);
  return true;
}

struct ServerFields {
  string_view osVersion, vendor, host, product, extra;
};

// Reads the SERVER header. Returns true when parsing goes on with the wireless information,
// false when it goes straight to the identity; the fields found so far are kept either way.
bool ParseServer(string_view message, std::size_t serverAt, ServerFields& out) {
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
void ParseWireless(string_view message, std::size_t ssidinfoAt, WirelessFields& out) {
  std::size_t from = ssidinfoAt;
  if (from == npos) {
    return;
  }
  if (ReadMarkedValue(message, "SSID/", ",", from, out.ssid) &&
      ReadMarkedValue(message, "MAC0/", ",", from, out.mac0)) {
    ReadMarkedValue(message, "MAC1/", "\r", from, out.mac1);
  }
}

}  // namespace

MulticastMessageStatus ReadMulticastMessage(const char* data, std::size_t length,
                                            const char* sender, DeviceInfo& device) {
  const string_view message(data, strnlen(data, length));
  if (message.find("VRIX") == npos) {
    return MulticastMessageStatus::Dropped;
  }
  const HeaderPositions headers = FindHeaders(message);

  // Address: the host of LOCATION's URL, else the sender. It is checked once the message is known
  // to describe a device, so that only such messages count as rejected.
  string_view address = sender == nullptr ? string_view() : string_view(sender);
  if (headers.location != npos && !LocationHost(message, headers.location, address)) {
    return MulticastMessageStatus::Dropped;
  }

  ServerFields server;
  WirelessFields wireless;
  if (ParseServer(message, headers.server, server)) {
    ParseWireless(message, headers.ssidinfo, wireless);
  }

  if (headers.usn == npos) {
    return MulticastMessageStatus::Dropped;
  }
  const std::size_t uuidAt = FindFrom(message, "uuid:", headers.usn);
  if (uuidAt == npos) {
    return MulticastMessageStatus::Dropped;
  }
  const std::size_t identityEnd = FindFrom(message, "::", uuidAt + 5);
  if (identityEnd == npos) {
    return MulticastMessageStatus::Dropped;
  }
  const string_view identity = Between(message, uuidAt + 5, identityEnd);

  std::int32_t type = 0;
  if (message.starts_with("HTTP")) {
    type = kDeviceSearchReply;
  } else if (message.starts_with("NOTIFY")) {
    if (message.find("rootdevice") == npos || headers.nts == npos) {
      return MulticastMessageStatus::Dropped;
    }
    std::size_t valueAt = headers.nts + 4;
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
    return MulticastMessageStatus::Dropped;
  }

  if (!IsDottedIPv4(address)) {
    return MulticastMessageStatus::NotIPv4Address;
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
  device.timeToLive = ReadTimeToLive(message, headers.cacheControl);
  return MulticastMessageStatus::Device;
}

bool ParseMulticastMessage(const char* data, std::size_t length, const char* sender,
                           DeviceInfo& device) {
  return ReadMulticastMessage(data, length, sender, device) == MulticastMessageStatus::Device;
}
