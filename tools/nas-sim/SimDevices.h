#pragma once

// The simulated devices: what each one sends, from which address, and when it answers.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SimMessages.h"
#include "SimOptions.h"

namespace nassim {

// Everything one device sends, built once so that answering is only a matter of sending bytes.
struct DeviceMessages {
  std::uint32_t address = 0;  // the device's source address
  BroadcastReply broadcastReply{};
  std::string searchReply;
  std::string notify;  // empty without --notify
};

// The address device `index` answers from: the first address plus the index, or, without a first
// address, `hostAddress`, the address of this host that the request came in on.
std::uint32_t DeviceAddress(const SimOptions& options, int index, std::uint32_t hostAddress);

// The header values of device `index`, its templates expanded; "none" leaves a header out.
ReplyHeaders DeviceHeaders(const SimOptions& options, int index, std::uint32_t address);

DeviceMessages BuildDeviceMessages(const SimOptions& options, int index, std::uint32_t address);

// All devices, in index order.
std::vector<DeviceMessages> BuildDevices(const SimOptions& options, std::uint32_t hostAddress);

// How long after a request device `index` of `count` answers: the reply delay plus an even share
// of the spread, so that device 0 answers after the delay and the last device one share before its
// end.
std::chrono::nanoseconds ReplyOffset(int index, int count, std::chrono::milliseconds delay,
                                     std::chrono::milliseconds spread);

}  // namespace nassim
