// The engine against what anyone on the network can send: empty datagrams thrown at every port
// during a search and at exit, and devices that name something other than an IPv4 address.

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "EngineLab.h"
#include "NasSimulator.h"

namespace enginelab {
namespace {

using testsupport::UdpSocket;
using testsupport::WaitUntil;

// Sends empty datagrams from the devices' side to each of `ports` on the engine's address, one to
// every port each millisecond, until destroyed.
class EmptyDatagramSender {
 public:
  EmptyDatagramSender(const testsupport::LabNetwork& lab, std::vector<std::int32_t> ports)
      : ports_(std::move(ports)) {
    thread_ = std::thread([this, &lab] {
      const testsupport::LabNetwork::Scope devices = lab.EnterDevices();
      UdpSocket socket(kDeviceAddress, 0);
      while (!done_) {
        for (const std::int32_t port : ports_) {
          try {
            socket.SendTo(kEngineAddress, port, std::string_view());
          } catch (const std::exception&) {
            // A full send buffer drops the datagram; the rounds still count the attempts.
          }
        }
        ++rounds_;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~EmptyDatagramSender() {
    done_ = true;
    thread_.join();
  }
  EmptyDatagramSender(const EmptyDatagramSender&) = delete;
  EmptyDatagramSender& operator=(const EmptyDatagramSender&) = delete;

  int Rounds() const { return rounds_.load(); }

 private:
  std::vector<std::int32_t> ports_;
  std::atomic<bool> done_{false};
  std::atomic<int> rounds_{0};
  std::thread thread_;
};

// The distinct replies handed on so far: (worker port, device address).
std::set<std::pair<int, std::string>> Replies() {
  std::set<std::pair<int, std::string>> replies;
  for (const FoundDevice& found : FoundDevices::Snapshot()) {
    replies.emplace(found.port, found.device.ip);
  }
  return replies;
}

TEST_F(EngineLabTest, EveryDeviceIsFoundWhileEmptyDatagramsArrive) {
  constexpr int kDevices = 20;
  lab->AddDeviceAddresses("10.231.1.1", kDevices);
  // The replies come over 300 ms, so the empty datagrams arrive between them throughout.
  testsupport::NasSimulator simulator(
      *lab, {"--devices", std::to_string(kDevices), "--first-address", "10.231.1.1",
             "--reply-spread", "300"});
  manager->StartSearch();
  const std::vector<std::int32_t> ports = manager->ReplyPorts();
  ASSERT_EQ(ports, (std::vector<std::int32_t>{67, 1900, 1530}));

  EmptyDatagramSender sender(*lab, ports);
  ASSERT_TRUE(WaitUntil([&] { return sender.Rounds() >= 10; }, kPatience));
  manager->SendSearch();

  // Each device answers the broadcast worker and both multicast workers once.
  std::set<std::pair<int, std::string>> expected;
  for (const int port : {67, 1900, 1530}) {
    for (int i = 1; i <= kDevices; ++i) {
      expected.emplace(port, "10.231.1." + std::to_string(i));
    }
  }
  EXPECT_TRUE(WaitUntil([&] { return Replies() == expected; }, kPatience))
      << Replies().size() << " of " << expected.size() << " replies handed on";
  ASSERT_TRUE(WaitUntil([&] { return sender.Rounds() >= 400; }, kPatience));

  for (const int port : {67, 1900, 1530}) {
    EXPECT_GT(log->CountContaining("SendThread " + std::to_string(port) +
                                   " : Recive Socket Protocol Empty Datagram"),
              0u)
        << port;
  }
  // No socket was made again: every worker created its socket and began its thread once.
  EXPECT_EQ(log->CountContaining("Null Info"), 0u);
  EXPECT_EQ(log->CountContaining("Create Search Device Work Thread"), 3u);
  EXPECT_EQ(log->CountContaining("Begin Search Device Work Thread"), 3u);
  EXPECT_EQ(log->CountContaining("Finish Search Device Work Thread"), 0u);
}

TEST_F(EngineLabTest, StopSearchEndsEveryWorkerWhileEmptyDatagramsArrive) {
  manager->StartSearch();
  const std::vector<std::int32_t> ports = manager->ReplyPorts();
  ASSERT_EQ(ports.size(), 3u);
  EmptyDatagramSender sender(*lab, ports);
  ASSERT_TRUE(
      WaitUntil([&] { return log->CountContaining("Recive Socket Protocol Empty Datagram") >= 30; },
                kPatience));

  manager->StopSearch();
  for (std::size_t i = 0; i < manager->WorkerList().size(); ++i) {
    EXPECT_TRUE(WaitUntil([&] { return Worker(i).RunningThreads() == 0; }, kPatience))
        << "worker " << i;
    EXPECT_FALSE(Worker(i).HasSocket()) << "worker " << i;
  }
  for (const int port : ports) {
    EXPECT_EQ(log->Count(T("SendThread " + std::to_string(port) +
                           " : Finish Search Device Work Thread  ")),
              1u)
        << port;
  }
  EXPECT_EQ(log->CountContaining("Null Info"), 0u);
  EXPECT_EQ(log->CountContaining("Create Search Device Work Thread"), 3u);
}

// Header names written as the device likes, values kept as they are.
std::string WithLowerCaseNames(std::string message) {
  const std::pair<const char*, const char*> names[] = {{"LOCATION:", "location:"},
                                                       {"SERVER:", "Server:"},
                                                       {"SSIDINFO:", "SsidInfo:"},
                                                       {"USN:", "usn:"}};
  for (const auto& [from, to] : names) {
    message.replace(message.find(from), std::string(from).size(), to);
  }
  return message;
}

TEST_F(EngineLabTest, DeviceWithoutAnIPv4AddressIsNotHandedOn) {
  manager->StartSearch();
  ASSERT_TRUE(WaitForLine(L("SendThread 1530 : Wait Reciver Socket Protocol Info  ")));
  auto device = DeviceSocket(kDeviceAddress, 0);
  // HttpReply writes "LOCATION: http://HOST:80/desc.xml".
  const char* const hostile[] = {"evil.example/phish?x=", "nas.example", "[fe80::1]", "",
                                 "10.231.0.2@evil.example"};
  for (const char* host : hostile) {
    device->SendTo(kEngineAddress, 1530, HttpReply("H1", "nas", host));
  }
  // Queued behind them on the same socket: once it is handed on, the others have been read.
  device->SendTo(kEngineAddress, 1530, WithLowerCaseNames(HttpReply("Good1", "NaS")));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_STREQ(found[0].device.id, "Good1");
  EXPECT_STREQ(found[0].device.ip, kDeviceAddress);
  EXPECT_STREQ(found[0].device.host, "NaS");
  EXPECT_STREQ(found[0].device.ssid, "home");
  EXPECT_EQ(log->Count(L("SendThread 1530 : Handle Mulitcast Recive Information Fail : Not IPv4 "
                         "Address, IP : 10.231.0.2 ")),
            std::size(hostile));
}

}  // namespace
}  // namespace enginelab
