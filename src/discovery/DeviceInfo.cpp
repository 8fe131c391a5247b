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

void SetDeviceText(char (&field)[DeviceInfo::kTextSize], const char* text, std::size_t length) {
  std::memset(field, 0, sizeof field);
  if (text == nullptr) {
    return;
  }
  const std::size_t limit = length < DeviceInfo::kTextLimit ? length : DeviceInfo::kTextLimit;
  const std::size_t copied = strnlen(text, limit);
  std::memcpy(field, text, copied);
}
