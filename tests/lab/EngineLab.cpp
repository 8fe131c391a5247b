#include "EngineLab.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace enginelab {
namespace {

std::mutex foundMutex;
std::vector<FoundDevice> found;

}  // namespace

std::int32_t FoundDevices::Callback(const DeviceInfo* device, std::int32_t port) {
  std::lock_guard<std::mutex> lock(foundMutex);
  found.push_back(FoundDevice{*device, port});
  return 0;
}

void FoundDevices::Clear() {
  std::lock_guard<std::mutex> lock(foundMutex);
  found.clear();
}

std::vector<FoundDevice> FoundDevices::Snapshot() {
  std::lock_guard<std::mutex> lock(foundMutex);
  return found;
}

std::size_t FoundDevices::Count() {
  std::lock_guard<std::mutex> lock(foundMutex);
  return found.size();
}

bool FoundDevices::WaitForCount(std::size_t count) {
  return testsupport::WaitUntil([count] { return Count() >= count; }, kPatience);
}

std::string BroadcastReply(const std::string& text, std::uint8_t type, std::uint8_t opcode) {
  // opcode, type, two reserved bytes, an address, three reserved words, then the text area.
  std::string bytes(148, '\0');
  bytes[0] = static_cast<char>(opcode);
  bytes[1] = static_cast<char>(type);
  bytes.replace(20, std::min<std::size_t>(text.size(), 128), text.substr(0, 128));
  return bytes;
}

std::string HttpReply(const std::string& uuid, const std::string& host,
                      const std::string& locationHost) {
  return "HTTP/1.1 200 OK\r\n"
         "CACHE-CONTROL: max-age=1800\r\n"
         "EXT:\r\n"
         "LOCATION: http://" +
         locationHost +
         ":80/desc.xml\r\n"
         "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/" +
         host +
         "/HomeNas/1\r\n"
         "SSIDINFO: SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02\r\n"
         "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
         "USN: uuid:" +
         uuid + "::upnp:rootdevice\r\n\r\n";
}

std::string Notify(const std::string& nts, const std::string& uuid, const std::string& host,
                   const std::string& locationHost, const std::string& usnSuffix) {
  return "NOTIFY * HTTP/1.1\r\n"
         "HOST: 239.143.255.250:1900\r\n"
         "CACHE-CONTROL: max-age=1800\r\n"
         "LOCATION: http://" +
         locationHost +
         ":80/desc.xml\r\n"
         "NT: " +
         usnSuffix +
         "\r\n"
         "NTS: " +
         nts +
         "\r\n"
         "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/" +
         host +
         "/HomeNas/1\r\n"
         "USN: uuid:" +
         uuid + "::" + usnSuffix + "\r\n\r\n";
}

void EngineLabTest::SetUp() {
  TARVELO_REQUIRE_LAB();
  lab.emplace();
  log.emplace();
  clock.emplace(7, 9, 5, 3, 250);
  FoundDevices::Clear();
  SearchDeviceManager::foundCallback = &FoundDevices::Callback;
  scope.emplace(*lab, lab->EngineNamespace());
  // Everything below opens sockets: make sure it happens in the lab, never on the machine.
  ASSERT_TRUE(testsupport::LabNetwork::IsCurrentNamespace(lab->EngineNamespace()));
  manager = std::make_unique<SearchDeviceManager>();
}

void EngineLabTest::TearDown() {
  // The coordinator waits for its receive threads, so nothing calls back after this.
  manager.reset();
  SearchDeviceManager::foundCallback = nullptr;
  scope.reset();
}

std::unique_ptr<testsupport::UdpSocket> EngineLabTest::DeviceSocket(
    const std::string& address, int port, testsupport::UdpSocket::Options options) {
  auto devices = lab->EnterDevices();
  return std::make_unique<testsupport::UdpSocket>(address, port, options);
}

std::unique_ptr<testsupport::UdpSocket> EngineLabTest::EngineSocket(
    const std::string& address, int port, testsupport::UdpSocket::Options options) {
  return std::make_unique<testsupport::UdpSocket>(address, port, options);
}

::testing::AssertionResult EngineLabTest::LogHasInOrder(
    const std::vector<std::string>& expected) const {
  std::string missing;
  const std::vector<std::string> lines = log->Lines();
  if (testsupport::ContainsInOrder(lines, expected, &missing)) {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure()
                 << "not found in order: \"" << missing << "\"\nlog:\n";
  for (const std::string& line : lines) {
    failure << "  " << line << "\n";
  }
  return failure;
}

}  // namespace enginelab
