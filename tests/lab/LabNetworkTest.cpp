// The network lab itself: what it creates, that traffic crosses its link, that scopes and spawned
// programs land in the right namespace, that it removes everything, and the cleanup script.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "LabNetwork.h"
#include "TemporaryDirectory.h"
#include "UdpSocket.h"

extern char** environ;

namespace {

using testsupport::LabNetwork;
using testsupport::UdpSocket;

constexpr auto kPatience = std::chrono::seconds(30);

bool NamespaceExists(const std::string& ns) {
  struct stat info {};
  return ::stat(("/run/netns/" + ns).c_str(), &info) == 0;
}

// Runs a program in the test's own namespace and returns its exit status.
int RunHere(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& item : argv) {
    pointers.push_back(const_cast<char*>(item.c_str()));
  }
  pointers.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LabNetworkTest, CreatesAJoinedPairAndRemovesIt) {
  TARVELO_REQUIRE_LAB();
  std::string engine;
  std::string device;
  {
    LabNetwork lab;
    engine = lab.EngineNamespace();
    device = lab.DeviceNamespace();
    EXPECT_NE(engine, device);
    EXPECT_TRUE(NamespaceExists(engine));
    EXPECT_TRUE(NamespaceExists(device));
    EXPECT_LE(lab.EngineInterface().size(), 15u);
    EXPECT_LE(lab.DeviceInterface().size(), 15u);

    // A unicast datagram and a limited broadcast both cross the link.
    std::unique_ptr<UdpSocket> receiver;
    {
      auto scope = lab.EnterDevices();
      receiver = std::make_unique<UdpSocket>("0.0.0.0", 4000);
    }
    {
      auto scope = lab.EnterEngine();
      UdpSocket::Options broadcast;
      broadcast.broadcast = true;
      UdpSocket sender(LabNetwork::kEngineAddress, 0, broadcast);
      sender.SendTo(LabNetwork::kDeviceAddress, 4000, "unicast");
      sender.SendTo("255.255.255.255", 4000, "broadcast");
    }
    for (const char* expected : {"unicast", "broadcast"}) {
      const auto datagram = receiver->Receive(kPatience);
      ASSERT_TRUE(datagram.has_value()) << expected;
      EXPECT_EQ(datagram->bytes, expected);
      EXPECT_EQ(datagram->address, LabNetwork::kEngineAddress);
    }
  }
  EXPECT_FALSE(NamespaceExists(engine));
  EXPECT_FALSE(NamespaceExists(device));
}

TEST(LabNetworkTest, TwoLabsOfOneProcessHaveTheirOwnNames) {
  TARVELO_REQUIRE_LAB();
  LabNetwork first;
  LabNetwork second;
  EXPECT_NE(first.EngineNamespace(), second.EngineNamespace());
  EXPECT_NE(first.EngineInterface(), second.EngineInterface());
  // The creating process is part of the name, which is how the cleanup tells stale labs.
  const std::string owner = "tvl-" + std::to_string(::getpid()) + "-";
  EXPECT_EQ(first.EngineNamespace().rfind(owner, 0), 0u);
  EXPECT_EQ(second.DeviceNamespace().rfind(owner, 0), 0u);
}

TEST(LabNetworkTest, ScopesNestAndReturnAndThreadsKeepTheirNamespace) {
  TARVELO_REQUIRE_LAB();
  LabNetwork lab;
  ASSERT_TRUE(testsupport::InMachineNamespace());
  std::optional<LabNetwork::Scope> engine;
  engine.emplace(lab, lab.EngineNamespace());
  EXPECT_TRUE(LabNetwork::IsCurrentNamespace(lab.EngineNamespace()));
  EXPECT_FALSE(testsupport::InMachineNamespace());
  {
    auto devices = lab.EnterDevices();
    EXPECT_TRUE(LabNetwork::IsCurrentNamespace(lab.DeviceNamespace()));
  }
  EXPECT_TRUE(LabNetwork::IsCurrentNamespace(lab.EngineNamespace()));

  // A thread started inside the scope stays in the namespace after the scope has ended; the
  // engine's receive threads rely on that.
  std::atomic<bool> look{false};
  bool threadInEngine = false;
  std::thread started([&] {
    while (!look) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    threadInEngine = LabNetwork::IsCurrentNamespace(lab.EngineNamespace());
  });
  engine.reset();
  EXPECT_FALSE(LabNetwork::IsCurrentNamespace(lab.EngineNamespace()));
  EXPECT_TRUE(testsupport::InMachineNamespace());
  look = true;
  started.join();
  EXPECT_TRUE(threadInEngine);
  EXPECT_THROW(LabNetwork::Scope(lab, "tvl-not-this-lab"), std::invalid_argument);
}

TEST(LabNetworkTest, RefusesAddressesOutsideTheLabRange) {
  TARVELO_REQUIRE_LAB();
  LabNetwork lab;
  EXPECT_THROW(lab.AddEngineAddress("192.168.1.9/24"), std::invalid_argument);
  EXPECT_THROW(lab.AddDeviceAddresses("10.231.255.250", 10), std::invalid_argument);
  EXPECT_THROW(lab.AddDeviceAddresses("10.232.0.1", 1), std::invalid_argument);
  auto scope = lab.EnterDevices();
  UdpSocket socket("0.0.0.0", 0);
  EXPECT_THROW(socket.SendTo("192.0.2.1", 9, "x"), std::invalid_argument);
}

