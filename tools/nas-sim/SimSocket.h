#pragma once

// One UDP socket shared by all simulated devices. Each datagram names its own source address
// (IP_PKTINFO), so a thousand devices need no thousand sockets, and each received datagram tells
// the local address it came in on.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "SimAddress.h"

namespace nassim {

struct OutgoingDatagram {
  const void* data = nullptr;
  std::size_t length = 0;
  Endpoint destination;
  std::uint32_t source = 0;  // 0: the address routing picks
};

struct SendFailure {
  std::size_t index;  // of the datagram in the batch
  std::error_code error;
};

struct ReceivedDatagram {
  std::size_t length = 0;
  Endpoint sender;
  // The address of this host the datagram arrived on, the one a reply would be sent from
  // (for broadcast and multicast datagrams: the receiving interface's address).
  std::uint32_t localAddress = 0;
};

class SimSocket {
 public:
  // Opens the socket and binds it to the any-address and `port`. Throws
  // boost::system::system_error.
  SimSocket(boost::asio::io_context& io, std::uint16_t port);
  ~SimSocket();
  SimSocket(const SimSocket&) = delete;
  SimSocket& operator=(const SimSocket&) = delete;

  std::uint16_t Port() const { return port_; }

  // Joins a multicast group on the interface the system picks.
  void JoinGroup(std::uint32_t group);

  // Reads one datagram into `buffer` without waiting; nothing when none is waiting.
  std::optional<ReceivedDatagram> Receive(std::vector<std::uint8_t>& buffer);

  // Sends the datagrams in order, each from its own source address, with as few system calls as
  // the kernel allows: a thousand answers leave within a few milliseconds. Waits when the send
  // buffer is full rather than dropping a datagram. Returns the datagrams that could not be sent.
  std::vector<SendFailure> Send(std::span<const OutgoingDatagram> datagrams);

  // Calls `handler` once the socket has a datagram to read.
  template <typename Handler>
  void AsyncWaitReadable(Handler&& handler) {
    socket_.async_wait(boost::asio::ip::udp::socket::wait_read, std::forward<Handler>(handler));
  }

 private:
  void SendSlots(std::size_t count, std::size_t firstIndex, std::vector<SendFailure>& failures);

  // One entry per datagram of a batch, kept between batches to spare the allocations. The
  // messages form the array the kernel reads; each points into its slot.
  struct Slot {
    sockaddr_in target;
    iovec payload;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  };
  std::vector<Slot> slots_;
  std::vector<mmsghdr> messages_;
  boost::asio::ip::udp::socket socket_;
  std::uint16_t port_;
};

// The source address routing picks for a datagram to `destination`, found without sending
// anything; nothing when there is no route.
std::optional<std::uint32_t> RoutedSourceAddress(const Endpoint& destination);

}  // namespace nassim
