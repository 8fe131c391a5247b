// What the workers hand on: HandleReceiveData of a broadcast and a multicast worker that have no
// socket, with the process-wide callback recording every hand-off. The workers differ in what a
// repeat of the last record does: the broadcast worker drops every repeat, the multicast worker
// drops one and forgets the record, so identical messages pass every second time.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/SearchDeviceBroadcastThread.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchDeviceMultiCommandThead.h"
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

// Every kind of worker hands its devices to the sink it was given, with its port, and not to the
// coordinator's hand-off; without a sink (again) they go to the hand-off.
TEST_F(WorkerHandOffTest, WorkersHandTheirDevicesToTheSinkTheyWereGiven) {
  const BroadcastReply reply("id=S&host=nas");
  const Message announcement(Notify("ssdp:alive", "S"));
  const struct {
    const char* kind;
    std::function<std::unique_ptr<CSearchDeviceThread>()> make;
    std::function<void(CSearchDeviceThread&)> send;
  } workers[] = {
      {"broadcast", [] { return std::make_unique<CSearchDeviceBroadcastThread>(); },
       [&](CSearchDeviceThread& worker) { reply.To(worker); }},
      {"group", [] { return std::make_unique<CSearchDeviceMulticastThread>(); },
       [&](CSearchDeviceThread& worker) { announcement.To(worker); }},
      {"address", [] { return std::make_unique<CSearchDeviceMultiCommandThead>(); },
       [&](CSearchDeviceThread& worker) { announcement.To(worker); }},
  };
  for (const auto& item : workers) {
    SCOPED_TRACE(item.kind);
    handOffs.clear();
    const std::unique_ptr<CSearchDeviceThread> worker = item.make();
    std::vector<std::pair<std::string, std::int32_t>> sunk;
    worker->SetDeviceSink([&sunk](const DeviceInfo& device, std::int32_t port) {
      sunk.emplace_back(device.id, port);
    });
    item.send(*worker);
    EXPECT_EQ(sunk, (std::vector<std::pair<std::string, std::int32_t>>{{"S", worker->Port()}}));
    EXPECT_TRUE(handOffs.empty());

    worker->SetDeviceSink(nullptr);
    worker->ResetLastDevice();
    item.send(*worker);
    EXPECT_EQ(sunk.size(), 1u);
    EXPECT_EQ(Ids(), "S/" + std::string(item.kind[0] == 'b' ? "1" : "2") + " ");
  }
}

}  // namespace

// Ports for per-address workers: the slots 1530, 1550, … in turn, past slots a worker holds
// (its creation retries may have moved it up within the slot), and round again at the top, so a
// network that comes and goes for days never runs out of ports.
TEST(CommandPortTest, SlotsInTurnPastHeldOnesAndRoundAgainAtTheTop) {
  std::int32_t next = 1530;
  EXPECT_EQ(TakeCommandPort(next, {}), 1530);
  EXPECT_EQ(TakeCommandPort(next, {}), 1550);
  EXPECT_EQ(next, 1570);
  // 1570 is held by a worker whose creation moved it on to 1575; 1590 exactly.
  EXPECT_EQ(TakeCommandPort(next, {1530, 1575, 1590}), 1610);

  next = 65510;  // the last slot whose retries (up to 20 ports on) stay below 65536
  EXPECT_EQ(TakeCommandPort(next, {}), 65510);
  EXPECT_EQ(next, 1530);
  next = 65530;  // past the last slot: starts again
  EXPECT_EQ(TakeCommandPort(next, {1530}), 1550);

  // Every slot held: the next one is given all the same, and the search goes on.
  std::vector<std::int32_t> all;
  for (std::int32_t port = 1530; port <= 65510; port += 20) {
    all.push_back(port);
  }
  next = 1550;
  EXPECT_EQ(TakeCommandPort(next, all), 1550);
  EXPECT_EQ(next, 1570);
}
