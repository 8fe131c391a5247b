// The coordinator on a real host: which workers the host's addresses get, and the log of a whole
// run from start to stop.

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>

#include "EngineLab.h"

namespace enginelab {
namespace {

using testsupport::Datagram;
using testsupport::WaitUntil;

struct WorkerShape {
  std::string name;
  int port;
};

std::vector<WorkerShape> Shape(const SearchDeviceManager& manager) {
  std::vector<WorkerShape> shape;
  for (const WorkerEntry& entry : manager.WorkerList()) {
    shape.push_back({entry.name, entry.worker->Port()});
  }
  return shape;
}

::testing::AssertionResult HasWorkers(const SearchDeviceManager& manager,
                                      const std::vector<WorkerShape>& expected) {
  const std::vector<WorkerShape> actual = Shape(manager);
  std::string text;
  for (const WorkerShape& item : actual) {
    text += " {" + item.name + ", " + std::to_string(item.port) + "}";
  }
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << "workers:" << text;
  }
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i].name != expected[i].name || actual[i].port != expected[i].port) {
      return ::testing::AssertionFailure() << "workers:" << text;
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_F(EngineLabTest, HostWithTwoAddressesGetsFourWorkersInOrder) {
  lab->AddEngineAddress("10.231.0.3/16");
  auto groupListener = DeviceSocket("0.0.0.0", 1900);
  groupListener->JoinGroup(kGroup);
  manager->StartSearch();

  ASSERT_TRUE(
      HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}, {"10.231.0.3", 1550}}));
  EXPECT_EQ(manager->NextCommandPort(), 1570);
  EXPECT_EQ(Worker(2).Address(), "10.231.0.1");
  EXPECT_EQ(Worker(3).Address(), "10.231.0.3");
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Worker(i).RunningThreads(), 1) << "worker " << i;
  }

  // Each per-address worker searches from its own address.
  manager->SendSearch();
  std::vector<std::pair<int, std::string>> senders;
  while (senders.size() < 3) {
    const std::optional<Datagram> search = groupListener->Receive(kPatience);
    ASSERT_TRUE(search.has_value());
    senders.emplace_back(search->port, search->address);
  }
  std::sort(senders.begin(), senders.end());
  EXPECT_EQ(senders, (std::vector<std::pair<int, std::string>>{
                         {1530, "10.231.0.1"}, {1550, "10.231.0.3"}, {1900, "10.231.0.1"}}));
}

class AddressAddedAfterStart : public EngineLabTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AddressAddedAfterStart, GetsAWorkerAtTheNextSearchOnlyWithAutoRefresh) {
  const bool autoRefresh = GetParam();
  manager->autoRefreshLocalIP = autoRefresh;
  manager->StartSearch();
  ASSERT_TRUE(HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}}));

  lab->AddEngineAddress("10.231.0.3/16");
  manager->SendSearch();

  if (autoRefresh) {
    ASSERT_TRUE(
        HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}, {"10.231.0.3", 1550}}));
    EXPECT_EQ(manager->NextCommandPort(), 1570);
    EXPECT_EQ(Worker(3).RunningThreads(), 1);
    // The new worker takes part in the same pass.
    EXPECT_TRUE(LogHasInOrder({L("SendMessage : pdhcp is NULL "),
                               L("Get Current Local IP, IP = 10.231.0.3  "),
                               L("SendThread 1550 : Init Search Device Work Thread Value, strIP : "
                                 "10.231.0.3, nPort : 1550  "),
                               L("SendThread 1550 : Send Search Device Command  ")}));
  } else {
    EXPECT_TRUE(HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}}));
    EXPECT_EQ(log->Count(L("Get Current Local IP Info ")), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithout, AddressAddedAfterStart, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "AutoRefresh" : "NoAutoRefresh";
                         });

