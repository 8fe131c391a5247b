// tarvelo-port-helper: the one program of Tarvelo that holds CAP_NET_BIND_SERVICE.
//
// The broadcast search needs UDP port 67, a privileged port. Granting the capability to the whole
// window program would hand it to every plugin, theme and library that any local user can make
// that program load through its environment. This helper is the whole privileged part instead:
// it makes one socket bound to 0.0.0.0:67, passes it to the engine that started it and exits.
//
// It reads neither its arguments nor its environment, opens no file and runs nothing. The engine
// gives it one end of a connected SOCK_SEQPACKET socket pair as descriptor 3; the conversation is
// described in discovery/PortHelperProtocol.h.
//
// Exit status: 0 the socket was handed over; 1 it could not be made (the reply says why);
// 2 the request was refused; 3 descriptor 3 is not a connected SOCK_SEQPACKET socket, or the
// reply could not be sent.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "discovery/PortHelperProtocol.h"

namespace {

constexpr int kExitHandedOver = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;
constexpr int kExitNoChannel = 3;

// How long the helper waits for the request. The engine sends it at once; a parent that never
// does must not keep a privileged process around.
constexpr int kRequestTimeoutMs = 5000;

// Room for a request that is longer than the granted one, so that it is seen and refused
// rather than cut to size; a message that still does not fit is flagged MSG_TRUNC.
constexpr std::size_t kRequestBufferBytes = 256;

// Closes every descriptor above the channel that the helper may have inherited, so that none of
// them can travel with the reply or outlive a mistake. A kernel without close_range leaves the
// loop to do it.
void CloseInheritedDescriptors() {
  const int first = kPortHelperDescriptor + 1;
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0U) == 0) {
    return;
  }
  const long limit = ::sysconf(_SC_OPEN_MAX);
  for (long descriptor = first; descriptor < (limit > 0 ? limit : 1024); ++descriptor) {
    ::close(static_cast<int>(descriptor));
  }
}

// True when descriptor 3 is a connected AF_UNIX socket of type SOCK_SEQPACKET: anything else
// (a file, a pipe, a stream socket, nothing at all) means the helper was not started by the
// engine, and it must not make the socket.
bool ChannelIsValid() {
  struct stat status {};
  if (::fstat(kPortHelperDescriptor, &status) != 0 || !S_ISSOCK(status.st_mode)) {
    return false;
  }
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(kPortHelperDescriptor, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 ||
      value != AF_UNIX) {
    return false;
  }
  length = sizeof value;
  if (::getsockopt(kPortHelperDescriptor, SOL_SOCKET, SO_TYPE, &value, &length) != 0 ||
      value != SOCK_SEQPACKET) {
    return false;
  }
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  return ::getpeername(kPortHelperDescriptor, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

// Reads the one request. False when none came in time, the message was cut, or it carried
// ancillary data (descriptors sent to the helper are dropped by the kernel, since no control
// buffer is given, and flagged MSG_CTRUNC).
bool ReadRequest(char* buffer, std::size_t& length) {
  pollfd waiting{kPortHelperDescriptor, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiting, 1, kRequestTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    return false;
  }
  iovec data{buffer, kRequestBufferBytes};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  ssize_t count = -1;
  do {
    count = ::recvmsg(kPortHelperDescriptor, &message, MSG_DONTWAIT);
  } while (count < 0 && errno == EINTR);
  if (count < 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
    return false;
  }
  length = static_cast<std::size_t>(count);
  return true;
}

// Sends the reply, with `socket` as SCM_RIGHTS when it is a descriptor.
bool SendReply(PortHelperStep step, int error, int socket) {
  PortHelperReply reply;
  reply.error = error;
  reply.step = static_cast<std::int32_t>(step);
  iovec data{&reply, sizeof reply};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (socket >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &socket, sizeof socket);
  }
  ssize_t count = -1;
  do {
    // MSG_NOSIGNAL: an engine that went away must not end the helper by SIGPIPE mid-reply.
    count = ::sendmsg(kPortHelperDescriptor, &message, MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  return count == static_cast<ssize_t>(sizeof reply);
}

// Makes the socket exactly as the engine's broadcast worker would make it itself: close-on-exec,
// broadcasting allowed, bound to every address on port 67, and no address reuse (the worker does
// not share port 67, so another holder of the port is reported as such).
int Grant() {
  const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    return SendReply(PortHelperStep::Socket, errno, -1) ? kExitFailed : kExitNoChannel;
  }
  const int on = 1;
  if (::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    const int error = errno;
    ::close(socket);
    return SendReply(PortHelperStep::Option, error, -1) ? kExitFailed : kExitNoChannel;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(67);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    ::close(socket);
    return SendReply(PortHelperStep::Bind, error, -1) ? kExitFailed : kExitNoChannel;
  }
  const bool sent = SendReply(PortHelperStep::Done, 0, socket);
  ::close(socket);
  return sent ? kExitHandedOver : kExitNoChannel;
}

}  // namespace

int main() {
  CloseInheritedDescriptors();
  if (!ChannelIsValid()) {
    return kExitNoChannel;
  }
  char buffer[kRequestBufferBytes];
  std::size_t length = 0;
  if (!ReadRequest(buffer, length) || std::string_view(buffer, length) != kPortHelperRequest) {
    SendReply(PortHelperStep::Request, EINVAL, -1);
    return kExitRefused;
  }
  return Grant();
}
