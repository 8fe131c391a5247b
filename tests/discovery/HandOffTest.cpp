// What the workers hand on: HandleReceiveData of a broadcast and a multicast worker that have no
// socket, with the process-wide callback recording every hand-off. The workers differ in what a
// repeat of the last record does: the broadcast worker drops every repeat, the multicast worker
// drops one and forgets the record, so identical messages pass every second time.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/SearchDeviceBroadcastThread.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchDeviceMulticastThread.h"
#include "discovery/SearchProtocol.h"

namespace {

struct HandOff {
  std::string id;
  std::string host;
  std::int32_t type;
  std::int32_t port;
};

std::vector<HandOff> handOffs;

std::int32_t RecordHandOff(const DeviceInfo* device, std::int32_t port) {
  handOffs.push_back({device->id, device->host, device->type, port});
  return 0;
}

class WorkerHandOffTest : public testing::Test {
 protected:
  void SetUp() override {
    handOffs.clear();
    SearchDeviceManager::foundCallback = &RecordHandOff;
  }
  void TearDown() override { SearchDeviceManager::foundCallback = nullptr; }
};

// A broadcast reply as a device sends it, passed the way the receive loop passes datagrams: in a
// zeroed buffer one byte longer than the data.
struct BroadcastReply {
  explicit BroadcastReply(const std::string& text, std::uint8_t byte1 = 1) {
    buffer[0] = static_cast<char>(kSearchReplyOpcode);
    buffer[1] = static_cast<char>(byte1);
    std::memcpy(buffer + 20, text.data(), text.size());
  }
  void To(CSearchDeviceThread& worker, std::int32_t length = sizeof(SearchPacket)) const {
    worker.HandleReceiveData(buffer, length, "10.231.1.1");
  }
  char buffer[CSearchDeviceThread::kReceiveLength + 1] = {};
};

std::string Ids() {
  std::string ids;
  for (const HandOff& handOff : handOffs) {
    ids += handOff.id + "/" + std::to_string(handOff.type) + " ";
  }
  return ids;
}

TEST_F(WorkerHandOffTest, BroadcastWorkerHandsOnEachDeviceOncePerRun) {
  CSearchDeviceBroadcastThread worker;
  const BroadcastReply a("id=A&host=nas-a");
  const BroadcastReply b("id=B&host=nas-b");
  const BroadcastReply aOtherType("id=A&host=nas-a", 2);
  BroadcastReply request("");
  request.buffer[0] = static_cast<char>(kSearchRequestOpcode);

  a.To(worker);
  a.To(worker);
  a.To(worker);
  aOtherType.To(worker);  // the type is no part of the comparison
  request.To(worker);     // no device, and the last record stays
  a.To(worker, 147);      // wrong length
  a.To(worker);
  b.To(worker);
  a.To(worker);  // another device came in between
  EXPECT_EQ(Ids(), "A/1 B/1 A/1 ");

  // A new search pass clears the last record, so the same device is reported again.
  worker.ResetLastDevice();
  a.To(worker);
  EXPECT_EQ(Ids(), "A/1 B/1 A/1 A/1 ");
  for (const HandOff& handOff : handOffs) {
    EXPECT_EQ(handOff.port, worker.Port());
  }
}

struct Message {
  explicit Message(const std::string& text) { std::memcpy(buffer, text.data(), text.size()); }
  void To(CSearchDeviceThread& worker) const {
    worker.HandleReceiveData(buffer, static_cast<std::int32_t>(strlen(buffer)), "10.231.1.1");
  }
  char buffer[CSearchDeviceThread::kReceiveLength + 1] = {};
};

std::string Notify(const std::string& nts, const std::string& id = "abc") {
  return "NOTIFY * HTTP/1.1\r\nLOCATION: http://10.231.1.1:80/\r\nNT: upnp:rootdevice\r\nNTS: " +
         nts + "\r\nSERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\nUSN: uuid:" + id +
         "::upnp:rootdevice\r\n\r\n";
}

TEST_F(WorkerHandOffTest, MulticastWorkerHandsOnIdenticalMessagesEverySecondTime) {
  CSearchDeviceMulticastThread worker;
  const Message alive(Notify("ssdp:alive"));
  const Message byebye(Notify("ssdp:byebye"));
  const Message other(Notify("ssdp:alive", "other"));
  const Message noDevice("M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n\r\n");

  alive.To(worker);     // handed on
  alive.To(worker);     // old device; the last record is cleared
  alive.To(worker);     // handed on again
  noDevice.To(worker);  // dropped; the last record stays
  byebye.To(worker);    // equal but for the type: the device leaving, handed on
  byebye.To(worker);    // old device; the last record is cleared
  alive.To(worker);     // the device back, handed on
  other.To(worker);
  byebye.To(worker);
  EXPECT_EQ(Ids(), "abc/2 abc/2 abc/4 abc/2 other/2 abc/4 ");
}

}  // namespace
