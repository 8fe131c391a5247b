#pragma once

// The simulator's event loop: two shared sockets, the answers scheduled per request, the
// announcements and raw datagrams sent after start.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "CaptureWriter.h"
#include "SimDevices.h"
#include "SimOptions.h"
#include "SimSocket.h"

namespace nassim {

struct RawDatagram {
  std::string file;
  std::vector<std::uint8_t> bytes;
};

class DeviceSimulator {
 public:
  DeviceSimulator(SimOptions options, std::vector<RawDatagram> raw);
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  // Binds both ports, sends what start-up asks for and answers until a signal or the duration
  // ends it. Returns the exit status: 0, or 1 when set-up failed or a --once send failed.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  // The answers of all devices to one request, sent device by device as each one's time comes.
  struct Burst {
    SimSocket* socket;
    bool broadcast;
    const std::vector<DeviceMessages>* devices;
    Endpoint destination;
    Clock::time_point received;
    int next;
  };

  bool OpenSockets();
  bool CreateReadyFile();
  void WaitReadable(SimSocket& socket);
  void OnReadable(SimSocket& socket);
  void HandleDatagram(SimSocket& socket, const ReceivedDatagram& datagram);
  void Capture(SimSocket& socket, const ReceivedDatagram& datagram);
  Clock::time_point DueTime(const Burst& burst) const;
  void SendDueAnswers();
  void ArmReplyTimer();
  void SendNotifies();
  void ScheduleNotifies(Clock::time_point when);
  void SendRawDatagrams();
  // Sends a batch, reports each datagram with --verbose and each failure always.
  void Send(SimSocket& socket, std::span<const OutgoingDatagram> datagrams);
  const std::vector<DeviceMessages>& DevicesFor(std::uint32_t hostAddress);

  SimOptions options_;
  std::vector<RawDatagram> raw_;
  boost::asio::io_context io_;
  boost::asio::signal_set signals_;
  boost::asio::steady_timer replyTimer_;
  boost::asio::steady_timer notifyTimer_;
  boost::asio::steady_timer durationTimer_;
  std::unique_ptr<SimSocket> broadcastSocket_;
  std::unique_ptr<SimSocket> multicastSocket_;
  std::optional<CaptureWriter> capture_;
  // The devices' messages per host address they answer from; with a first address there is
  // a single entry (key 0), since the devices' own addresses do not depend on the request.
  std::map<std::uint32_t, std::vector<DeviceMessages>> devicesByHost_;
  std::vector<Burst> bursts_;
  std::vector<OutgoingDatagram> outgoing_;
  std::vector<std::uint8_t> receiveBuffer_;
  int sendFailures_ = 0;
};

}  // namespace nassim
