// tarvelo-port-helper on its own, and the broadcast worker taking port 67 from it. Everything
// runs inside the lab's engine namespace, where the helper's socket on port 67 reaches no real
// network.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EngineLab.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "discovery/PortHelper.h"

namespace enginelab {
namespace {

namespace fs = std::filesystem;

constexpr int kExitHandedOver = 0;
constexpr int kExitRefused = 2;
constexpr int kExitNoChannel = 3;
constexpr uid_t kNobody = 65534;

std::string Helper() { return testsupport::BuiltProgram("tarvelo-port-helper"); }

// What the helper answered, as the engine would receive it.
struct Answer {
  bool received = false;
  PortHelperReply reply;
  std::vector<int> descriptors;
};

// Runs the helper with `channel` as descriptor 3 (or none), the given arguments and environment.
pid_t StartHelper(int channel, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (channel >= 0) {
    posix_spawn_file_actions_adddup2(&actions, channel, 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
  } else {
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  }
  std::vector<std::string> argvText = arguments;
  argvText.insert(argvText.begin(), Helper());
  std::vector<char*> argv;
  for (std::string& text : argvText) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);
  std::vector<std::string> envText = environment;
  std::vector<char*> envp;
  for (std::string& text : envText) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int error =
      ::posix_spawn(&pid, Helper().c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(error, 0) << std::strerror(error);
  return error == 0 ? pid : -1;
}

// The helper's exit status; a helper still running after a while is killed (-1).
int ExitStatus(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 1000; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

Answer ReceiveAnswer(int channel) {
  Answer answer;
  pollfd waiting{channel, POLLIN, 0};
  if (::poll(&waiting, 1, 10000) != 1) {
    return answer;
  }
  PortHelperMessage message = ReceivePortHelperMessage(channel);
  answer.received = message.count == static_cast<long>(sizeof answer.reply);
  answer.reply = message.reply;
  answer.descriptors = std::move(message.descriptors);
  return answer;
}

// One conversation: starts the helper on a fresh socket pair, sends `request` and collects the
// answer and the exit status.
struct Conversation {
  Answer answer;
  int status = -1;
};

Conversation Converse(const std::string& request, const std::vector<std::string>& arguments = {},
                      const std::vector<std::string>& environment = {}) {
  Conversation result;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    ADD_FAILURE() << "socketpair: " << std::strerror(errno);
    return result;
  }
  const pid_t pid = StartHelper(pair[1], arguments, environment);
  ::close(pair[1]);
  if (pid > 0) {
    EXPECT_EQ(::send(pair[0], request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    result.answer = ReceiveAnswer(pair[0]);
    result.status = ExitStatus(pid);
  }
  ::close(pair[0]);
  return result;
}

// The local address of a socket, as "address:port".
std::string LocalAddress(int descriptor) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return "?";
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(local.sin_port));
}

int SocketOption(int descriptor, int option) {
  int value = -1;
  socklen_t length = sizeof value;
  ::getsockopt(descriptor, SOL_SOCKET, option, &value, &length);
  return value;
}

// Checks that `descriptor` is the socket the broadcast worker would have made itself.
void ExpectBroadcastSocket(int descriptor) {
  EXPECT_EQ(SocketOption(descriptor, SO_DOMAIN), AF_INET);
  EXPECT_EQ(SocketOption(descriptor, SO_TYPE), SOCK_DGRAM);
  EXPECT_EQ(LocalAddress(descriptor), "0.0.0.0:67");
  EXPECT_EQ(SocketOption(descriptor, SO_BROADCAST), 1);
  // The worker does not share port 67: another holder must be reported, not joined.
  EXPECT_EQ(SocketOption(descriptor, SO_REUSEADDR), 0);
  EXPECT_EQ(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

// While it lives, the calling thread runs as an ordinary user (real and effective uid `uid`),
// without any capability in effect; the saved uid stays root, which allows the way back.
// Credentials belong to threads in the kernel, and the raw system call changes the calling
// thread's only (the C library's setresuid would change every thread of the test). File access
// stays root's (the file-system uid and its capabilities), so that the diagnostic log can still be
// written; binding a port and starting a program go by the real and effective uid.
class ScopedThreadUser {
 public:
  explicit ScopedThreadUser(uid_t uid)
      : changed_(::syscall(SYS_setresuid, uid, uid, static_cast<uid_t>(0)) == 0) {
    if (changed_) {
      ::syscall(SYS_setfsuid, 0);
    }
  }
  ~ScopedThreadUser() {
    if (changed_) {
      ::syscall(SYS_setresuid, 0, 0, 0);
    }
  }
  ScopedThreadUser(const ScopedThreadUser&) = delete;
  ScopedThreadUser& operator=(const ScopedThreadUser&) = delete;
  bool Changed() const { return changed_; }

 private:
  bool changed_;
};

// Copies the built helper into `folder`, readable and executable by every user.
std::string CopyHelper(const testsupport::TemporaryDirectory& folder, const std::string& name) {
  const std::string copy = folder.File(name);
  fs::copy_file(Helper(), copy, fs::copy_options::overwrite_existing);
  fs::permissions(folder.Path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  return copy;
}

class PortHelperLabTest : public EngineLabTest {};

TEST_F(PortHelperLabTest, RefusesEveryRequestButTheOneItGrants) {
  const std::string granted(kPortHelperRequest);
  const struct {
    const char* name;
    std::string request;
  } cases[] = {
      {"empty", ""},
      {"other text", "hello"},
      {"other port", "bind udp 0.0.0.0:68 broadcast"},
      {"privileged port of another service", "bind udp 0.0.0.0:22 broadcast"},
      {"other address", "bind udp 10.231.0.1:67 broadcast"},
      {"other protocol", "bind tcp 0.0.0.0:67 broadcast"},
      {"without broadcast", "bind udp 0.0.0.0:67"},
      {"trailing space", granted + " "},
      {"trailing zero byte", granted + std::string(1, '\0')},
      {"trailing line break", granted + "\n"},
      {"leading space", " " + granted},
      {"other case", "BIND UDP 0.0.0.0:67 BROADCAST"},
      {"longer than the helper reads", granted + std::string(4000, 'x')},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const Conversation conversation = Converse(item.request);
    EXPECT_TRUE(conversation.answer.received);
    EXPECT_EQ(conversation.answer.reply.step, static_cast<int>(PortHelperStep::Request));
    EXPECT_EQ(conversation.answer.reply.error, EINVAL);
    EXPECT_TRUE(conversation.answer.descriptors.empty());
    EXPECT_EQ(conversation.status, kExitRefused);
  }
}

TEST_F(PortHelperLabTest, GrantsTheRequestWhateverItsArgumentsAndEnvironment) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
  } cases[] = {
      {"as the engine starts it", {}, {}},
      {"hostile arguments",
       {"--port", "22", "bind udp 0.0.0.0:22 broadcast", "/etc/shadow", std::string(5000, 'a')},
       {}},
      {"hostile environment",
       {},
       {"LD_PRELOAD=/nonexistent/preload.so", "LD_LIBRARY_PATH=/nonexistent",
        "TARVELO_PORT_HELPER=/bin/false", "MALLOC_PERTURB_=85", "PATH=/nonexistent", "IFS=x"}},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const Conversation conversation =
        Converse(std::string(kPortHelperRequest), item.arguments, item.environment);
    ASSERT_TRUE(conversation.answer.received);
    EXPECT_EQ(conversation.answer.reply.error, 0);
    EXPECT_EQ(conversation.answer.reply.step, static_cast<int>(PortHelperStep::Done));
    ASSERT_EQ(conversation.answer.descriptors.size(), 1u);
    ExpectBroadcastSocket(conversation.answer.descriptors[0]);
    EXPECT_EQ(conversation.status, kExitHandedOver);
    ::close(conversation.answer.descriptors[0]);
  }
}

TEST_F(PortHelperLabTest, WithoutItsChannelOnDescriptorThreeItBindsNothing) {
  testsupport::TemporaryDirectory folder;
  const struct {
    const char* name;
    int domain;  // -1: a regular file, 0: no descriptor 3 at all
    int type;
  } cases[] = {
      {"no descriptor 3", 0, 0},
      {"a regular file", -1, 0},
      {"a stream socket pair", AF_UNIX, SOCK_STREAM},
      {"a datagram socket pair", AF_UNIX, SOCK_DGRAM},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    int channel = -1;
    int peer = -1;
    if (item.domain == -1) {
      channel = ::open(folder.File("request").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_GE(channel, 0);
      const std::string request(kPortHelperRequest);
      ASSERT_EQ(::write(channel, request.data(), request.size()),
                static_cast<ssize_t>(request.size()));
      ::lseek(channel, 0, SEEK_SET);
    } else if (item.domain == AF_UNIX) {
      int pair[2];
      ASSERT_EQ(::socketpair(AF_UNIX, item.type | SOCK_CLOEXEC, 0, pair), 0);
      channel = pair[1];
      peer = pair[0];
      const std::string request(kPortHelperRequest);
      ::send(peer, request.data(), request.size(), MSG_NOSIGNAL);
    }
    const pid_t pid = StartHelper(channel, {}, {});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ExitStatus(pid), kExitNoChannel);
    if (channel >= 0) {
      ::close(channel);
    }
    if (peer >= 0) {
      // Nothing came back: no reply, no descriptor.
      char byte = 0;
      EXPECT_LE(::recv(peer, &byte, 1, MSG_DONTWAIT), 0);
      ::close(peer);
    }
  }
  // Had any run bound port 67 and kept it (a descriptor that outlived the helper), this would
  // fail.
  EXPECT_NO_THROW(testsupport::UdpSocket("0.0.0.0", 67));
}

TEST_F(PortHelperLabTest, TheEngineSideReportsEveryOutcome) {
  testsupport::TemporaryDirectory folder;
  const std::string silent = folder.File("silent");
  {
    // A program that never answers must be killed and reaped when the time is up.
    std::FILE* script = std::fopen(silent.c_str(), "w");
    ASSERT_NE(script, nullptr);
    std::fputs("#!/bin/sh\nexec /bin/sleep 30\n", script);
    std::fclose(script);
    fs::permissions(silent, fs::perms::owner_all);
  }

  PortHelperResult granted = RequestBroadcastSocket(Helper());
  ASSERT_EQ(granted.outcome, PortHelperResult::Granted) << granted.reason;
  ExpectBroadcastSocket(granted.descriptor);
  {
    // While the handed socket holds the port, a second request meets the port's own error.
    const PortHelperResult held = RequestBroadcastSocket(Helper());
    EXPECT_EQ(held.outcome, PortHelperResult::Failed);
    EXPECT_EQ(held.step, PortHelperStep::Bind);
    EXPECT_EQ(held.error, EADDRINUSE);
    EXPECT_EQ(held.reason, "bind: Address already in use");
    EXPECT_EQ(held.descriptor, -1);
  }
  ::close(granted.descriptor);

  const PortHelperResult missing = RequestBroadcastSocket(folder.File("missing"));
  EXPECT_EQ(missing.outcome, PortHelperResult::Unavailable);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(missing.reason, "No such file or directory");

  const PortHelperResult notHelper = RequestBroadcastSocket("/bin/true");
  EXPECT_EQ(notHelper.outcome, PortHelperResult::Unavailable);
  EXPECT_EQ(notHelper.reason, "the helper ended without an answer");

  const auto start = std::chrono::steady_clock::now();
  const PortHelperResult timedOut = RequestBroadcastSocket(silent, std::chrono::milliseconds(300));
  EXPECT_EQ(timedOut.outcome, PortHelperResult::Unavailable);
  EXPECT_EQ(timedOut.reason, "no answer in time");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Every helper was reaped: the test process has no child left, ended or not.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  {
    // A helper without the capability, run by an ordinary user, cannot bind the port.
    const std::string plain = CopyHelper(folder, "plain-helper");
    ScopedThreadUser user(kNobody);
    ASSERT_TRUE(user.Changed());
    const PortHelperResult unprivileged = RequestBroadcastSocket(plain);
    EXPECT_EQ(unprivileged.outcome, PortHelperResult::Failed);
    EXPECT_EQ(unprivileged.step, PortHelperStep::Bind);
    EXPECT_EQ(unprivileged.error, EACCES);
  }
}

// The broadcast worker takes its socket from the helper named by TARVELO_PORT_HELPER, and
// receives the devices' replies on it.
TEST_F(PortHelperLabTest, BroadcastWorkerReceivesThroughTheHandedSocket) {
  testsupport::TemporaryDirectory folder;
  const std::string helper = CopyHelper(folder, "chosen-helper");
  testsupport::ScopedEnvironment variable("TARVELO_PORT_HELPER", helper);
  manager->StartSearch();
  ASSERT_TRUE(WaitForLine(L("SendThread 67 : Begin Search Device Work Thread  ")));
  ASSERT_TRUE(LogHasInOrder({
      L("SendThread 67 : Create Search Device Work Thread "),
      L("SendThread 67 : Socket Bound By Port Helper " + helper + "  "),
      L("SendThread 67 : Begin Search Device Work Thread  "),
  }));
  EXPECT_EQ(log->Count(L("SendThread 67 : Create Search Device Work Thread "
                         "Error : bind: Address already in use   ")),
            0u);
  // The worker's socket is the helper's: the port is taken, and by a socket that allows
  // broadcasting.
  EXPECT_THROW(testsupport::UdpSocket("0.0.0.0", 67), std::system_error);

  manager->SendSearch();
  auto device = DeviceSocket(kDeviceAddress, 0);
  device->SendTo(kEngineAddress, 67, BroadcastReply("id=A1&host=nas"));
  ASSERT_TRUE(FoundDevices::WaitForCount(1));
  EXPECT_EQ(FoundDevices::Snapshot()[0].port, 67);
  EXPECT_STREQ(FoundDevices::Snapshot()[0].device.host, "nas");
}

// Whatever the helper does, the worker's outcome for a user without the capability is the one
// it had before there was a helper, unless the helper itself holds the capability.
TEST_F(PortHelperLabTest, OnlyAHelperWithTheCapabilityGivesAnOrdinaryUserPort67) {
  testsupport::TemporaryDirectory folder;
  const std::string plain = CopyHelper(folder, "plain-helper");
  const std::string capable = CopyHelper(folder, "capable-helper");
  const std::string setcap = "/usr/sbin/setcap";
  if (::access(setcap.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "setcap is not installed";
  }
  ASSERT_EQ(lab->Run(lab->EngineNamespace(), {setcap, "cap_net_bind_service=+ep", capable}), 0);
  const std::string missing = folder.File("missing-helper");
  const struct {
    const char* name;
    std::optional<std::string> helper;  // TARVELO_PORT_HELPER; nullopt: unset
    int error;                          // the worker's CreateError
    std::string line;                   // a line the log must hold
  } cases[] = {
      {"helper missing", missing, EACCES,
       "SendThread 67 : Port Helper " + missing + " Not Used : No such file or directory  "},
      {"helper turned off", std::string(), EACCES,
       "SendThread 67 : Create Search Device Work Thread Error : bind: Permission denied   "},
      {"helper without the capability", plain, EACCES,
       "SendThread 67 : Port Helper " + plain + " Not Used : bind: Permission denied  "},
      {"helper with the capability", capable, 0,
       "SendThread 67 : Socket Bound By Port Helper " + capable + "  "},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    testsupport::ScopedEnvironment variable("TARVELO_PORT_HELPER", item.helper);
    {
      ScopedThreadUser user(kNobody);
      ASSERT_TRUE(user.Changed());
      manager = std::make_unique<SearchDeviceManager>();
      manager->StartSearch();
    }
    CSearchDeviceThread& broadcast = Worker(0);
    ASSERT_EQ(broadcast.Port(), 67);
    EXPECT_EQ(broadcast.CreateError(), item.error) << broadcast.CreateErrorText();
    EXPECT_EQ(broadcast.HasSocket(), item.error == 0);
    EXPECT_GE(log->Count(L(item.line)), 1u);
    if (item.error != 0) {
      // The error is reported exactly as it was before the helper existed.
      EXPECT_EQ(broadcast.CreateErrorText(), "Permission denied");
      EXPECT_GE(log->Count(L("SendThread 67 : Create Search Device Work Thread Error : bind: "
                             "Permission denied   ")),
                1u);
    }
    manager.reset();
  }
}

}  // namespace
}  // namespace enginelab
