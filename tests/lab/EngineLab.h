#pragma once

// Shared parts of the engine's lab tests: a fixture that gives every test its own lab with the
// test thread inside the engine's namespace, the diagnostic log captured under a fixed clock,
// a recorder of the devices the engine hands on, and the datagrams that devices send.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LabNetwork.h"
#include "LogCapture.h"
#include "UdpSocket.h"
#include "discovery/DeviceInfo.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchDeviceThread.h"

namespace enginelab {

// Every wait of these tests is a poll that ends as soon as its condition holds; the limit only
// decides when a test gives up, and is generous for a loaded machine or a sanitizer build.
inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(30);

inline constexpr const char* kEngineAddress = testsupport::LabNetwork::kEngineAddress;
inline constexpr const char* kDeviceAddress = testsupport::LabNetwork::kDeviceAddress;
inline constexpr const char* kGroup = "239.143.255.250";

struct FoundDevice {
  DeviceInfo device;
  int port = 0;
};

// Records every device the engine hands on, in hand-off order. The engine's callback is a plain
// function pointer, so the record is process-wide.
class FoundDevices {
 public:
  static std::int32_t Callback(const DeviceInfo* device, std::int32_t port);
  static void Clear();
  static std::vector<FoundDevice> Snapshot();
  static std::size_t Count();
  static bool WaitForCount(std::size_t count);
};

// A 148-byte reply of the broadcast search.
std::string BroadcastReply(const std::string& text, std::uint8_t type = 1,
                           std::uint8_t opcode = 12);
// A reply to the multicast search, as a storage device sends it.
std::string HttpReply(const std::string& uuid, const std::string& host,
                      const std::string& locationHost = kDeviceAddress);
// An announcement to the group with the given NTS value.
std::string Notify(const std::string& nts, const std::string& uuid, const std::string& host,
                   const std::string& locationHost = kDeviceAddress,
                   const std::string& usnSuffix = "upnp:rootdevice");

class EngineLabTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A socket of the device side, bound to `address`:`port` (port 0: any free port).
  std::unique_ptr<testsupport::UdpSocket> DeviceSocket(
      const std::string& address, int port,
      testsupport::UdpSocket::Options options = testsupport::UdpSocket::Options{});
  // A socket of the engine side (the test thread is already inside the engine's namespace).
  std::unique_ptr<testsupport::UdpSocket> EngineSocket(
      const std::string& address, int port,
      testsupport::UdpSocket::Options options = testsupport::UdpSocket::Options{});

  // The lines the log writers make of a message under the fixed clock.
  std::string L(const std::string& message) const { return clock->Stamped(message); }
  std::string T(const std::string& message) const { return clock->TimeStamped(message); }

  bool WaitForLine(const std::string& line, std::size_t count = 1) const {
    return log->WaitForCount(line, count, kPatience);
  }
  // Checks that `expected` appears in the log in this order.
  ::testing::AssertionResult LogHasInOrder(const std::vector<std::string>& expected) const;

  CSearchDeviceThread& Worker(std::size_t index) const {
    return *manager->WorkerList().at(index).worker;
  }

  std::optional<testsupport::LabNetwork> lab;
  std::optional<testsupport::LogCapture> log;
  std::optional<testsupport::FixedLogClock> clock;
  std::optional<testsupport::LabNetwork::Scope> scope;
  std::unique_ptr<SearchDeviceManager> manager;
};

}  // namespace enginelab
