// What leaves the engine's host for the devices, as the devices receive it, and what the engine
// makes of simulated devices' answers.

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "EngineLab.h"
#include "NasSimulator.h"
#include "TemporaryDirectory.h"

namespace enginelab {
namespace {

using testsupport::Datagram;
using testsupport::UdpSocket;

// The broadcast request, written out from the packet layout: opcode 11, type 1, two reserved
// bytes, the address 255.255.255.255, then zeros up to 148 bytes.
std::string ExpectedRequest() {
  std::string bytes(148, '\0');
  bytes[0] = '\x0b';
  bytes[1] = '\x01';
  bytes.replace(4, 4, "\xff\xff\xff\xff");
  return bytes;
}

const std::string kExpectedSearchText =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";

std::vector<Datagram> ReceiveSome(UdpSocket& socket, std::size_t count) {
  std::vector<Datagram> datagrams;
  while (datagrams.size() < count) {
    std::optional<Datagram> datagram = socket.Receive(kPatience);
    if (!datagram) {
      break;
    }
    datagrams.push_back(*datagram);
  }
  std::sort(datagrams.begin(), datagrams.end(),
            [](const Datagram& a, const Datagram& b) { return a.port < b.port; });
  return datagrams;
}

// The files of a capture folder by port: "<port>-<NNNN>.bin".
std::map<std::string, std::vector<std::string>> CapturedByPort(const std::string& folder) {
  std::map<std::string, std::vector<std::string>> captured;
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) {
    return captured;
  }
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos || name.size() < 4 || name.substr(name.size() - 4) != ".bin") {
      continue;
    }
    captured[name.substr(0, dash)].push_back(testsupport::ReadFile(folder + "/" + name));
  }
  ::closedir(directory);
  return captured;
}

TEST_F(EngineLabTest, SearchPassSendsTheRequestAndTheSearchTextByteForByte) {
  auto broadcastListener = DeviceSocket("0.0.0.0", 68);
  auto groupListener = DeviceSocket("0.0.0.0", 1900);
  groupListener->JoinGroup(kGroup);

  manager->StartSearch();
  manager->SendSearch();

  const std::vector<Datagram> requests = ReceiveSome(*broadcastListener, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].bytes, ExpectedRequest());
  EXPECT_EQ(requests[0].address, kEngineAddress);
  EXPECT_EQ(requests[0].port, 67);

  // The group worker and the per-address worker both send the search text.
  const std::vector<Datagram> searches = ReceiveSome(*groupListener, 2);
  ASSERT_EQ(searches.size(), 2u);
  ASSERT_EQ(kExpectedSearchText.size(), 129u);
  EXPECT_EQ(searches[0].port, 1530);
  EXPECT_EQ(searches[1].port, 1900);
  for (const Datagram& search : searches) {
    EXPECT_EQ(search.bytes, kExpectedSearchText);
    EXPECT_EQ(search.address, kEngineAddress);
  }
}

TEST_F(EngineLabTest, SimulatorReceivesTheRequestAndTheSearchTextByteForByte) {
  testsupport::TemporaryDirectory capture;
  testsupport::NasSimulator simulator(*lab, {"--capture", capture.Path()});

  manager->StartSearch();
  manager->SendSearch();

  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        const auto captured = CapturedByPort(capture.Path());
        return captured.count("68") == 1 && captured.at("68").size() >= 1 &&
               captured.count("1900") == 1 && captured.at("1900").size() >= 2;
      },
      kPatience));
  const auto captured = CapturedByPort(capture.Path());
  ASSERT_EQ(captured.at("68").size(), 1u);
  EXPECT_EQ(captured.at("68")[0], ExpectedRequest());
  ASSERT_EQ(captured.at("1900").size(), 2u);
  for (const std::string& search : captured.at("1900")) {
    EXPECT_EQ(search, kExpectedSearchText);
  }
}

TEST_F(EngineLabTest, SimulatedDevicesAreFoundThroughEveryWorker) {
  constexpr int kDevices = 3;
  lab->AddDeviceAddresses("10.231.1.1", kDevices);
  testsupport::NasSimulator simulator(
      *lab, {"--devices", std::to_string(kDevices), "--first-address", "10.231.1.1"});

  manager->StartSearch();
  manager->SendSearch();

  // Each device answers the broadcast worker and both multicast workers once.
  ASSERT_TRUE(FoundDevices::WaitForCount(3 * kDevices));
  std::map<int, std::vector<DeviceInfo>> byPort;
  for (const FoundDevice& item : FoundDevices::Snapshot()) {
    byPort[item.port].push_back(item.device);
  }
  ASSERT_EQ(byPort.size(), 3u);
  for (auto& [port, devices] : byPort) {
    SCOPED_TRACE("worker " + std::to_string(port));
    ASSERT_EQ(devices.size(), static_cast<std::size_t>(kDevices));
    std::sort(devices.begin(), devices.end(),
              [](const DeviceInfo& a, const DeviceInfo& b) { return std::strcmp(a.id, b.id) < 0; });
    const bool broadcast = port == 67;
    for (int i = 0; i < kDevices; ++i) {
      const DeviceInfo& device = devices[static_cast<std::size_t>(i)];
      const std::string index = std::to_string(i);
      EXPECT_STREQ(device.id, ("SIM" + index).c_str());
      // From the broadcast reply's sender, or from the LOCATION of the multicast reply; the
      // simulator answers from each device's own address either way.
      EXPECT_STREQ(device.ip, ("10.231.1." + std::to_string(i + 1)).c_str());
      EXPECT_STREQ(device.host, ("nas" + index).c_str());
      EXPECT_STREQ(device.vendor, "Tarvelo");
      EXPECT_STREQ(device.product, "HomeNas");
      EXPECT_STREQ(device.ssid, "home");
      EXPECT_STREQ(device.mac0, "02:00:00:00:00:01");
      EXPECT_STREQ(device.mac1, "02:00:00:00:00:02");
      EXPECT_STREQ(device.extra, broadcast ? "" : "1");
      EXPECT_STREQ(device.osVersion, broadcast ? "" : "2.0");
      EXPECT_EQ(device.type, 1);
    }
  }
  EXPECT_TRUE(byPort.count(67) && byPort.count(1900) && byPort.count(1530));
}

}  // namespace
}  // namespace enginelab