TEST_F(EngineLabTest, AddressThatGoesAwayLosesItsWorkerAndGetsANewOneWhenItReturns) {
  manager->autoRefreshLocalIP = true;
  manager->StartSearch();
  lab->AddEngineAddress("10.231.0.3/16");
  manager->SendSearch();
  ASSERT_EQ(manager->WorkerList().size(), 4u);

  lab->RemoveEngineAddress("10.231.0.3/16");
  manager->SendSearch();
  ASSERT_TRUE(HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}}));
  EXPECT_TRUE(LogHasInOrder({L("Get Current Local IP Info "),
                             L("SendThread 1550 : Remove Search Device Work Thread, strIP : "
                               "10.231.0.3  "),
                             L("SendThread 1550 : Exit Search Device Tread , bExitSock : 1  ")}));
  // The removed worker's thread ends; its port is free again.
  ASSERT_TRUE(WaitForLine(T("SendThread 1550 : Finish Search Device Work Thread  ")));
  EXPECT_EQ(log->CountContaining("SendThread 1550 : Send Search Device Command"), 1u);
  EXPECT_NO_THROW(EngineSocket("0.0.0.0", 1550));

  lab->AddEngineAddress("10.231.0.3/16");
  manager->SendSearch();
  ASSERT_TRUE(
      HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}, {"10.231.0.3", 1570}}));
  EXPECT_EQ(manager->NextCommandPort(), 1590);
  EXPECT_EQ(manager->RetiredWorkerCount(), 0u);

  // Replies to the returned address reach its new worker; nothing listens on the old port.
  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo("10.231.0.3", 1550, HttpReply("old", "nas"));
  device->SendTo("10.231.0.3", 1570, HttpReply("back", "nas"));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  ASSERT_TRUE(
      WaitForLine(L("SendThread 1570 : Handle Mulitcast Recive Information Success, type = 1 ")));
  const std::vector<FoundDevice> found = FoundDevices::Snapshot();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].port, 1570);
  EXPECT_STREQ(found[0].device.id, "back");
}

TEST_F(EngineLabTest, SameAddressOnTwoInterfacesGivesOneWorker) {
  const std::string second = lab->AddEngineInterface();
  lab->AddEngineAddress("10.231.0.1/16", second);
  manager->StartSearch();

  // The host really lists the address twice...
  EXPECT_EQ(log->Count(L("Get Current Local IP, IP = 10.231.0.1  ")), 2u);
  // ...and gets one worker for it.
  EXPECT_TRUE(HasWorkers(*manager, {{"", 67}, {"", 1900}, {"10.231.0.1", 1530}}));
  EXPECT_EQ(manager->NextCommandPort(), 1550);
}

TEST_F(EngineLabTest, HostWithoutAddressesGetsOnlyTheFixedWorkers) {
  lab->RemoveEngineAddress(std::string(kEngineAddress) + "/16");
  manager->StartSearch();

  EXPECT_TRUE(HasWorkers(*manager, {{"", 67}, {"", 1900}}));
  EXPECT_EQ(Worker(0).RunningThreads(), 1);
  EXPECT_EQ(Worker(1).RunningThreads(), 1);
  EXPECT_EQ(log->CountContaining("Get Current Local IP, IP"), 0u);
}

// Sorts the lines of a run into those of the user-interface thread (the calls into the engine)
// and those of each worker's receive thread, which interleave with them.
struct SortedLog {
  std::vector<std::string> caller;
  std::map<int, std::vector<std::string>> workers;
};

SortedLog SortLines(const std::vector<std::string>& lines) {
  static const std::regex kWorkerLine(
      R"(^(\[--[0-9:.]+--\]\*)?SendThread ([0-9]+) : (Begin|Wait|Reciver|Recive|Handle Mulitcast|Handle Broadcast|Finish) .*)");
  SortedLog sorted;
  for (const std::string& line : lines) {
    std::smatch match;
    if (std::regex_match(line, match, kWorkerLine)) {
      sorted.workers[std::stoi(match[2])].push_back(line);
    } else {
      sorted.caller.push_back(line);
    }
  }
  return sorted;
}

