#include "SimSocket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <boost/asio/ip/multicast.hpp>
#include <boost/system/system_error.hpp>

namespace nassim {

namespace {

using boost::asio::ip::udp;

// A burst of a thousand answers, or of requests from many test clients, must not overflow the
// kernel's default buffers of a few hundred small datagrams.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

void ThrowIfError(const boost::system::error_code& error, const char* operation) {
  if (error) {
    throw boost::system::system_error(error, operation);
  }
}

// Asks for a large buffer, past net.core.*mem_max where the process may (as root), else as large
// as the limit allows. A smaller buffer only makes losses under load more likely, so a refusal is
// not an error.
void EnlargeBuffer(int fd, int forcedOption, int option) {
  const int size = kSocketBufferBytes;
  if (setsockopt(fd, SOL_SOCKET, forcedOption, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, option, &size, sizeof size);
  }
}

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.address);
  address.sin_port = htons(endpoint.port);
  return address;
}

}  // namespace

SimSocket::SimSocket(boost::asio::io_context& io, std::uint16_t port) : socket_(io), port_(port) {
  boost::system::error_code error;
  socket_.open(udp::v4(), error);
  ThrowIfError(error, "open");
  // Lets the simulator share its ports with a search engine or another simulator on the host.
  socket_.set_option(udp::socket::reuse_address(true), error);
  ThrowIfError(error, "SO_REUSEADDR");
  // Raw datagrams may go to the limited broadcast address.
  socket_.set_option(udp::socket::broadcast(true), error);
  ThrowIfError(error, "SO_BROADCAST");
  const int fd = socket_.native_handle();
  const int on = 1;
  if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
    ThrowIfError(boost::system::error_code(errno, boost::system::system_category()), "IP_PKTINFO");
  }
  EnlargeBuffer(fd, SO_RCVBUFFORCE, SO_RCVBUF);
  EnlargeBuffer(fd, SO_SNDBUFFORCE, SO_SNDBUF);
  socket_.bind(udp::endpoint(udp::v4(), port), error);
  ThrowIfError(error, "bind");
}

SimSocket::~SimSocket() = default;

void SimSocket::JoinGroup(std::uint32_t group) {
  boost::system::error_code error;
  socket_.set_option(boost::asio::ip::multicast::join_group(boost::asio::ip::address_v4(group)),
                     error);
  ThrowIfError(error, "IP_ADD_MEMBERSHIP");
}

std::optional<ReceivedDatagram> SimSocket::Receive(std::vector<std::uint8_t>& buffer) {
  sockaddr_in sender{};
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message{};
  message.msg_name = &sender;
  message.msg_namelen = sizeof sender;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t length;
  do {
    length = recvmsg(socket_.native_handle(), &message, MSG_DONTWAIT);
  } while (length < 0 && errno == EINTR);
  if (length < 0) {
    return std::nullopt;
  }
  ReceivedDatagram datagram;
  datagram.length = static_cast<std::size_t>(length);
  datagram.sender = Endpoint{ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port)};
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(header), sizeof info);
      datagram.localAddress = ntohl(info.ipi_spec_dst.s_addr);
    }
  }
  return datagram;
}

std::vector<SendFailure> SimSocket::Send(std::span<const OutgoingDatagram> datagrams) {
  std::vector<SendFailure> failures;
  // The kernel takes at most this many messages per call.
  constexpr std::size_t kMessagesPerCall = 1024;
  for (std::size_t first = 0; first < datagrams.size(); first += kMessagesPerCall) {
    const std::size_t count = std::min(kMessagesPerCall, datagrams.size() - first);
    slots_.resize(std::max(slots_.size(), count));
    messages_.resize(std::max(messages_.size(), count));
    for (std::size_t at = 0; at < count; ++at) {
      const OutgoingDatagram& datagram = datagrams[first + at];
      Slot& slot = slots_[at];
      messages_[at] = mmsghdr{};
      slot.target = ToSockaddr(datagram.destination);
      slot.payload = iovec{const_cast<void*>(datagram.data), datagram.length};
      msghdr& header = messages_[at].msg_hdr;
      header.msg_name = &slot.target;
      header.msg_namelen = sizeof slot.target;
      header.msg_iov = &slot.payload;
      header.msg_iovlen = 1;
      if (datagram.source != 0) {
        // The source address goes with the datagram; the interface is left to routing.
        std::memset(slot.control, 0, sizeof slot.control);
        header.msg_control = slot.control;
        header.msg_controllen = sizeof slot.control;
        cmsghdr* option = CMSG_FIRSTHDR(&header);
        option->cmsg_level = IPPROTO_IP;
        option->cmsg_type = IP_PKTINFO;
        option->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(datagram.source);
        std::memcpy(CMSG_DATA(option), &info, sizeof info);
      }
    }
    SendSlots(count, first, failures);
  }
  return failures;
}

void SimSocket::SendSlots(std::size_t count, std::size_t firstIndex,
                          std::vector<SendFailure>& failures) {
  const int fd = socket_.native_handle();
  // A full send buffer drains within microseconds on any working link; one that stays full for
  // seconds means the link is gone, and the datagram is given up.
  constexpr int kFullBufferWaits = 5;
  int waits = 0;
  std::size_t done = 0;
  while (done < count) {
    const int sent =
        sendmmsg(fd, &messages_[done], static_cast<unsigned>(count - done), MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    // The call reports an error only for the first message it could not send.
    const int error = errno;
    if ((error == EAGAIN || error == EWOULDBLOCK) && waits++ < kFullBufferWaits) {
      pollfd writable{fd, POLLOUT, 0};
      poll(&writable, 1, 1000);
    } else if (error != EINTR) {
      failures.push_back(
          SendFailure{firstIndex + done, std::error_code(error, std::generic_category())});
      ++done;
    }
  }
}

std::optional<std::uint32_t> RoutedSourceAddress(const Endpoint& destination) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return std::nullopt;
  }
  // Connecting a UDP socket only chooses the route and the source address; nothing is sent.
  const sockaddr_in target = ToSockaddr(destination);
  sockaddr_in local{};
  socklen_t localLength = sizeof local;
  std::optional<std::uint32_t> result;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0) {
    result = ntohl(local.sin_addr.s_addr);
  }
  close(fd);
  return result;
}

}  // namespace nassim
