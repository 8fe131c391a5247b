#pragma once

// Checks shared by the parser fuzz targets: a broken invariant aborts, so that libFuzzer keeps
// the input as a crash like any sanitizer report.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "discovery/DeviceInfo.h"

namespace fuzzcheck {

inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

// Every text field of a parsed record is NUL-terminated within its 32 bytes and zero after the
// text; the flag keeps its construction value and the time to live lies between the default and a
// day (a multicast message may carry the device's max-age).
inline void RequireWellFormed(const DeviceInfo& device) {
  const char* const fields[] = {device.id,    device.ip,        device.host,   device.product,
                                device.extra, device.osVersion, device.vendor, device.ssid,
                                device.mac0,  device.mac1};
  for (const char* field : fields) {
    const std::size_t size = strnlen(field, DeviceInfo::kTextSize);
    Require(size < static_cast<std::size_t>(DeviceInfo::kTextSize), "text field without NUL");
    for (std::size_t i = size; i < static_cast<std::size_t>(DeviceInfo::kTextSize); ++i) {
      Require(field[i] == 0, "text field not zero-filled after its text");
    }
  }
  Require(!device.reservedFlag, "reservedFlag set");
  Require(device.timeToLive >= kDefaultTimeToLive && device.timeToLive <= kMaximumTimeToLive,
          "timeToLive out of range");
}

// The size of the well-formed UTF-8 character at text[at], 0 when none starts there. Written
// apart from the product's byte-range table: it decodes the code point and rejects overlong
// forms, surrogates and values past U+10FFFF.
inline std::size_t CharacterSize(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t size = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    size = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    size = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    size = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < size) {
    return 0;
  }
  for (std::size_t index = 1; index < size; ++index) {
    const auto byte = static_cast<unsigned char>(text[at + index]);
    if ((byte & 0xC0) != 0x80) {
      return 0;
    }
    value = (value << 6) | (byte & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[size] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return 0;
  }
  return size;
}

// True when the position `end` of `text` lies inside a well-formed character of it.
inline bool InsideCharacter(std::string_view text, std::size_t end) {
  for (std::size_t back = 1; back <= 3 && back <= end; ++back) {
    if (CharacterSize(text, end - back) > back) {
      return true;
    }
  }
  return false;
}

// No text field ends in part of a character that the datagram carried whole. `message` is the
// text the parser read (up to its first NUL). Every field is a piece of it or the sender
// address, and all the parsers' separators are ASCII, so only a cut can end a field inside a
// character. A field that occurs several times passes when one occurrence ends cleanly, since
// the check cannot tell which one the parser took.
inline void RequireNoSplitCharacter(const DeviceInfo& device, std::string_view message) {
  const char* const fields[] = {device.id,    device.ip,        device.host,   device.product,
                                device.extra, device.osVersion, device.vendor, device.ssid,
                                device.mac0,  device.mac1};
  for (const char* field : fields) {
    const std::string_view text(field, strnlen(field, DeviceInfo::kTextSize));
    if (text.empty()) {
      continue;
    }
    bool found = false;
    bool endsInside = true;
    for (std::size_t at = message.find(text); at != std::string_view::npos && endsInside;
         at = message.find(text, at + 1)) {
      found = true;
      endsInside = InsideCharacter(message, at + text.size());
    }
    Require(!found || !endsInside, "a text field ends inside a character that the cut split");
  }
}

inline bool SameRecord(const DeviceInfo& a, const DeviceInfo& b) {
  return IsSameDevice(a, b) && a.type == b.type;
}

}  // namespace fuzzcheck
