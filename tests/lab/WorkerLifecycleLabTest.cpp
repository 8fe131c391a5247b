// Life of a search worker on real sockets: an empty datagram that changes nothing, exit, stop,
// and ports that someone else holds.

#include <algorithm>

#include "EngineLab.h"
#include "discovery/SearchDeviceMultiCommandThead.h"

namespace enginelab {
namespace {

using testsupport::UdpSocket;
using testsupport::WaitUntil;

// The three kinds of worker a host with one address has, in the coordinator's list order.
struct WorkerKind {
  const char* name;
  std::size_t index;
  int port;
  bool timeStampedExit;       // the exit line goes through WriteTimeLog
  const char* createMessage;  // the first line of CreateWorkThread
  bool groupMember;
};

const WorkerKind kWorkerKinds[] = {
    {"Broadcast", 0, 67, true, "Create Search Device Work Thread ", false},
    {"Group", 1, 1900, true, "Create Search Device Work Thread   ", true},
    {"Address", 2, 1530, false, "Create Search Device Work Thread   ", false},
};

std::string KindName(const ::testing::TestParamInfo<WorkerKind>& info) { return info.param.name; }
void PrintTo(const WorkerKind& kind, std::ostream* out) { *out << kind.name; }

class WorkerKindTest : public EngineLabTest, public ::testing::WithParamInterface<WorkerKind> {
 protected:
  std::string Line(const std::string& message) const {
    return L("SendThread " + std::to_string(GetParam().port) + " : " + message);
  }
  std::string ExitLine() const {
    const std::string message = "SendThread " + std::to_string(GetParam().port) +
                                " : Exit Search Device Tread , bExitSock : 1  ";
    return GetParam().timeStampedExit ? T(message) : L(message);
  }
  std::string FinishLine() const {
    return T("SendThread " + std::to_string(GetParam().port) +
             " : Finish Search Device Work Thread  ");
  }
  // A datagram the worker hands on as a device.
  void SendDevice(UdpSocket& device) const {
    switch (GetParam().port) {
      case 67:
        device.SendTo(kEngineAddress, 67, BroadcastReply("id=R1&host=nas"));
        break;
      case 1900:
        // Through the group, so the worker must still be a member.
        device.SendTo(kGroup, 1900, Notify("ssdp:alive", "R1", "nas"));
        break;
      default:
        device.SendTo(kEngineAddress, GetParam().port, HttpReply("R1", "nas"));
        break;
    }
  }
};

class WorkerEmptyDatagram : public WorkerKindTest {};

TEST_P(WorkerEmptyDatagram, IsIgnoredAndTheSocketStays) {
  const WorkerKind& kind = GetParam();
  manager->StartSearch();
  CSearchDeviceThread& worker = Worker(kind.index);
  ASSERT_TRUE(WaitForLine(Line("Wait Reciver Socket Protocol Info  ")));

  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kEngineAddress, kind.port, "");
  device->SendTo(kEngineAddress, kind.port, "");
  // Queued behind the empty datagrams: a restart would throw it away with the old socket.
  SendDevice(*device);
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  EXPECT_EQ(FoundDevices::Snapshot()[0].port, kind.port);

