#pragma once

// A plain UDP socket for the device side of lab tests: it receives what the engine sends and
// sends crafted datagrams back. It belongs to the network namespace of the thread that opens it
// (open it inside a LabNetwork scope) and can then be used from any thread.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace testsupport {

struct Datagram {
  std::string bytes;
  std::string address;  // the sender's dotted IPv4 address
  int port = 0;         // the sender's port
};

class UdpSocket {
 public:
  struct Options {
    bool broadcast = false;     // may send to 255.255.255.255
    bool reuseAddress = false;  // shares the port with other sockets that allow it
  };

  // Opens the socket and binds it to `address` ("0.0.0.0" for any) and `port` (0 for any free
  // port). Throws std::system_error on failure, and std::logic_error in the machine's own
  // network namespace, where tests must not open sockets.
  UdpSocket(const std::string& address, int port);
  UdpSocket(const std::string& address, int port, Options options);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  int LocalPort() const;
  int Descriptor() const { return descriptor_; }

  // Joins a multicast group on the interface the routes choose.
  void JoinGroup(const std::string& group);
  // Sends one datagram. Only lab destinations are allowed: 10.231.0.0/16, loopback, the search
  // group 239.143.255.250 and the limited broadcast address.
  void SendTo(const std::string& address, int port, std::string_view bytes);
  // Waits for one datagram (up to 65535 bytes); nothing when `timeout` passes first.
  std::optional<Datagram> Receive(std::chrono::milliseconds timeout);

 private:
  int descriptor_;
};

}  // namespace testsupport
