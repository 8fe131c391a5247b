// The engine on a host whose networks change while it runs: several networks at once, addresses
// that come and go, an interface deleted and made again, and the watch that reports it all.

#include <fcntl.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <utility>

#include "EngineLab.h"
#include "NasSimulator.h"
#include "discovery/SearchProtocol.h"

namespace enginelab {
namespace {

using testsupport::LabNetwork;
using testsupport::UdpSocket;
using testsupport::WaitUntil;

std::size_t EntriesOf(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++count;
  }
  return count;
}

std::size_t ThreadCount() { return EntriesOf("/proc/self/task"); }
std::size_t DescriptorCount() { return EntriesOf("/proc/self/fd"); }

// The process's netlink sockets, with whether each is closed on exec.
std::vector<bool> NetlinkSockets() {
  std::vector<bool> closeOnExec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int descriptor = std::stoi(entry.path().filename().string());
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
        local.ss_family == AF_NETLINK) {
      closeOnExec.push_back((::fcntl(descriptor, F_GETFD) & FD_CLOEXEC) != 0);
    }
  }
  return closeOnExec;
}

std::vector<std::string> WorkerNames(const SearchDeviceManager& manager) {
  std::vector<std::string> names;
  for (const WorkerEntry& entry : manager.WorkerList()) {
    names.push_back(entry.name);
  }
  return names;
}

// Waits a moment, then checks that none of the sockets has received anything.
::testing::AssertionResult NothingArrives(const std::vector<UdpSocket*>& sockets) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (const auto datagram = sockets[i]->Receive(std::chrono::milliseconds(1))) {
      return ::testing::AssertionFailure()
             << "socket " << i << " received " << datagram->bytes.size() << " bytes from "
             << datagram->address << ":" << datagram->port;
    }
  }
  return ::testing::AssertionSuccess();
}

// A socket inside one of the lab's namespaces.
std::unique_ptr<UdpSocket> SocketIn(const LabNetwork& lab, const std::string& ns,
                                    const std::string& address, int port,
                                    UdpSocket::Options options = UdpSocket::Options{}) {
  const LabNetwork::Scope scope(lab, ns);
  return std::make_unique<UdpSocket>(address, port, options);
}

TEST_F(EngineLabTest, OneSearchFindsTheDevicesOfThreeNetworks) {
  // The lab's own link and two more, each with devices that answer only the broadcast search and
  // devices that answer only the multicast search.
  const LabNetwork::DeviceNetwork second =
      lab->AddDeviceNetwork("10.231.64.1/18", "10.231.64.2/18");
  const LabNetwork::DeviceNetwork third =
      lab->AddDeviceNetwork("10.231.128.1/18", "10.231.128.2/18");
  const struct {
    const LabNetwork::DeviceNetwork* network;  // null: the lab's own link
    std::string broadcastOnly;                 // the first of two device addresses
    std::string multicastOnly;
  } networks[] = {{nullptr, "10.231.1.1", "10.231.2.1"},
                  {&second, "10.231.65.1", "10.231.66.1"},
                  {&third, "10.231.129.1", "10.231.130.1"}};
  std::vector<std::unique_ptr<testsupport::NasSimulator>> simulators;
  std::set<std::pair<std::string, bool>> expected;  // address, found by the broadcast worker
  for (const auto& item : networks) {
    for (const bool broadcast : {true, false}) {
      const std::string& first = broadcast ? item.broadcastOnly : item.multicastOnly;
      if (item.network == nullptr) {
        lab->AddDeviceAddresses(first, 2);
      } else {
        lab->AddDeviceAddresses(first, 2, *item.network);
      }
      const std::vector<std::string> arguments{"--devices", "2", "--first-address", first,
                                               broadcast ? "--no-multicast" : "--no-broadcast"};
      simulators.push_back(std::make_unique<testsupport::NasSimulator>(
          *lab, item.network == nullptr ? lab->DeviceNamespace() : item.network->ns, arguments));
      const std::string prefix = first.substr(0, first.rfind('.') + 1);
      expected.insert({prefix + "1", broadcast});
      expected.insert({prefix + "2", broadcast});
    }
  }

  manager->StartSearch();
  ASSERT_EQ(WorkerNames(*manager),
            (std::vector<std::string>{"", "", "10.231.0.1", "10.231.64.1", "10.231.128.1"}));
  manager->SendSearch();

  std::set<std::pair<std::string, bool>> found;
  const auto collect = [&] {
    found.clear();
    for (const FoundDevice& item : FoundDevices::Snapshot()) {
      found.insert({item.device.ip, item.port == 67});
    }
    return found == expected;
  };
  EXPECT_TRUE(WaitUntil(collect, kPatience)) << found.size() << " of " << expected.size();
}