  const std::string ignored = Line(
      "Recive Socket Protocol Empty Datagram, IP : " + std::string(kDeviceAddress) + ", Ignored  ");
  EXPECT_EQ(log->Count(ignored), 2u);
  EXPECT_TRUE(LogHasInOrder({Line("Reciver Socket Protocol Info, nReceive = 0  "), ignored,
                             Line("Wait Reciver Socket Protocol Info  ")}));
  EXPECT_EQ(log->CountContaining("Null Info"), 0u);
  EXPECT_EQ(log->Count(Line(kind.createMessage)), 1u);
  EXPECT_EQ(log->Count(Line("Begin Search Device Work Thread  ")), 1u);
  EXPECT_EQ(log->Count(FinishLine()), 0u);
  EXPECT_EQ(worker.RunningThreads(), 1);
  EXPECT_TRUE(worker.HasSocket());
}

INSTANTIATE_TEST_SUITE_P(EveryKind, WorkerEmptyDatagram, ::testing::ValuesIn(kWorkerKinds),
                         KindName);

class WorkerExit : public WorkerKindTest {};

TEST_P(WorkerExit, EndsTheReceiveLoopWithoutRestart) {
  const WorkerKind& kind = GetParam();
  manager->StartSearch();
  CSearchDeviceThread& worker = Worker(kind.index);
  ASSERT_TRUE(WaitForLine(Line("Wait Reciver Socket Protocol Info  ")));

  worker.ExitWorkThread();
  ASSERT_TRUE(WaitUntil([&] { return worker.RunningThreads() == 0; }, kPatience));

  // The exit line and the end of the thread come from two threads, in either order.
  EXPECT_EQ(log->Count(ExitLine()), 1u);
  EXPECT_TRUE(LogHasInOrder({Line("Reciver Socket Protocol Info, nReceive = 0  "), FinishLine()}));
  if (kind.groupMember) {
    EXPECT_TRUE(LogHasInOrder({Line("Leave To Multicast Group Info "), ExitLine()}));
  }
  EXPECT_EQ(log->Count(Line(kind.createMessage)), 1u);
  EXPECT_EQ(log->CountContaining("Null Info"), 0u);
  EXPECT_FALSE(worker.HasSocket());
  for (std::size_t other = 0; other < manager->WorkerList().size(); ++other) {
    if (other != kind.index) {
      EXPECT_EQ(Worker(other).RunningThreads(), 1) << "worker " << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, WorkerExit, ::testing::ValuesIn(kWorkerKinds), KindName);

TEST_F(EngineLabTest, StopSearchEndsEveryReceiveThread) {
  lab->AddEngineAddress("10.231.0.3/16");
  manager->StartSearch();
  manager->SendSearch();
  ASSERT_EQ(manager->WorkerList().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(Worker(i).RunningThreads(), 1) << "worker " << i;
  }

  manager->StopSearch();
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(WaitUntil([&] { return Worker(i).RunningThreads() == 0; }, kPatience))
        << "worker " << i;
    EXPECT_FALSE(Worker(i).HasSocket()) << "worker " << i;
  }
  for (const int port : {67, 1900, 1530, 1550}) {
    EXPECT_EQ(log->Count(T("SendThread " + std::to_string(port) +
                           " : Finish Search Device Work Thread  ")),
              1u)
        << port;
  }
  EXPECT_EQ(log->CountContaining("Null Info"), 0u);
  EXPECT_TRUE(LogHasInOrder({
      T("SendThread 67 : Exit Search Device Tread , bExitSock : 1  "),
      L("SendThread 1900 : Leave To Multicast Group Info "),
      T("SendThread 1900 : Exit Search Device Tread , bExitSock : 1  "),
      L("SendThread 1530 : Exit Search Device Tread , bExitSock : 1  "),
      L("SendThread 1550 : Exit Search Device Tread , bExitSock : 1  "),
      "------Exit Log System-------",
  }));
}

// A fixed worker whose port another socket holds exclusively.
struct TakenPort {
  const char* name;
  std::size_t index;
  int port;
  const char* sendError;
};

void PrintTo(const TakenPort& item, std::ostream* out) { *out << item.name; }

class TakenFixedPort : public EngineLabTest, public ::testing::WithParamInterface<TakenPort> {};

TEST_P(TakenFixedPort, LeavesTheWorkerIdleWithItsBindError) {
  const TakenPort& item = GetParam();
  auto holder = EngineSocket("0.0.0.0", item.port);
  manager->StartSearch();
  manager->SendSearch();

  CSearchDeviceThread& worker = Worker(item.index);
  const std::string port = std::to_string(item.port);
  EXPECT_EQ(log->Count(L("SendThread " + port +
                         " : Create Search Device Work Thread Error : bind: Address already in "
                         "use   ")),
            1u);
  EXPECT_EQ(log->Count(L("SendThread " + port + item.sendError)), 1u);
  EXPECT_EQ(log->CountContaining("Handle Create Search Device Work Thread Error"), 0u);
  EXPECT_EQ(worker.RunningThreads(), 0);
  EXPECT_FALSE(worker.HasSocket());
  EXPECT_EQ(worker.Port(), item.port);
  EXPECT_EQ(worker.CreateRetries(), 0);
  // The other workers are not affected.
  for (std::size_t other = 0; other < manager->WorkerList().size(); ++other) {
    if (other != item.index) {
      EXPECT_EQ(Worker(other).RunningThreads(), 1) << "worker " << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    BroadcastAndGroup, TakenFixedPort,
    ::testing::Values(TakenPort{"Broadcast", 0, 67,
                                " : Send Broadcast Search Error : send_to: Bad file descriptor   "},
                      TakenPort{"Group", 1, 1900,
                                " : Send Search Device Error : send_to: Bad file descriptor   "}),
    [](const ::testing::TestParamInfo<TakenPort>& info) { return info.param.name; });

TEST_F(EngineLabTest, GroupWorkerSharesItsPortWithAListenerThatAllowsIt) {
  // Desktops often run an SSDP listener of their own that allows sharing the port.
  UdpSocket::Options sharing;
  sharing.reuseAddress = true;
  auto listener = EngineSocket("0.0.0.0", 1900, sharing);
  manager->StartSearch();
  ASSERT_EQ(Worker(1).RunningThreads(), 1);
  EXPECT_EQ(log->CountContaining("Work Thread Error"), 0u);

  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kGroup, 1900, Notify("ssdp:alive", "S1", "nas"));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  EXPECT_EQ(FoundDevices::Snapshot()[0].port, 1900);
}

// Holds every port in [first, last] on the engine side.
std::vector<std::unique_ptr<UdpSocket>> HoldPorts(int first, int last) {
  std::vector<std::unique_ptr<UdpSocket>> holders;
  for (int port = first; port <= last; ++port) {
    holders.push_back(std::make_unique<UdpSocket>("0.0.0.0", port));
  }
  return holders;
}

TEST_F(EngineLabTest, AddressWorkerMovesToTheNextFreePort) {
  auto holders = HoldPorts(1530, 1530);
  auto groupListener = DeviceSocket("0.0.0.0", 1900);
  groupListener->JoinGroup(kGroup);
  manager->StartSearch();

  CSearchDeviceThread& worker = Worker(2);
  EXPECT_EQ(worker.Port(), 1531);
  EXPECT_EQ(worker.CreateRetries(), 1);
  EXPECT_EQ(manager->NextCommandPort(), 1550);
  ASSERT_TRUE(WaitForLine(L("SendThread 1531 : Begin Search Device Work Thread  ")));
  EXPECT_TRUE(LogHasInOrder({
      L("SendThread 1530 : Create Search Device Work Thread   "),
      L("SendThread 1530 : Create Search Device Work Thread Error : bind: Address already in use  "
        " "),
      L("SendThread 1530 : Handle Create Search Device Work Thread Error  "),
      L("SendThread 1531 : Test Create Search Device Work Thread, testCount = 1, port = 1531  "),
      L("SendThread 1531 : Create Search Device Work Thread   "),
      L("SendThread 1531 : Begin Search Device Work Thread  "),
  }));

  // It searches from the new port, and answers to that port reach it.
  manager->SendSearch();
  std::vector<int> senders;
  while (senders.size() < 2) {
    const auto search = groupListener->Receive(kPatience);
    ASSERT_TRUE(search.has_value());
    senders.push_back(search->port);
  }
  std::sort(senders.begin(), senders.end());
  EXPECT_EQ(senders, (std::vector<int>{1531, 1900}));
  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kEngineAddress, 1531, HttpReply("M1", "nas"));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  EXPECT_EQ(FoundDevices::Snapshot()[0].port, 1531);
}

TEST_F(EngineLabTest, AddressWorkerGivesUpAfterTwentyMorePorts) {
  auto holders = HoldPorts(1530, 1550);
  manager->StartSearch();

  CSearchDeviceThread& worker = Worker(2);
  EXPECT_EQ(worker.Port(), 1550);
  EXPECT_EQ(worker.CreateRetries(), 20);
  EXPECT_EQ(worker.RunningThreads(), 0);
  EXPECT_FALSE(worker.HasSocket());
  for (int port = 1530; port <= 1550; ++port) {
    EXPECT_EQ(log->Count(L("SendThread " + std::to_string(port) +
                           " : Handle Create Search Device Work Thread Error  ")),
              1u)
        << port;
  }
  EXPECT_TRUE(LogHasInOrder({
      L("SendThread 1550 : Test Create Search Device Work Thread, testCount = 20, port = 1550  "),
      L("SendThread 1550 : Create Search Device Work Thread Error : bind: Address already in use  "
        " "),
      L("SendThread 1550 : Handle Create Search Device Work Thread Error  "),
  }));
  EXPECT_EQ(log->CountContaining("SendThread 1551"), 0u);
}

TEST_F(EngineLabTest, CreationRetriesCountOverTheWorkersWholeLife) {
  CSearchDeviceMultiCommandThead worker;
  // Never leave a receive thread running on a worker that goes out of scope.
  struct StopWorker {
    CSearchDeviceThread& worker;
    ~StopWorker() {
      worker.ExitWorkThread();
      worker.WaitForWorkThreads(kPatience);
    }
  } stop{worker};

  auto firstHolders = HoldPorts(1530, 1534);
  worker.InitValue(kEngineAddress, 1530, true);
  EXPECT_EQ(worker.Port(), 1535);
  EXPECT_EQ(worker.CreateRetries(), 5);
  ASSERT_TRUE(WaitUntil([&] { return worker.RunningThreads() == 1; }, kPatience));

  worker.ExitWorkThread();
  ASSERT_TRUE(WaitUntil([&] { return worker.RunningThreads() == 0; }, kPatience));
  auto laterHolders = HoldPorts(1535, 1560);
  worker.CreateWorkThread();

  // Five retries were used at the start; fifteen more remain, not twenty.
  EXPECT_EQ(worker.Port(), 1550);
  EXPECT_EQ(worker.CreateRetries(), 20);
  EXPECT_EQ(worker.RunningThreads(), 0);
  EXPECT_FALSE(worker.HasSocket());
  EXPECT_EQ(log->CountContaining("SendThread 1551"), 0u);
}

}  // namespace
}  // namespace enginelab
