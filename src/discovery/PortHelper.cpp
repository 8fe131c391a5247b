#include "discovery/PortHelper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Set by CMake to ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tarvelo/tarvelo-port-helper.
#ifndef TARVELO_PORT_HELPER_INSTALLED
#define TARVELO_PORT_HELPER_INSTALLED "/usr/local/libexec/tarvelo/tarvelo-port-helper"
#endif

constexpr const char* kHelperName = "tarvelo-port-helper";
constexpr const char* kHelperVariable = "TARVELO_PORT_HELPER";

std::string ErrorText(int error) { return std::strerror(error); }

// A descriptor that is closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int value = -1) : value_(value) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }
  int Get() const { return value_; }
  int Release() { return std::exchange(value_, -1); }
  void Reset() {
    if (value_ >= 0) {
      ::close(value_);
    }
    value_ = -1;
  }

 private:
  int value_;
};

// Waits for the helper to end until `deadline`, then kills it; always reaps it, so that no
// zombie is left. A helper that someone else reaped already (ECHILD) counts as reaped.
void ReapHelper(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) {
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Starts the helper with `channel` as its descriptor 3, nothing but descriptors 0-3 open, default
// signal handling, an empty environment and its path as the only argument.
int SpawnHelper(const std::string& helperPath, int channel, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (int error = ::posix_spawn_file_actions_init(&actions); error != 0) {
    return error;
  }
  if (int error = ::posix_spawnattr_init(&attributes); error != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  int error = ::posix_spawn_file_actions_adddup2(&actions, channel, kPortHelperDescriptor);
  if (error == 0) {
    // The engine's other descriptors (sockets of the other workers, the log file) are none of the
    // helper's business, whether or not they are close-on-exec.
    error = ::posix_spawn_file_actions_addclosefrom_np(&actions, kPortHelperDescriptor + 1);
  }
  if (error == 0) {
    error = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (error == 0) {
    error = ::posix_spawnattr_setsigmask(&attributes, &none);
  }
  if (error == 0) {
    error = ::posix_spawnattr_setsigdefault(&attributes, &all);
  }
  if (error == 0) {
    std::string program = helperPath;
    std::array<char*, 2> argv{program.data(), nullptr};
    std::array<char*, 1> environment{nullptr};
    error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(),
                          environment.data());
  }
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  return error;
}

// True when `descriptor` is an IPv4 datagram socket, what the helper promises to hand over.
bool IsUdpSocket(int descriptor) {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(descriptor, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_INET) {
    return false;
  }
  length = sizeof value;
  return ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &value, &length) == 0 && value == SOCK_DGRAM;
}

// Sends the request and receives the reply on `channel`, within `deadline`.
PortHelperResult Converse(int channel, std::chrono::steady_clock::time_point deadline) {
  PortHelperResult result;
  if (::send(channel, kPortHelperRequest.data(), kPortHelperRequest.size(), MSG_NOSIGNAL) < 0) {
    result.reason = errno == EPIPE || errno == ECONNRESET ? "the helper ended without an answer"
                                                          : "send: " + ErrorText(errno);
    return result;
  }
  pollfd waiting{channel, POLLIN, 0};
  int ready = 0;
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ready = ::poll(&waiting, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) {
    result.reason = "no answer in time";
    return result;
  }
  if (ready < 0) {
    result.reason = "poll: " + ErrorText(errno);
    return result;
  }

  const PortHelperMessage received = ReceivePortHelperMessage(channel);
  const long count = received.count;
  const PortHelperReply& reply = received.reply;
  if (count < 0) {
    // A helper that ends without reading the request resets the connection.
    result.reason = received.error == ECONNRESET ? "the helper ended without an answer"
                                                 : "receive: " + ErrorText(received.error);
    return result;
  }
  const auto closeReceived = [&received] {
    for (int descriptor : received.descriptors) {
      ::close(descriptor);
    }
  };
  if (count != static_cast<long>(sizeof reply) || received.controlCut) {
    closeReceived();
    result.reason = count == 0 ? "the helper ended without an answer" : "malformed answer";
    return result;
  }
  result.error = reply.error;
  result.step = static_cast<PortHelperStep>(reply.step);
  if (reply.error == 0 && result.step == PortHelperStep::Done) {
    if (received.descriptors.size() != 1 || !IsUdpSocket(received.descriptors.front())) {
      closeReceived();
      result.reason = "the answer did not carry one UDP socket";
      return result;
    }
    result.outcome = PortHelperResult::Granted;
    result.descriptor = received.descriptors.front();
    return result;
  }
  closeReceived();
  switch (result.step) {
    case PortHelperStep::Request:
      result.reason = "request refused";
      return result;
    case PortHelperStep::Socket:
      result.reason = "socket: " + ErrorText(reply.error);
      break;
    case PortHelperStep::Option:
      result.reason = "setsockopt: " + ErrorText(reply.error);
      break;
    case PortHelperStep::Bind:
      result.reason = "bind: " + ErrorText(reply.error);
      break;
    default:
      result.reason = "malformed answer";
      return result;
  }
  result.outcome = reply.error != 0 ? PortHelperResult::Failed : PortHelperResult::Unavailable;
  return result;
}

}  // namespace

std::string PortHelperPath() {
  if (const char* configured = std::getenv(kHelperVariable);
      configured != nullptr && *configured != '\0') {
    return configured;
  }
  // A build runs its own helper from its bin folder; an installed program finds nothing there
  // and uses the installed helper.
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path beside = program.parent_path() / kHelperName;
    if (::access(beside.c_str(), X_OK) == 0) {
      return beside.string();
    }
  }
  return TARVELO_PORT_HELPER_INSTALLED;
}

bool PortHelperEnabled() {
  const char* configured = std::getenv(kHelperVariable);
  return configured == nullptr || *configured != '\0';
}

PortHelperResult RequestBroadcastSocket(const std::string& helperPath,
                                        std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  PortHelperResult result;
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    result.reason = "socketpair: " + ErrorText(errno);
    return result;
  }
  Descriptor engineEnd(pair[0]);
  Descriptor helperEnd(pair[1]);
  pid_t pid = -1;
  if (const int error = SpawnHelper(helperPath, helperEnd.Get(), pid); error != 0) {
    result.error = error;
    result.reason = ErrorText(error);
    return result;
  }
  // Only the helper holds its end now, so its exit shows as the end of the conversation.
  helperEnd.Reset();
  result = Converse(engineEnd.Get(), deadline);
  engineEnd.Reset();
  ReapHelper(pid, deadline);
  return result;
}

PortHelperMessage ReceivePortHelperMessage(int channel) {
  PortHelperMessage received;
  iovec data{&received.reply, sizeof received.reply};
  // Room for more than one descriptor, so that a reply that brings several is seen and every one
  // of them closed rather than left open in the engine.
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t count = -1;
  do {
    // The handed socket is close-on-exec like every other socket of the engine.
    count = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
  } while (count < 0 && errno == EINTR);
  received.count = static_cast<long>(count);
  if (count < 0) {
    received.error = errno;
    return received;
  }
  received.controlCut = (message.msg_flags & MSG_CTRUNC) != 0;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
      const std::size_t bytes = header->cmsg_len - CMSG_LEN(0);
      for (std::size_t i = 0; i < bytes / sizeof(int); ++i) {
        int descriptor = -1;
        std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
        received.descriptors.push_back(descriptor);
      }
    }
  }
  return received;
}
