#include "discovery/DeviceInfo.h"

#include <cstring>

DeviceInfo::DeviceInfo() { Reset(); }

void DeviceInfo::Reset() {
  // Zero the whole object, padding included, so that records compare and copy as plain bytes.
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  type = 0;
  timeToLive = kDefaultTimeToLive;
}

namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The size of the well-formed UTF-8 character that starts at text[0], or 0 when none starts
// there or it does not end within `available` bytes. The byte ranges are those of the Unicode
// standard's table of well-formed sequences: no overlong forms, no surrogates, nothing past
// U+10FFFF.
std::size_t WellFormedCharacterSize(const unsigned char* text, std::size_t available) {
  if (available == 0) {
    return 0;
  }
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    return 1;
  }
  std::size_t size = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    secondLow = lead == 0xE0 ? 0xA0 : 0x80;
    secondHigh = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    secondLow = lead == 0xF0 ? 0x90 : 0x80;
    secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (available < size || text[1] < secondLow || text[1] > secondHigh) {
    return 0;
  }
  for (std::size_t index = 2; index < size; ++index) {
    if (!IsContinuationByte(text[index])) {
      return 0;
    }
  }
  return size;
}

bool SameText(const char (&a)[DeviceInfo::kTextSize], const char (&b)[DeviceInfo::kTextSize]) {
  return std::strncmp(a, b, DeviceInfo::kTextSize) == 0;
}

}  // namespace

bool IsSameDevice(const DeviceInfo& a, const DeviceInfo& b) {
  return SameText(a.id, b.id) && SameText(a.ip, b.ip) && SameText(a.host, b.host) &&
         SameText(a.product, b.product) && SameText(a.extra, b.extra) &&
         SameText(a.osVersion, b.osVersion) && SameText(a.vendor, b.vendor) &&
         SameText(a.ssid, b.ssid) && SameText(a.mac0, b.mac0) && SameText(a.mac1, b.mac1);
}

std::size_t CutLengthAtCharacter(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) {
    return length;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  // A character that straddles the cut starts at most three bytes before it, at the nearest byte
  // that is no continuation byte; a character starting farther back ends before the cut.
  for (std::size_t back = 1; back <= 3 && back <= limit; ++back) {
    const std::size_t start = limit - back;
    if (IsContinuationByte(bytes[start])) {
      continue;
    }
    return WellFormedCharacterSize(bytes + start, length - start) > back ? start : limit;
  }
  return limit;
}

void SetDeviceText(char (&field)[DeviceInfo::kTextSize], const char* text, std::size_t length) {
  std::memset(field, 0, sizeof field);
  if (text == nullptr) {
    return;
  }
  // Three bytes past the limit are enough to see whether the character at the cut is whole
  // in the text; a NUL ends the text as it ends the field.
  constexpr std::size_t kLookAhead = DeviceInfo::kTextLimit + 3;
  const std::size_t available = strnlen(text, length < kLookAhead ? length : kLookAhead);
  std::memcpy(field, text, CutLengthAtCharacter(text, available, DeviceInfo::kTextLimit));
}