TEST_F(EngineLabTest, WholeRunWritesTheExpectedLines) {
  manager->autoRefreshLocalIP = true;
  manager->StartSearch();
  manager->SendSearch();
  // The group worker hears both search texts through multicast loopback and drops them.
  ASSERT_TRUE(WaitForLine(L("SendThread 1900 : Wait Reciver Socket Protocol Info  "), 3));
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Wait Reciver Socket Protocol Info  ")));
  ASSERT_TRUE(WaitForLine(L("SendThread 1530 : Wait Reciver Socket Protocol Info  ")));
  manager->StopSearch();
  ASSERT_TRUE(manager->WaitForWorkThreads(kPatience));

  const SortedLog sorted = SortLines(log->Lines());
  EXPECT_EQ(sorted.caller, (std::vector<std::string>{
                               L("SendThread 67 : Init Search Device Work Thread Value, strIP : , "
                                 "nPort : 67  "),
                               L("SendThread 67 : Create Search Device Work Thread "),
                               // As root the build's port helper, beside the test, binds 67.
                               L("SendThread 67 : Socket Bound By Port Helper " +
                                 testsupport::BuiltProgram("tarvelo-port-helper") + "  "),
                               L("SendThread 1900 : Init Search Device Work Thread Value, strIP : "
                                 ", nPort : 1900  "),
                               L("SendThread 1900 : Create Search Device Work Thread   "),
                               L("SendThread 1900 : Add To Multicast Group Info "),
                               L("Get Current Local IP Info "),
                               L("Get Current Local IP, IP = 10.231.0.1  "),
                               L("SendThread 1530 : Init Search Device Work Thread Value, strIP : "
                                 "10.231.0.1, nPort : 1530  "),
                               L("SendThread 1530 : Create Search Device Work Thread   "),
                               L("SendMessage : pdhcp is NULL "),
                               L("Get Current Local IP Info "),
                               L("Get Current Local IP, IP = 10.231.0.1  "),
                               L("SendThread 67 : Send Broadcast Search Command  "),
                               L("SendThread 67 : Send Broadcast Search Command Through " +
                                 lab->EngineInterface() + " (10.231.0.1)  "),
                               L("SendThread 1900 : Send Search Device Command  "),
                               L("SendThread 1530 : Send Search Device Command  "),
                               T("SendThread 67 : Exit Search Device Tread , bExitSock : 1  "),
                               L("SendThread 1900 : Leave To Multicast Group Info "),
                               T("SendThread 1900 : Exit Search Device Tread , bExitSock : 1  "),
                               L("SendThread 1530 : Exit Search Device Tread , bExitSock : 1  "),
                               "------Exit Log System-------",
                           }));

  const std::vector<std::string> quiet = {
      L("SendThread %d : Begin Search Device Work Thread  "),
      L("SendThread %d : Wait Reciver Socket Protocol Info  "),
      L("SendThread %d : Reciver Socket Protocol Info, nReceive = 0  "),
      T("SendThread %d : Finish Search Device Work Thread  "),
  };
  const auto forPort = [](std::vector<std::string> lines, int port) {
    for (std::string& line : lines) {
      line.replace(line.find("%d"), 2, std::to_string(port));
    }
    return lines;
  };
  EXPECT_EQ(sorted.workers.size(), 3u);
  EXPECT_EQ(sorted.workers.at(67), forPort(quiet, 67));
  EXPECT_EQ(sorted.workers.at(1530), forPort(quiet, 1530));
  const std::vector<std::string> heard = {
      L("SendThread 1900 : Reciver Socket Protocol Info, nReceive = 129  "),
      L("SendThread 1900 : Recive Socket Protocol IP : 10.231.0.1, nLen : 129  "),
      L("SendThread 1900 : Handle Mulitcast Recive Information  "),
      L("SendThread 1900 : Wait Reciver Socket Protocol Info  "),
  };
  std::vector<std::string> group = {L("SendThread 1900 : Begin Search Device Work Thread  "),
                                    L("SendThread 1900 : Wait Reciver Socket Protocol Info  ")};
  group.insert(group.end(), heard.begin(), heard.end());
  group.insert(group.end(), heard.begin(), heard.end());
  group.push_back(L("SendThread 1900 : Reciver Socket Protocol Info, nReceive = 0  "));
  group.push_back(T("SendThread 1900 : Finish Search Device Work Thread  "));
  EXPECT_EQ(sorted.workers.at(1900), group);
}

// A program the application starts later (a browser, the file manager) must not inherit the
// engine's sockets: it would hold port 67 after the application ends, and the next start's
// broadcast worker could not bind it.
TEST_F(EngineLabTest, EngineSocketsAreNotInheritedByStartedPrograms) {
  // The engine's descriptors, by the port they are bound to: each worker's socket and, once its
  // receive thread runs, that thread's own descriptor of it.
  const auto engineDescriptors = [] {
    std::map<int, int> portOf;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      const int descriptor = std::stoi(entry.path().filename().string());
      sockaddr_in local{};
      socklen_t size = sizeof local;
      if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
          local.sin_family == AF_INET) {
        const int port = ntohs(local.sin_port);
        if (port == 67 || port == 1900 || port == 1530) {
          portOf[descriptor] = port;
        }
      }
    }
    return portOf;
  };
  manager->StartSearch();
  ASSERT_TRUE(WaitUntil([&] { return engineDescriptors().size() >= 6; }, kPatience));
  for (const auto& [descriptor, port] : engineDescriptors()) {
    EXPECT_NE(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, 0) << "port " << port;
  }
}

}  // namespace
}  // namespace enginelab
