#pragma once

// Checks shared by the parser fuzz targets: a broken invariant aborts, so that libFuzzer keeps
// the input as a crash like any sanitizer report.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "discovery/DeviceInfo.h"

namespace fuzzcheck {

inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

// Every text field of a parsed record is NUL-terminated within its 32 bytes and zero after the
// text; the flag and the time to live keep their construction values.
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
  Require(device.timeToLive == kDefaultTimeToLive, "timeToLive changed");
}

inline bool SameRecord(const DeviceInfo& a, const DeviceInfo& b) {
  return IsSameDevice(a, b) && a.type == b.type;
}

}  // namespace fuzzcheck
