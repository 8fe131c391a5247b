#include "DeviceSimulator.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string_view>

#include <boost/system/system_error.hpp>

#include "discovery/SearchProtocol.h"

namespace nassim {

namespace {

// A UDP datagram carries at most this much; the receive buffer takes any of them whole.
constexpr std::size_t kLargestDatagram = 65536;
// Datagrams read per wake-up before the loop gives the timers their turn.
constexpr int kReadsPerWakeUp = 64;

const Endpoint kGroupEndpoint{*ParseIPv4(kMulticastGroup), kMulticastPort};

std::string SourceText(std::uint32_t source, std::uint16_t port) {
  return (source == 0 ? std::string("(routed)") : FormatIPv4(source)) + ':' + std::to_string(port);
}

}  // namespace

DeviceSimulator::DeviceSimulator(SimOptions options, std::vector<RawDatagram> raw)
    : options_(std::move(options)),
      raw_(std::move(raw)),
      signals_(io_, SIGINT, SIGTERM),
      replyTimer_(io_),
      notifyTimer_(io_),
      durationTimer_(io_),
      receiveBuffer_(kLargestDatagram) {}

DeviceSimulator::~DeviceSimulator() = default;

int DeviceSimulator::Run() {
  signals_.async_wait([this](const boost::system::error_code& error, int) {
    if (!error) {
      io_.stop();
    }
  });
  if (!OpenSockets()) {
    return 1;
  }
  if (!options_.captureDir.empty()) {
    try {
      capture_.emplace(options_.captureDir);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "tarvelo-nas-sim: cannot use capture folder: %s\n", error.what());
      return 1;
    }
  }
  // The devices' messages are built before the first request, which then costs only the sends.
  DevicesFor(options_.firstAddress ? 0 : RoutedSourceAddress(kGroupEndpoint).value_or(0));
  if (!CreateReadyFile()) {
    return 1;
  }
  if (options_.once) {
    SendNotifies();
    SendRawDatagrams();
    return sendFailures_ == 0 ? 0 : 1;
  }
  WaitReadable(*broadcastSocket_);
  WaitReadable(*multicastSocket_);
  if (options_.duration) {
    durationTimer_.expires_after(*options_.duration);
    durationTimer_.async_wait([this](const boost::system::error_code& error) {
      if (!error) {
        io_.stop();
      }
    });
  }
  if (options_.notify) {
    SendNotifies();
    if (options_.notifyEvery) {
      ScheduleNotifies(Clock::now() + *options_.notifyEvery);
    }
  }
  SendRawDatagrams();
  io_.run();
  return 0;
}

bool DeviceSimulator::OpenSockets() {
  std::uint16_t port = kBroadcastDevicePort;
  try {
    broadcastSocket_ = std::make_unique<SimSocket>(io_, port);
    port = kMulticastPort;
    multicastSocket_ = std::make_unique<SimSocket>(io_, port);
  } catch (const boost::system::system_error& error) {
    std::fprintf(stderr, "tarvelo-nas-sim: cannot open UDP port %u: %s\n",
                 static_cast<unsigned>(port), error.what());
    return false;
  }
  try {
    multicastSocket_->JoinGroup(kGroupEndpoint.address);
  } catch (const boost::system::system_error& error) {
    std::fprintf(stderr, "tarvelo-nas-sim: cannot join %s (is there a route?): %s\n",
                 kMulticastGroup, error.what());
    return false;
  }
  return true;
}

bool DeviceSimulator::CreateReadyFile() {
  if (options_.readyFile.empty()) {
    return true;
  }
  // The file appears whole, under its name, in one step: whoever waits for it may read it at once.
  const std::string partial = options_.readyFile + ".part";
  std::ofstream ready(partial, std::ios::trunc);
  ready << getpid() << '\n';
  ready.close();
  if (!ready || std::rename(partial.c_str(), options_.readyFile.c_str()) != 0) {
    std::fprintf(stderr, "tarvelo-nas-sim: cannot create %s\n", options_.readyFile.c_str());
    return false;
  }
  return true;
}

void DeviceSimulator::WaitReadable(SimSocket& socket) {
  socket.AsyncWaitReadable([this, &socket](const boost::system::error_code& error) {
    if (!error) {
      OnReadable(socket);
    }
  });
}

void DeviceSimulator::OnReadable(SimSocket& socket) {
  for (int read = 0; read < kReadsPerWakeUp; ++read) {
    const std::optional<ReceivedDatagram> datagram = socket.Receive(receiveBuffer_);
    if (!datagram) {
      break;
    }
    HandleDatagram(socket, *datagram);
  }
  WaitReadable(socket);
}

void DeviceSimulator::HandleDatagram(SimSocket& socket, const ReceivedDatagram& datagram) {
  const Clock::time_point received = Clock::now();
  if (options_.verbose) {
    std::fprintf(stderr, "recv %s -> %s %zu bytes\n", FormatEndpoint(datagram.sender).c_str(),
                 FormatEndpoint(Endpoint{datagram.localAddress, socket.Port()}).c_str(),
                 datagram.length);
  }
  // The capture file is written before any answer leaves, so whoever receives an answer finds
  // the request's file already in place.
  Capture(socket, datagram);

  const std::uint8_t* data = receiveBuffer_.data();
  bool answer = false;
  if (&socket == broadcastSocket_.get()) {
    answer = options_.answerBroadcast && IsBroadcastSearchRequest(data, datagram.length);
  } else {
    answer = options_.answerMulticast &&
             IsDeviceSearch(std::string_view(reinterpret_cast<const char*>(data), datagram.length));
  }
  if (!answer) {
    return;
  }
  bursts_.push_back(Burst{&socket, &socket == broadcastSocket_.get(),
                          &DevicesFor(datagram.localAddress), datagram.sender, received, 0});
  SendDueAnswers();
}

