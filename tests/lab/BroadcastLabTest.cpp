// The broadcast worker on port 67 against replies sent across the lab's link.

#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EngineLab.h"

namespace enginelab {
namespace {

const std::string kReplyText = "id=A1&host=nas&vendor=V&product=P&ssid=S&mac0=M0&mac1=M1";

class BroadcastLabTest : public EngineLabTest {
 protected:
  void SetUp() override {
    EngineLabTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
      return;
    }
    manager->StartSearch();
    manager->SendSearch();
    device = DeviceSocket(kDeviceAddress, 0);
  }

  void SendReply(const std::string& bytes) { device->SendTo(kEngineAddress, 67, bytes); }

  std::unique_ptr<testsupport::UdpSocket> device;
};

class RepeatedBroadcastReply : public BroadcastLabTest,
                               public ::testing::WithParamInterface<int> {};

TEST_P(RepeatedBroadcastReply, IsHandedOnOnceInOnePass) {
  const int repeats = GetParam();
  for (int i = 0; i < repeats; ++i) {
    SendReply(BroadcastReply(kReplyText));
  }
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Handle Broadcast Recive Information Fail "),
                          static_cast<std::size_t>(repeats - 1)));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].port, 67);
  const DeviceInfo& device = found[0].device;
  EXPECT_STREQ(device.id, "A1");
  // The address is the sender's, not anything from the text.
  EXPECT_STREQ(device.ip, kDeviceAddress);
  EXPECT_STREQ(device.host, "nas");
  EXPECT_STREQ(device.vendor, "V");
  EXPECT_STREQ(device.product, "P");
  EXPECT_STREQ(device.ssid, "S");
  EXPECT_STREQ(device.mac0, "M0");
  EXPECT_STREQ(device.mac1, "M1");
  EXPECT_STREQ(device.extra, "");
  EXPECT_STREQ(device.osVersion, "");
  EXPECT_EQ(device.type, 1);
  EXPECT_EQ(device.timeToLive, 60);
  EXPECT_EQ(log->Count(L("SendThread 67 : Handle Broadcast Recive Information Success ")), 1u);
}

INSTANTIATE_TEST_SUITE_P(TwiceAndThrice, RepeatedBroadcastReply, ::testing::Values(2, 3));

TEST_F(BroadcastLabTest, SameDeviceInTwoPassesIsReportedTwice) {
  SendReply(BroadcastReply(kReplyText));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  manager->SendSearch();
  SendReply(BroadcastReply(kReplyText));
  ASSERT_TRUE(FoundDevices::WaitForCount(2));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(IsSameDevice(found[0].device, found[1].device));
  EXPECT_EQ(log->Count(L("SendThread 67 : Handle Broadcast Recive Information Fail ")), 0u);
}

TEST_F(BroadcastLabTest, RepliesDifferingOnlyInTheTypeByteAreOneDevice) {
  SendReply(BroadcastReply(kReplyText, 1));
  SendReply(BroadcastReply(kReplyText, 2));
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Handle Broadcast Recive Information Fail ")));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].device.type, 1);
}

TEST_F(BroadcastLabTest, AnotherDeviceInBetweenMakesTheFirstNewAgain) {
  // The worker remembers only the last device it handed on.
  SendReply(BroadcastReply(kReplyText));
  SendReply(BroadcastReply("id=B2&host=other"));
  SendReply(BroadcastReply(kReplyText));
  ASSERT_TRUE(FoundDevices::WaitForCount(3));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_STREQ(found[0].device.id, "A1");
  EXPECT_STREQ(found[1].device.id, "B2");
  EXPECT_STREQ(found[2].device.id, "A1");
}

