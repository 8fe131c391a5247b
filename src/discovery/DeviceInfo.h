#pragma once

#include <cstddef>
#include <cstdint>

// One discovered device: a plain, fixed-size record copied whole wherever it goes. Text fields
// hold the 8-bit text exactly as received, NUL-terminated, at most 31 characters, zero-filled
// after the text.
struct DeviceInfo {
  static constexpr int kTextSize = 32;
  static constexpr int kTextLimit = kTextSize - 1;

  char id[kTextSize];
  char ip[kTextSize];
  char host[kTextSize];
  char product[kTextSize];
  char extra[kTextSize];
  char osVersion[kTextSize];
  char vendor[kTextSize];
  char ssid[kTextSize];
  char mac0[kTextSize];
  char mac1[kTextSize];
  bool reservedFlag;
  std::int32_t type;
  std::int64_t timeToLive;

  DeviceInfo();
  // Gives the record its construction values: text and flag zero-filled, type 0, time to live 60.
  void Reset();
};

// Event types carried in DeviceInfo::type.
inline constexpr std::int32_t kDeviceSearchReply = 1;
inline constexpr std::int32_t kDeviceAlive = 2;
inline constexpr std::int32_t kDeviceByeBye = 4;
inline constexpr std::int64_t kDefaultTimeToLive = 60;

// True when all ten text fields are equal, each compared byte for byte as a NUL-terminated
// string of at most 32 bytes. The flag, the type and the time to live play no part.
bool IsSameDevice(const DeviceInfo& a, const DeviceInfo& b);

// Copies text into a field: at most `length` bytes and never more than 31, stopping at a NUL,
// the rest of the field zero-filled.
void SetDeviceText(char (&field)[DeviceInfo::kTextSize], const char* text, std::size_t length);

// The receiver of every found device: the record (valid only during the call) and the port of
// the reporting worker. The result is ignored.
using FoundDeviceCallback = std::int32_t (*)(const DeviceInfo* device, std::int32_t port);