TEST(LabNetworkTest, SocketsAreRefusedOutsideTheLab) {
  TARVELO_REQUIRE_LAB();
  LabNetwork lab;
  EXPECT_TRUE(testsupport::InMachineNamespace());
  EXPECT_THROW(UdpSocket("0.0.0.0", 0), std::logic_error);
  auto scope = lab.EnterDevices();
  EXPECT_TRUE(testsupport::InLabNamespace());
  EXPECT_NO_THROW(UdpSocket("0.0.0.0", 0));
}

TEST(LabNetworkTest, AddsManyDeviceAddressesAndRunsProgramsInside) {
  TARVELO_REQUIRE_LAB();
  LabNetwork lab;
  lab.AddDeviceAddresses("10.231.1.1", 300);
  testsupport::TemporaryDirectory folder;
  const std::string listing = folder.File("addresses");
  const pid_t pid = lab.Spawn(lab.DeviceNamespace(), {"ip", "-o", "-4", "addr", "show"}, listing);
  EXPECT_EQ(lab.Wait(pid, kPatience), 0);
  const std::string addresses = testsupport::ReadFile(listing);
  for (const char* expected : {"10.231.0.2/16", "10.231.1.1/16", "10.231.2.44/16"}) {
    EXPECT_NE(addresses.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(addresses.find("10.231.2.45/16"), std::string::npos);
  EXPECT_EQ(addresses.find(LabNetwork::kEngineAddress + std::string("/")), std::string::npos);

  EXPECT_EQ(lab.Run(lab.EngineNamespace(), {"sh", "-c", "exit 3"}), 3);
  EXPECT_THROW(lab.Run("tvl-not-this-lab", {"true"}), std::invalid_argument);
}

TEST(LabNetworkTest, EndsTheProgramsItStarted) {
  TARVELO_REQUIRE_LAB();
  pid_t lingering = -1;
  {
    LabNetwork lab;
    const pid_t terminated = lab.Spawn(lab.DeviceNamespace(), {"sleep", "300"});
    lab.Terminate(terminated);
    EXPECT_NE(::kill(terminated, 0), 0);
    const pid_t killed = lab.Spawn(lab.DeviceNamespace(), {"sleep", "300"});
    EXPECT_EQ(lab.Wait(killed, std::chrono::milliseconds(0)), -1);
    EXPECT_NE(::kill(killed, 0), 0);
    lingering = lab.Spawn(lab.EngineNamespace(), {"sleep", "300"});
  }
  // The destructor ended and reaped it: the process id no longer exists.
  EXPECT_NE(::kill(lingering, 0), 0);
}

TEST(LabScriptTest, UpExecDownAndCleanupOfStaleLabsOnly) {
  TARVELO_REQUIRE_LAB();
  const std::string script = TARVELO_LAB_SCRIPT;

  const std::string prefix = "tvl-" + std::to_string(::getpid()) + "-script";
  ASSERT_EQ(RunHere({script, "up", prefix}), 0);
  EXPECT_TRUE(NamespaceExists(prefix + "-e"));
  EXPECT_TRUE(NamespaceExists(prefix + "-d"));
  EXPECT_EQ(RunHere({script, "exec", prefix, "d", "sh", "-c",
                     "ip -o addr show dev tvd0 | grep -q 10.231.0.2/16"}),
            0);
  EXPECT_EQ(
      RunHere({script, "exec", prefix, "e", "sh", "-c", "ip route | grep -q '^default dev tve0'"}),
      0);
  // Making a lab twice fails without harming the first.
  EXPECT_NE(RunHere({script, "up", prefix}), 0);
  EXPECT_TRUE(NamespaceExists(prefix + "-e"));

  // A lab whose creator has ended, next to ours whose creator (this test) still runs.
  pid_t ended = -1;
  char* trueArgv[] = {const_cast<char*>("true"), nullptr};
  ASSERT_EQ(::posix_spawnp(&ended, "true", nullptr, nullptr, trueArgv, environ), 0);
  ::waitpid(ended, nullptr, 0);
  const std::string stale = "tvl-" + std::to_string(ended) + "-stale";
  ASSERT_EQ(RunHere({script, "up", stale}), 0);
  ASSERT_EQ(RunHere({script, "exec", stale, "d", "true"}), 0);
  EXPECT_EQ(RunHere({script, "cleanup"}), 0);
  EXPECT_FALSE(NamespaceExists(stale + "-e"));
  EXPECT_FALSE(NamespaceExists(stale + "-d"));
  EXPECT_TRUE(NamespaceExists(prefix + "-e"));
  EXPECT_TRUE(NamespaceExists(prefix + "-d"));

  EXPECT_EQ(RunHere({script, "down", prefix}), 0);
  EXPECT_FALSE(NamespaceExists(prefix + "-e"));
  EXPECT_FALSE(NamespaceExists(prefix + "-d"));
  EXPECT_NE(RunHere({script, "up", "not-a-lab"}), 0);
  EXPECT_FALSE(NamespaceExists("not-a-lab-e"));
}

}  // namespace
