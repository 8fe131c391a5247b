#include "UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "LabNetwork.h"

namespace testsupport {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in Endpoint(const std::string& address, int port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + address);
  }
  return endpoint;
}

bool IsLabDestination(const sockaddr_in& endpoint) {
  const std::uint32_t address = ntohl(endpoint.sin_addr.s_addr);
  return (address >> 16) == ((10u << 8) | 231u) || (address >> 24) == 127u ||
         address == 0xEF8FFFFAu /* 239.143.255.250 */ || address == 0xFFFFFFFFu;
}

}  // namespace

UdpSocket::UdpSocket(const std::string& address, int port) : UdpSocket(address, port, Options{}) {}

UdpSocket::UdpSocket(const std::string& address, int port, Options options) : descriptor_(-1) {
  if (InMachineNamespace()) {
    throw std::logic_error("a test socket must be opened inside a lab namespace");
  }
  const sockaddr_in local = Endpoint(address, port);
  descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (descriptor_ < 0) {
    ThrowErrno("socket");
  }
  const int on = 1;
  try {
    if (options.broadcast &&
        ::setsockopt(descriptor_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      ThrowErrno("setsockopt SO_BROADCAST");
    }
    if (options.reuseAddress &&
        ::setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      ThrowErrno("setsockopt SO_REUSEADDR");
    }
    if (::bind(descriptor_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      ThrowErrno("bind " + address + ":" + std::to_string(port));
    }
  } catch (...) {
    ::close(descriptor_);
    throw;
  }
}

UdpSocket::~UdpSocket() { ::close(descriptor_); }

int UdpSocket::LocalPort() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ThrowErrno("getsockname");
  }
  return ntohs(local.sin_port);
}

void UdpSocket::JoinGroup(const std::string& group) {
  ip_mreqn request{};
  if (::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + group);
  }
  if (::setsockopt(descriptor_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    ThrowErrno("join " + group);
  }
}

void UdpSocket::SendTo(const std::string& address, int port, std::string_view bytes) {
  const sockaddr_in target = Endpoint(address, port);
  if (!IsLabDestination(target)) {
    throw std::invalid_argument("not a lab destination: " + address);
  }
  const ssize_t sent = ::sendto(descriptor_, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (sent < 0) {
    ThrowErrno("sendto " + address + ":" + std::to_string(port));
  }
}

std::optional<Datagram> UdpSocket::Receive(std::chrono::milliseconds timeout) {
  pollfd waiting{descriptor_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiting, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    ThrowErrno("poll");
  }
  if (ready == 0) {
    return std::nullopt;
  }
  std::vector<char> buffer(65536);
  sockaddr_in sender{};
  socklen_t length = sizeof sender;
  const ssize_t count = ::recvfrom(descriptor_, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &length);
  if (count < 0) {
    ThrowErrno("recvfrom");
  }
  Datagram datagram;
  datagram.bytes.assign(buffer.data(), static_cast<std::size_t>(count));
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &sender.sin_addr, text, sizeof text);
  datagram.address = text;
  datagram.port = ntohs(sender.sin_port);
  return datagram;
}

}  // namespace testsupport