TEST_F(BroadcastLabTest, RequestOfAnotherSearchingHostIsNotADevice) {
  SendReply(BroadcastReply(kReplyText, 1, 11));
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Recive IP : 10.231.0.2 is not Device ")));

  EXPECT_EQ(FoundDevices::Count(), 0u);
  EXPECT_TRUE(LogHasInOrder({
      L("SendThread 67 : Recive Socket Protocol IP : 10.231.0.2, nLen : 148  "),
      L("SendThread 67 : Handle Broadcast Recive Information  "),
      L("SendThread 67 : Recive IP : 10.231.0.2 is not Device "),
      L("SendThread 67 : Wait Reciver Socket Protocol Info  "),
  }));
}

TEST_F(BroadcastLabTest, DatagramsOfOtherLengthsAreDroppedWithoutALine) {
  const std::string reply = BroadcastReply(kReplyText);
  const struct {
    std::string bytes;
    int received;  // what the worker's 1024-byte receive makes of it
  } cases[] = {
      {"x", 1},
      {reply.substr(0, 147), 147},
      {reply + "x", 149},
      {reply + std::string(1024 - 148, 'x'), 1024},
      {reply + std::string(1500 - 148, 'x'), 1024},
  };
  for (const auto& item : cases) {
    SendReply(item.bytes);
  }
  // A valid reply last: once it is handed on, everything before it has been handled.
  SendReply(reply);
  ASSERT_TRUE(FoundDevices::WaitForCount(1));

  for (const auto& item : cases) {
    EXPECT_GE(log->Count(L("SendThread 67 : Recive Socket Protocol IP : 10.231.0.2, nLen : " +
                           std::to_string(item.received) + "  ")),
              1u)
        << item.bytes.size() << " bytes";
  }
  EXPECT_EQ(log->Count(L("SendThread 67 : Handle Broadcast Recive Information  ")), 1u);
  EXPECT_EQ(FoundDevices::Count(), 1u);
}

// Linux would send the limited broadcast out of the default route's interface only. The request
// leaves through every interface that has a worker, each from its own address, and a device on
// the second network answers on the one socket.
TEST_F(EngineLabTest, BroadcastLeavesThroughEveryInterface) {
  const std::string second = lab->AddEngineInterface();
  std::string secondPeer = second;
  secondPeer.back() = 'd';
  lab->AddEngineAddress("10.231.64.1/18", second);
  ASSERT_EQ(
      lab->Run(lab->DeviceNamespace(), {"ip", "addr", "add", "10.231.64.2/18", "dev", secondPeer}),
      0);
  // One listener on each of the device side's links.
  std::vector<std::unique_ptr<testsupport::UdpSocket>> listeners;
  for (const std::string& link : {lab->DeviceInterface(), secondPeer}) {
    listeners.push_back(DeviceSocket("0.0.0.0", 68, {true, true}));
    ASSERT_EQ(::setsockopt(listeners.back()->Descriptor(), SOL_SOCKET, SO_BINDTODEVICE,
                           link.c_str(), static_cast<socklen_t>(link.size())),
              0);
  }
  manager->autoRefreshLocalIP = true;
  manager->StartSearch();
  manager->SendSearch();

  for (std::size_t link = 0; link < listeners.size(); ++link) {
    SCOPED_TRACE(link);
    const std::optional<testsupport::Datagram> request = listeners[link]->Receive(kPatience);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->address, link == 0 ? kEngineAddress : "10.231.64.1");
    EXPECT_EQ(request->port, 67);
    EXPECT_EQ(request->bytes.size(), 148u);
    EXPECT_FALSE(listeners[link]->Receive(std::chrono::milliseconds(100)).has_value());
  }
  EXPECT_EQ(log->Count(L("SendThread 67 : Send Broadcast Search Command Through " + second +
                         " (10.231.64.1)  ")),
            1u);

  auto device = DeviceSocket("10.231.64.2", 0);
  device->SendTo("10.231.64.1", 67, BroadcastReply(kReplyText));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  EXPECT_STREQ(FoundDevices::Snapshot()[0].device.ip, "10.231.64.2");
}

}  // namespace
}  // namespace enginelab
