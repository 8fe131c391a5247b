// The hand-off of found devices: one record at a time, whatever the number of workers reporting,
// and its log lines.

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "EngineLab.h"

namespace enginelab {
namespace {

using testsupport::UdpSocket;
using testsupport::WaitUntil;

// A callback that notices when it is entered while another call is still inside. It lingers a
// moment in every call, so that hand-offs that were not serialised would overlap.
std::atomic<int> inside{0};
std::atomic<int> overlaps{0};

std::int32_t LingeringCallback(const DeviceInfo* device, std::int32_t port) {
  if (inside.fetch_add(1) != 0) {
    ++overlaps;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  FoundDevices::Callback(device, port);
  inside.fetch_sub(1);
  return 0;
}

TEST_F(EngineLabTest, CallbackSeesOneRecordAtATimeWhileWorkersReportTogether) {
  constexpr int kPerWorker = 25;
  lab->AddEngineAddress("10.231.0.3/16");
  overlaps = 0;
  SearchDeviceManager::foundCallback = &LingeringCallback;
  manager->StartSearch();
  ASSERT_EQ(manager->WorkerList().size(), 4u);

  // One sender per worker, all at once. Two devices alternate on each worker, so that every
  // datagram is a new device for it.
  const struct {
    std::string address;
    int port;
    bool broadcast;
  } targets[] = {{kEngineAddress, 67, true},
                 {kEngineAddress, 1900, false},
                 {kEngineAddress, 1530, false},
                 {"10.231.0.3", 1550, false}};
  std::vector<std::unique_ptr<UdpSocket>> senders;
  for (std::size_t i = 0; i < std::size(targets); ++i) {
    senders.push_back(DeviceSocket(kDeviceAddress, 0));
  }
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < std::size(targets); ++i) {
    threads.emplace_back([&, i] {
      const auto& target = targets[i];
      for (int n = 0; n < kPerWorker; ++n) {
        const std::string id = "P" + std::to_string(target.port) + "N" + std::to_string(n % 2);
        senders[i]->SendTo(
            target.address, target.port,
            target.broadcast ? BroadcastReply("id=" + id + "&host=nas") : HttpReply(id, "nas"));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const std::size_t total = std::size(targets) * kPerWorker;
  ASSERT_TRUE(FoundDevices::WaitForCount(total));
  ASSERT_TRUE(
      WaitUntil([&] { return log->CountContaining("Thread Find Device Success Handle") == total; },
                kPatience));

  EXPECT_EQ(overlaps.load(), 0);
  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  std::map<int, int> perPort;
  for (const FoundDevice& item : found) {
    ++perPort[item.port];
  }
  EXPECT_EQ(perPort,
            (std::map<int, int>{
                {67, kPerWorker}, {1530, kPerWorker}, {1550, kPerWorker}, {1900, kPerWorker}}));

  // While one hand-off holds the lock, the log shows at most other workers arriving ("wait for
  // mutex"); its own three lines follow one another, in the order the callback saw the records.
  std::vector<std::string> held;
  for (const std::string& line : log->Lines()) {
    if (line.rfind("Handle ", 0) == 0 && line.find("wait for mutex") == std::string::npos) {
      held.push_back(line);
    }
  }
  ASSERT_EQ(held.size(), 3 * total);
  for (std::size_t i = 0; i < total; ++i) {
    const std::string port = std::to_string(found[i].port);
    const std::string prefix = "Handle " + port + " : Search " + port + " Thread Find Device ";
    EXPECT_EQ(held[3 * i], L(prefix + "have Mutex  ")) << i;
    EXPECT_EQ(held[3 * i + 1],
              L(prefix + "ID : " + found[i].device.id + ", IP : " + found[i].device.ip + "  "))
        << i;
    EXPECT_EQ(held[3 * i + 2], L(prefix + "Success Handle  ")) << i;
  }
  for (const int port : {67, 1900, 1530, 1550}) {
    const std::string text = std::to_string(port);
    EXPECT_EQ(log->Count(L("Handle " + text + " : Search " + text +
                           " Thread Find Device and wait for mutex  ")),
              static_cast<std::size_t>(kPerWorker))
        << port;
  }
}

class HandOffLines : public EngineLabTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HandOffLines, FollowTheAcceptedReplyWithOrWithoutACallback) {
  const bool registered = GetParam();
  if (!registered) {
    SearchDeviceManager::foundCallback = nullptr;
  }
  manager->StartSearch();
  // Every worker is waiting for datagrams before the reply goes out, so that no other thread
  // writes while the broadcast worker handles it.
  for (const int port : {67, 1900, 1530}) {
    ASSERT_TRUE(WaitForLine(
        L("SendThread " + std::to_string(port) + " : Wait Reciver Socket Protocol Info  ")));
  }
  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kEngineAddress, 67, BroadcastReply("id=A1&host=nas"));
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Wait Reciver Socket Protocol Info  "), 2));

  // The worker's lines follow one another without a gap.
  const std::vector<std::string> expected = {
      L("SendThread 67 : Reciver Socket Protocol Info, nReceive = 148  "),
      L("SendThread 67 : Recive Socket Protocol IP : 10.231.0.2, nLen : 148  "),
      L("SendThread 67 : Handle Broadcast Recive Information  "),
      L("SendThread 67 : Handle Broadcast Recive Information Success "),
      L("Handle 67 : Search 67 Thread Find Device and wait for mutex  "),
      L("Handle 67 : Search 67 Thread Find Device have Mutex  "),
      L("Handle 67 : Search 67 Thread Find Device ID : A1, IP : 10.231.0.2  "),
      L("Handle 67 : Search 67 Thread Find Device Success Handle  "),
      L("SendThread 67 : Wait Reciver Socket Protocol Info  "),
  };
  const std::vector<std::string> lines = log->Lines();
  const auto start = std::find(lines.begin(), lines.end(), expected.front());
  ASSERT_NE(start, lines.end());
  ASSERT_GE(static_cast<std::size_t>(lines.end() - start), expected.size());
  EXPECT_EQ(std::vector<std::string>(start, start + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(FoundDevices::Count(), registered ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Callback, HandOffLines, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Registered" : "Missing";
                         });

}  // namespace
}  // namespace enginelab