void DeviceSimulator::Capture(SimSocket& socket, const ReceivedDatagram& datagram) {
  if (!capture_) {
    return;
  }
  try {
    capture_->Write(socket.Port(), receiveBuffer_.data(), datagram.length);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarvelo-nas-sim: capture failed: %s\n", error.what());
  }
}

DeviceSimulator::Clock::time_point DeviceSimulator::DueTime(const Burst& burst) const {
  const int count = static_cast<int>(burst.devices->size());
  return burst.received + std::chrono::duration_cast<Clock::duration>(ReplyOffset(
                              burst.next, count, options_.replyDelay, options_.replySpread));
}

void DeviceSimulator::SendDueAnswers() {
  for (Burst& burst : bursts_) {
    const int count = static_cast<int>(burst.devices->size());
    outgoing_.clear();
    // The clock is read again for every device, so that a long burst does not send a later
    // device's answer before its time.
    while (burst.next < count && DueTime(burst) <= Clock::now()) {
      const DeviceMessages& device = (*burst.devices)[static_cast<std::size_t>(burst.next++)];
      const OutgoingDatagram answer =
          burst.broadcast
              ? OutgoingDatagram{device.broadcastReply.data(), device.broadcastReply.size(),
                                 burst.destination, device.address}
              : OutgoingDatagram{device.searchReply.data(), device.searchReply.size(),
                                 burst.destination, device.address};
      outgoing_.insert(outgoing_.end(), static_cast<std::size_t>(options_.repeat), answer);
    }
    Send(*burst.socket, outgoing_);
  }
  std::erase_if(bursts_, [](const Burst& burst) {
    return burst.next == static_cast<int>(burst.devices->size());
  });
  ArmReplyTimer();
}

void DeviceSimulator::ArmReplyTimer() {
  if (bursts_.empty()) {
    return;
  }
  Clock::time_point next = DueTime(bursts_.front());
  for (const Burst& burst : bursts_) {
    next = std::min(next, DueTime(burst));
  }
  // Setting a new expiry cancels a wait still pending; its handler sees the abort and does nothing.
  replyTimer_.expires_at(next);
  replyTimer_.async_wait([this](const boost::system::error_code& error) {
    if (!error) {
      SendDueAnswers();
    }
  });
}

void DeviceSimulator::SendNotifies() {
  if (!options_.notify) {
    return;
  }
  // Without addresses of their own the devices announce the address routing picks for the group.
  const std::uint32_t host =
      options_.firstAddress ? 0 : RoutedSourceAddress(kGroupEndpoint).value_or(0);
  outgoing_.clear();
  for (const DeviceMessages& device : DevicesFor(host)) {
    outgoing_.push_back(OutgoingDatagram{device.notify.data(), device.notify.size(), kGroupEndpoint,
                                         device.address});
  }
  Send(*multicastSocket_, outgoing_);
}

void DeviceSimulator::ScheduleNotifies(Clock::time_point when) {
  notifyTimer_.expires_at(when);
  notifyTimer_.async_wait([this, when](const boost::system::error_code& error) {
    if (!error) {
      SendNotifies();
      // Counting from the planned time, not from now, keeps the period from drifting.
      ScheduleNotifies(when + *options_.notifyEvery);
    }
  });
}

void DeviceSimulator::SendRawDatagrams() {
  if (raw_.empty()) {
    return;
  }
  const Endpoint destination = *options_.rawDestination;
  // Datagrams for the group's port leave from that port, everything else from the broadcast
  // port, as a device's own messages would.
  SimSocket& socket = destination.port == kMulticastPort ? *multicastSocket_ : *broadcastSocket_;
  const std::uint32_t source = options_.firstAddress.value_or(0);
  outgoing_.clear();
  for (const RawDatagram& raw : raw_) {
    outgoing_.push_back(OutgoingDatagram{raw.bytes.data(), raw.bytes.size(), destination, source});
  }
  Send(socket, outgoing_);
}

void DeviceSimulator::Send(SimSocket& socket, std::span<const OutgoingDatagram> datagrams) {
  if (datagrams.empty()) {
    return;
  }
  const std::vector<SendFailure> failures = socket.Send(datagrams);
  if (options_.verbose) {
    for (const OutgoingDatagram& datagram : datagrams) {
      std::fprintf(stderr, "send %s -> %s %zu bytes\n",
                   SourceText(datagram.source, socket.Port()).c_str(),
                   FormatEndpoint(datagram.destination).c_str(), datagram.length);
    }
  }
  for (const SendFailure& failure : failures) {
    const OutgoingDatagram& datagram = datagrams[failure.index];
    std::fprintf(stderr, "tarvelo-nas-sim: sending %zu bytes from %s to %s failed: %s\n",
                 datagram.length, SourceText(datagram.source, socket.Port()).c_str(),
                 FormatEndpoint(datagram.destination).c_str(), failure.error.message().c_str());
  }
  sendFailures_ += static_cast<int>(failures.size());
}

const std::vector<DeviceMessages>& DeviceSimulator::DevicesFor(std::uint32_t hostAddress) {
  const std::uint32_t key = options_.firstAddress ? 0 : hostAddress;
  auto found = devicesByHost_.find(key);
  if (found == devicesByHost_.end()) {
    found = devicesByHost_.emplace(key, BuildDevices(options_, hostAddress)).first;
  }
  return found->second;
}

}  // namespace nassim