TEST_F(EngineLabTest, AddressesThatComeAndGoLeaveNoThreadOrDescriptorBehind) {
  constexpr int kAddresses = 10;
  constexpr int kRounds = 5;
  manager->StartSearch();
  // Each receive thread makes a descriptor of its own once it runs.
  for (const char* port : {"67", "1900", "1530"}) {
    ASSERT_TRUE(WaitForLine(
        L("SendThread " + std::string(port) + " : Wait Reciver Socket Protocol Info  ")));
  }
  const std::size_t threads = ThreadCount();
  const std::size_t descriptors = DescriptorCount();
  const auto address = [](int i) { return "10.231.0." + std::to_string(10 + i) + "/16"; };
  const std::vector<std::string> fixed{"", "", kEngineAddress};

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Every other round the addresses are looked at by a search pass instead.
    const bool bySearch = round % 2 == 1;
    manager->autoRefreshLocalIP = bySearch;
    const auto refresh = [&] {
      bySearch ? (void)manager->SendSearch() : manager->RefreshLocalWorkers();
    };
    for (int i = 0; i < kAddresses; ++i) {
      lab->AddEngineAddress(address(i));
    }
    refresh();
    ASSERT_EQ(manager->WorkerList().size(), fixed.size() + kAddresses);
    for (int i = 0; i < kAddresses; ++i) {
      lab->RemoveEngineAddress(address(i));
    }
    refresh();
    ASSERT_EQ(WorkerNames(*manager), fixed);
  }
  EXPECT_EQ(manager->NextCommandPort(), 1550 + kRounds * kAddresses * 20);
  EXPECT_EQ(log->CountContaining("Remove Search Device Work Thread"),
            static_cast<std::size_t>(kRounds * kAddresses));

  // The removed workers are deleted at a refresh once their receive threads have ended.
  const bool clean = WaitUntil(
      [&] {
        manager->RefreshLocalWorkers();
        return manager->RetiredWorkerCount() == 0 && ThreadCount() == threads &&
               DescriptorCount() == descriptors;
      },
      kPatience);
  EXPECT_TRUE(clean) << "retired " << manager->RetiredWorkerCount() << ", threads " << ThreadCount()
                     << " (" << threads << " after start), descriptors " << DescriptorCount()
                     << " (" << descriptors << " after start)";
  EXPECT_EQ(WorkerNames(*manager), fixed);
}

// The group is joined per interface: on a link other than the default route's, and on an
// interface that was deleted and made again, announcements still reach the group worker.
TEST_F(EngineLabTest, AnnouncementsOnEveryLinkReachTheGroupWorkerAfterItsInterfaceIsMadeAgain) {
  const LabNetwork::DeviceNetwork second =
      lab->AddDeviceNetwork("10.231.64.1/18", "10.231.64.2/18");
  manager->StartSearch();
  lab->RecreateLink();
  manager->RefreshLocalWorkers();

  const struct {
    std::string ns;
    const char* address;
    const char* uuid;
  } announcers[] = {{lab->DeviceNamespace(), kDeviceAddress, "RECREATED"},
                    {second.ns, "10.231.64.2", "SECOND"}};
  for (const auto& item : announcers) {
    // Bound to its address, the socket sends to the group out of that address's link.
    SocketIn(*lab, item.ns, item.address, 0)
        ->SendTo(kGroup, 1900, Notify("ssdp:alive", item.uuid, "nas", item.address));
  }
  FoundDevices::WaitForCount(std::size(announcers));
  std::set<std::string> ids;
  for (const FoundDevice& item : FoundDevices::Snapshot()) {
    EXPECT_EQ(item.port, 1900);
    ids.insert(item.device.id);
  }
  EXPECT_EQ(ids, (std::set<std::string>{"RECREATED", "SECOND"}));
}

