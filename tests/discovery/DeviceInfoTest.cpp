#include <atomic>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "discovery/DeviceInfo.h"
#include "discovery/SearchDeviceManager.h"

namespace {

DeviceInfo Device(const char* id, const char* ip) {
  DeviceInfo device;
  SetDeviceText(device.id, id, std::strlen(id));
  SetDeviceText(device.ip, ip, std::strlen(ip));
  SetDeviceText(device.host, "nas", 3);
  return device;
}

TEST(DeviceInfoTest, ConstructionAndResetGiveZeroTextTypeZeroAndTimeToLive60) {
  DeviceInfo device = Device("A1", "10.0.0.1");
  device.type = 4;
  device.timeToLive = 7;
  device.reservedFlag = true;
  device.Reset();
  const DeviceInfo fresh;
  EXPECT_EQ(std::memcmp(&device, &fresh, sizeof device), 0);
  EXPECT_EQ(fresh.type, 0);
  EXPECT_EQ(fresh.timeToLive, 60);
  EXPECT_FALSE(fresh.reservedFlag);
  for (char c : fresh.mac1) EXPECT_EQ(c, 0);
}

TEST(DeviceInfoTest, SameDeviceComparesTheTenTextFieldsByteForByte) {
  const DeviceInfo base = Device("A1", "10.0.0.1");

  DeviceInfo otherTypeAndLife = base;
  otherTypeAndLife.type = 4;
  otherTypeAndLife.timeToLive = 5;
  otherTypeAndLife.reservedFlag = true;
  EXPECT_TRUE(IsSameDevice(base, otherTypeAndLife));

  DeviceInfo otherMac1 = base;
  SetDeviceText(otherMac1.mac1, "x", 1);
  EXPECT_FALSE(IsSameDevice(base, otherMac1));

  DeviceInfo otherCase = base;
  SetDeviceText(otherCase.host, "NAS", 3);
  EXPECT_FALSE(IsSameDevice(base, otherCase));

  // Bytes after the terminating NUL play no part.
  DeviceInfo garbageAfterText = base;
  garbageAfterText.host[10] = 'q';
  EXPECT_TRUE(IsSameDevice(base, garbageAfterText));

  // A field filled to all 32 bytes (no NUL) is compared over exactly 32 bytes.
  DeviceInfo full1 = base;
  DeviceInfo full2 = base;
  std::memset(full1.vendor, 'v', sizeof full1.vendor);
  std::memset(full2.vendor, 'v', sizeof full2.vendor);
  EXPECT_TRUE(IsSameDevice(full1, full2));
  full2.vendor[31] = 'w';
  EXPECT_FALSE(IsSameDevice(full1, full2));
}

TEST(DeviceInfoTest, TextIsCutTo31CharactersAndStopsAtNul) {
  DeviceInfo device;
  const std::string forty(40, 'k');
  SetDeviceText(device.ssid, forty.c_str(), forty.size());
  EXPECT_EQ(std::string(device.ssid), std::string(31, 'k'));
  EXPECT_EQ(device.ssid[31], '\0');

  const char withNul[] = {'a', 'b', '\0', 'c'};
  SetDeviceText(device.ssid, withNul, sizeof withNul);
  EXPECT_EQ(std::string(device.ssid), "ab");
  EXPECT_EQ(device.ssid[3], '\0');
}

// The field's bytes up to its NUL, after checking that the rest of the field is zero.
std::string FieldText(const char (&field)[DeviceInfo::kTextSize]) {
  const std::size_t size = strnlen(field, DeviceInfo::kTextSize);
  EXPECT_LT(size, static_cast<std::size_t>(DeviceInfo::kTextSize)) << "no NUL";
  for (std::size_t i = size; i < static_cast<std::size_t>(DeviceInfo::kTextSize); ++i) {
    EXPECT_EQ(field[i], '\0') << "byte " << i << " after the text";
  }
  return std::string(field, size);
}

std::string Ascii(std::size_t count) { return std::string(count, 'a'); }

TEST(DeviceInfoTest, TextLongerThan31BytesIsCutWhereNoCharacterIsSplit) {
  const std::string e2 = "\xc3\xa9";          // é, two bytes
  const std::string e3 = "\xe6\x97\xa5";      // 日, three bytes
  const std::string e4 = "\xf0\x9f\x98\x80";  // an emoji, four bytes
  const std::string cjk11 = [] {
    std::string text;
    for (int i = 0; i < 11; ++i) text += "\xe6\x97\xa5";
    return text;
  }();
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      // The cut at byte 31 inside a character, at every position the character allows.
      {"2-byte, cut after its lead", Ascii(30) + e2, Ascii(30)},
      {"3-byte, cut after its lead", Ascii(30) + e3 + "x", Ascii(30)},
      {"3-byte, cut after two bytes", Ascii(29) + e3 + "x", Ascii(29)},
      {"4-byte, cut after its lead", Ascii(30) + e4, Ascii(30)},
      {"4-byte, cut after two bytes", Ascii(29) + e4, Ascii(29)},
      {"4-byte, cut after three bytes", Ascii(28) + e4 + "x", Ascii(28)},
      {"only 3-byte characters", cjk11, cjk11.substr(0, 30)},
      // A character that ends exactly at byte 31 stays.
      {"2-byte ending at 31", Ascii(29) + e2 + "bc", Ascii(29) + e2},
      {"3-byte ending at 31", Ascii(28) + e3 + e3, Ascii(28) + e3},
      {"4-byte ending at 31", Ascii(27) + e4 + e4, Ascii(27) + e4},
      // A text that fits is copied whole, even when it ends in half a character: the device
      // sent it so, the cut did not make it.
      {"31 bytes ending in a lead byte", Ascii(30) + "\xc3", Ascii(30) + "\xc3"},
      // Bytes that are no well-formed UTF-8 are kept as received; a cut between them splits no
      // character.
      {"lead and continuation without their end", Ascii(29) + "\xe6\x97" + "A",
       Ascii(29) + "\xe6\x97"},
      {"a byte that is never UTF-8", Ascii(30) + "\xff\xfe", Ascii(30) + "\xff"},
      {"stray continuation bytes", Ascii(30) + "\xa9\xa9", Ascii(30) + "\xa9"},
      {"overlong form", Ascii(29) + "\xe0\x80\x80", Ascii(29) + "\xe0\x80"},
      {"surrogate", Ascii(29) + "\xed\xa0\x80", Ascii(29) + "\xed\xa0"},
      {"past U+10FFFF", Ascii(30) + "\xf4\x90\x80\x80", Ascii(30) + "\xf4"},
      {"lead past F4", Ascii(30) + "\xf5\x80\x80\x80", Ascii(30) + "\xf5"},
      {"Latin-1 letter before the cut", Ascii(30) + "\xe9tage", Ascii(30) + "\xe9"},
      // A character is whole only within the text: the text ends at its first NUL.
      {"character broken by a NUL", Ascii(30) + "\xc3" + std::string(1, '\0') + "\xa9",
       Ascii(30) + "\xc3"},
      // ASCII is cut at 31 as always.
      {"short ASCII", "nas", "nas"},
      {"long ASCII", Ascii(40), Ascii(31)},
      {"empty", "", ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    DeviceInfo device;
    std::memset(device.host, 'Z', sizeof device.host);  // the old contents must all go
    SetDeviceText(device.host, row.input.data(), row.input.size());
    EXPECT_EQ(FieldText(device.host), row.expected);
  }
}

TEST(DeviceInfoTest, CharacterIsWholeOnlyWithinTheGivenLength) {
  // The bytes that would finish the character lie past `length`: the text given ends in an
  // unfinished character, which is kept like any other ill-formed bytes.
  const std::string bytes = Ascii(30) + "\xe6\x97\xa5";
  DeviceInfo device;
  SetDeviceText(device.host, bytes.data(), 32);
  EXPECT_EQ(FieldText(device.host), Ascii(30) + "\xe6");
  SetDeviceText(device.host, bytes.data(), bytes.size());
  EXPECT_EQ(FieldText(device.host), Ascii(30));
}

TEST(DeviceInfoTest, CutAtACharacterBoundaryHonoursAnyLimit) {
  const std::string text = std::string("ab") + "\xe6\x97\xa5" + "cd";  // a, b, 日, c, d
  const std::size_t expected[] = {0, 1, 2, 2, 2, 5, 6, 7, 7};
  for (std::size_t limit = 0; limit < std::size(expected); ++limit) {
    EXPECT_EQ(CutLengthAtCharacter(text.data(), text.size(), limit), expected[limit]) << limit;
  }
}

TEST(DeviceInfoTest, HostNamesThatDifferOnlyPastTheLimitGiveOneIntactName) {
  // Ten names whose 30th character is a CJK character split by the cut: 一, 丁, 丂, ... differ in
  // their third byte only, and the cut used to keep the first two, so every device showed the same
  // name ending in a replacement character. Now each field holds the intact 29 bytes before it.
  const std::string prefix = "storage-room-second-floor-nas";
  ASSERT_EQ(prefix.size(), 29u);
  std::vector<DeviceInfo> devices;
  for (int i = 0; i < 10; ++i) {
    const std::string name =
        prefix + "\xe4\xb8" + static_cast<char>(0x80 + i) + "-" + std::to_string(i);
    DeviceInfo device;
    SetDeviceText(device.host, name.data(), name.size());
    const std::string ip = "10.0.0." + std::to_string(i + 1);
    SetDeviceText(device.ip, ip.data(), ip.size());
    devices.push_back(device);
  }
  for (const DeviceInfo& device : devices) {
    EXPECT_EQ(FieldText(device.host), prefix);
  }
  // The record cannot hold what sets the names apart; the devices stay apart by their address.
  EXPECT_FALSE(IsSameDevice(devices[0], devices[1]));
  DeviceInfo sameAddress = devices[1];
  SetDeviceText(sameAddress.ip, devices[0].ip, std::strlen(devices[0].ip));
  EXPECT_TRUE(IsSameDevice(devices[0], sameAddress));
}

// Hand-off: every report goes through one mutex, one at a time.
std::atomic<int> inCallback{0};
std::atomic<int> overlaps{0};
std::vector<std::string> seen;

std::int32_t RecordingCallback(const DeviceInfo* device, std::int32_t port) {
  if (inCallback.fetch_add(1) != 0) {
    ++overlaps;
  }
  seen.push_back(std::string(device->id) + "@" + std::to_string(port));
  std::this_thread::yield();
  inCallback.fetch_sub(1);
  return 0;
}

std::int32_t ThrowingCallback(const DeviceInfo*, std::int32_t) {
  throw std::runtime_error("receiver failed");
}

TEST(HandOffTest, ConcurrentReportsReachTheCallbackOneAfterAnother) {
  seen.clear();
  overlaps = 0;
  SearchDeviceManager::foundCallback = &RecordingCallback;
  constexpr int kThreads = 4;
  constexpr int kReports = 500;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kReports; ++i) {
        const std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
        SearchDeviceManager::OnDeviceFound(Device(id.c_str(), "10.0.0.1"), 1530 + t);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  SearchDeviceManager::foundCallback = nullptr;
  EXPECT_EQ(overlaps.load(), 0);
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kReports));
  // Each worker's reports arrive whole and in the order it made them.
  std::vector<int> next(kThreads, 0);
  for (const std::string& report : seen) {
    const int thread = report[1] - '0';
    const int index = std::stoi(report.substr(3, report.find('@') - 3));
    EXPECT_EQ(index, next[thread]) << report;
    next[thread] = index + 1;
    EXPECT_EQ(report.substr(report.find('@') + 1), std::to_string(1530 + thread));
  }
}

TEST(HandOffTest, CallbackGetsACopyAndThePortAndAThrowReleasesTheMutex) {
  seen.clear();
  SearchDeviceManager::OnDeviceFound(Device("none", "10.0.0.1"), 67);  // no callback: nothing
  EXPECT_TRUE(seen.empty());

  SearchDeviceManager::foundCallback = &ThrowingCallback;
  EXPECT_THROW(SearchDeviceManager::OnDeviceFound(Device("X", "10.0.0.2"), 67), std::runtime_error);
  SearchDeviceManager::foundCallback = &RecordingCallback;
  // Would deadlock if the throw had left the mutex locked.
  SearchDeviceManager::OnDeviceFound(Device("Y", "10.0.0.3"), 1900);
  SearchDeviceManager::foundCallback = nullptr;
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "Y@1900");
}

}  // namespace
