#include <atomic>
#include <cstring>
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