TEST_F(EngineLabTest, AddressWatchReportsAddedAndRemovedAddressesUntilTheSearchStops) {
  manager->StartSearch();
  std::atomic<int> calls{0};
  ASSERT_TRUE(manager->WatchLocalAddresses([&calls] { ++calls; }));
  // One netlink socket, which programs the application starts do not inherit.
  EXPECT_EQ(NetlinkSockets(), std::vector<bool>{true});

  const struct {
    const char* what;
    std::function<void()> change;
  } changes[] = {
      {"added", [&] { lab->AddEngineAddress("10.231.0.3/16"); }},
      {"removed", [&] { lab->RemoveEngineAddress("10.231.0.3/16"); }},
      {"link added", [&] { lab->AddEngineInterface(); }},
  };
  for (const auto& item : changes) {
    const int before = calls;
    item.change();
    EXPECT_TRUE(WaitUntil([&] { return calls > before; }, kPatience)) << item.what;
  }

  manager->StopSearch();
  EXPECT_TRUE(NetlinkSockets().empty());
  const int stopped = calls;
  lab->AddEngineAddress("10.231.0.4/16");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(calls, stopped);
}

TEST_F(EngineLabTest, NetworkJoinedWhileRunningIsSearchedAtOnceAndAlone) {
  manager->StartSearch();
  // What reaches the devices of the lab's own link, already searched...
  auto oldRequests = DeviceSocket("0.0.0.0", kBroadcastDevicePort, {true, true});
  auto oldSearches = DeviceSocket("0.0.0.0", kMulticastPort, {false, true});
  oldSearches->JoinGroup(kGroup);
  // ...and of a network the host joins now.
  const LabNetwork::DeviceNetwork joined =
      lab->AddDeviceNetwork("10.231.64.1/18", "10.231.64.2/18");
  auto newRequests = SocketIn(*lab, joined.ns, "0.0.0.0", kBroadcastDevicePort, {true, true});
  auto newSearches = SocketIn(*lab, joined.ns, "0.0.0.0", kMulticastPort, {false, true});
  newSearches->JoinGroup(kGroup);

  manager->OnLocalAddressesChanged();
  ASSERT_EQ(WorkerNames(*manager),
            (std::vector<std::string>{"", "", kEngineAddress, "10.231.64.1"}));
  EXPECT_EQ(Worker(3).Port(), 1550);

  const auto request = newRequests->Receive(kPatience);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->address, "10.231.64.1");
  EXPECT_EQ(request->port, 67);
  EXPECT_EQ(request->bytes.size(), sizeof(SearchPacket));
  const auto search = newSearches->Receive(kPatience);
  ASSERT_TRUE(search.has_value());
  EXPECT_EQ(search->address, "10.231.64.1");
  EXPECT_EQ(search->port, 1550);
  EXPECT_EQ(search->bytes, kMulticastSearchRequest);
  EXPECT_TRUE(
      NothingArrives({oldRequests.get(), oldSearches.get(), newRequests.get(), newSearches.get()}));

  // Nothing new: nothing is sent.
  manager->OnLocalAddressesChanged();
  EXPECT_TRUE(
      NothingArrives({oldRequests.get(), oldSearches.get(), newRequests.get(), newSearches.get()}));
  EXPECT_EQ(log->Count(L("SendThread 67 : Send Broadcast Search Command  ")), 1u);
  EXPECT_EQ(manager->WorkerList().size(), 4u);
}

}  // namespace
}  // namespace enginelab
