#pragma once

#include <cstddef>
#include <cstdint>

// One discovered device: a plain, fixed-size record copied whole wherever it goes. Text fields
// hold the 8-bit text exactly as received, NUL-terminated, at most 31 bytes, zero-filled after
// the text. A text longer than that is cut where no UTF-8 character is split (SetDeviceText).
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
// The longest time to live a device may give itself, in seconds (a day): a report that stays
// valid longer would keep a device that has left the network in the list for good.
inline constexpr std::int64_t kMaximumTimeToLive = 24 * 60 * 60;

// True when all ten text fields are equal, each compared byte for byte as a NUL-terminated
// string of at most 32 bytes. The flag, the type and the time to live play no part.
bool IsSameDevice(const DeviceInfo& a, const DeviceInfo& b);

// Copies text into a field: at most `length` bytes, stopping at a NUL, the rest of the field
// zero-filled. A text of more than 31 bytes is cut with CutLengthAtCharacter, so a multibyte
// character that would straddle the cut is left out whole; every other byte is kept as received.
void SetDeviceText(char (&field)[DeviceInfo::kTextSize], const char* text, std::size_t length);

// How many leading bytes of `text` (`length` bytes) to keep when at most `limit` fit: all of them
// when they fit, else `limit`, or fewer when the cut at `limit` would fall inside a well-formed
// UTF-8 character of the text, which then goes whole. Bytes that are not well-formed UTF-8 are
// taken one by one, as the device sent them, so a cut between them never counts as a split.
std::size_t CutLengthAtCharacter(const char* text, std::size_t length, std::size_t limit);

// The receiver of every found device: the record (valid only during the call) and the port of
// the reporting worker. The result is ignored.
using FoundDeviceCallback = std::int32_t (*)(const DeviceInfo* device, std::int32_t port);
