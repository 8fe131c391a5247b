// The multicast workers against replies and announcements sent across the lab's link.

#include "EngineLab.h"

namespace enginelab {
namespace {

struct RepeatCase {
  int port;      // the worker the replies go to
  int repeats;   // identical replies in one pass
  int handedOn;  // how many of them reach the callback
};

void PrintTo(const RepeatCase& item, std::ostream* out) {
  *out << item.repeats << " replies to " << item.port;
}

class RepeatedMulticastReply : public EngineLabTest,
                               public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(RepeatedMulticastReply, IsHandedOnEverySecondTime) {
  const RepeatCase& item = GetParam();
  manager->StartSearch();
  manager->SendSearch();
  auto device = DeviceSocket(kDeviceAddress, 0);
  for (int i = 0; i < item.repeats; ++i) {
    device->SendTo(kEngineAddress, item.port, HttpReply("abc", "nas"));
  }
  const std::string port = std::to_string(item.port);
  const std::string success =
      L("SendThread " + port + " : Handle Mulitcast Recive Information Success, type = 1 ");
  const std::string old = L("SendThread " + port +
                            " : Handle Mulitcast Recive Information Fail : Old Device, type = 1 ");
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        return log->Count(success) + log->Count(old) >= static_cast<std::size_t>(item.repeats);
      },
      kPatience));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), static_cast<std::size_t>(item.handedOn));
  for (const FoundDevice& each : found) {
    EXPECT_EQ(each.port, item.port);
    EXPECT_STREQ(each.device.id, "abc");
    EXPECT_STREQ(each.device.host, "nas");
    EXPECT_EQ(each.device.type, 1);
  }
  EXPECT_EQ(log->Count(old), static_cast<std::size_t>(item.repeats - item.handedOn));
}

INSTANTIATE_TEST_SUITE_P(GroupAndAddressWorkers, RepeatedMulticastReply,
                         ::testing::Values(RepeatCase{1900, 2, 1}, RepeatCase{1900, 3, 2},
                                           RepeatCase{1530, 4, 2}, RepeatCase{1530, 5, 3}));

TEST_F(EngineLabTest, AnnouncementsReachTheGroupWorkerWithTheirTypes) {
  manager->StartSearch();
  auto device = DeviceSocket(kDeviceAddress, 0);
  // The address of a device comes from its LOCATION, which need not be the sender's.
  const std::string location = "10.231.7.7";
  const struct {
    std::string message;
    bool handedOn;
    int type;
  } announcements[] = {
      {Notify("ssdp:alive", "A", "nasA", location), true, 2},
      // The same device leaving, and coming back: each a report of another type.
      {Notify("ssdp:byebye", "A", "nasA", location), true, 4},
      {Notify("ssdp:alive", "A", "nasA", location), true, 2},
      // The same announcement again: an old device, and the memory of it is cleared...
      {Notify("ssdp:alive", "A", "nasA", location), false, 2},
      // ...so the next identical one is handed on.
      {Notify("ssdp:alive", "A", "nasA", location), true, 2},
      {Notify("ssdp:update", "B", "nasB", location), true, 0},
      // Neither NT nor USN names the root device: not an announcement of a storage device.
      {Notify("ssdp:alive", "C", "nasC", location, "urn:schemas-upnp-org:device:HomeNasDevice:1"),
       false, 2},
      {Notify("ssdp:alive", "D", "nasD", location), true, 2},
  };
  std::size_t expected = 0;
  for (const auto& item : announcements) {
    device->SendTo(kGroup, 1900, item.message);
    expected += item.handedOn ? 1 : 0;
  }
  ASSERT_TRUE(FoundDevices::WaitForCount(expected));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), expected);
  std::size_t next = 0;
  for (const auto& item : announcements) {
    if (!item.handedOn) {
      continue;
    }
    const FoundDevice& each = found[next++];
    EXPECT_EQ(each.port, 1900);
    EXPECT_EQ(each.device.type, item.type);
    EXPECT_STREQ(each.device.ip, location.c_str());
    EXPECT_NE(item.message.find(std::string("uuid:") + each.device.id + "::"), std::string::npos);
  }
  EXPECT_EQ(log->Count(L("SendThread 1900 : Handle Mulitcast Recive Information Fail : Old "
                         "Device, type = 2 ")),
            1u);
  // Every announcement reached the worker, the one without a root device included.
  EXPECT_EQ(log->Count(L("SendThread 1900 : Handle Mulitcast Recive Information  ")),
            std::size(announcements));
  // The per-address worker is not in the group and hears none of them.
  EXPECT_EQ(log->Count(L("SendThread 1530 : Handle Mulitcast Recive Information  ")), 0u);
}

// A reply of `size` bytes whose identity ends the message, so that a receive that keeps fewer
// bytes loses the end of "::" and with it the device.
std::string ReplyOfSize(const std::string& uuid, std::size_t size) {
  const std::string head =
      "HTTP/1.1 200 OK\r\n"
      "LOCATION: http://10.231.0.2:80/desc.xml\r\n"
      "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/nas/HomeNas/1\r\n"
      "X-PAD: ";
  const std::string tail = "\r\nUSN: uuid:" + uuid + "::";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST_F(EngineLabTest, ReceiveKeepsExactly1024BytesOfADatagram) {
  manager->StartSearch();
  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kEngineAddress, 1530, ReplyOfSize("whole", 1024));
  device->SendTo(kEngineAddress, 1530, ReplyOfSize("cut", 1025));
  device->SendTo(kEngineAddress, 1530, HttpReply("last", "nas"));
  ASSERT_TRUE(FoundDevices::WaitForCount(2));

  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_STREQ(found[0].device.id, "whole");
  EXPECT_STREQ(found[1].device.id, "last");
  EXPECT_EQ(
      log->Count(L("SendThread 1530 : Recive Socket Protocol IP : 10.231.0.2, nLen : 1024  ")), 2u);
}

}  // namespace
}  // namespace enginelab
