#include "SimDevices.h"

#include "SimTemplate.h"

namespace nassim {

namespace {

std::optional<std::string> ExpandHeader(const std::string& pattern, int index,
                                        const std::string& ip) {
  if (pattern == kNoHeader) {
    return std::nullopt;
  }
  return ExpandTemplate(pattern, index, ip);
}

}  // namespace

std::uint32_t DeviceAddress(const SimOptions& options, int index, std::uint32_t hostAddress) {
  if (!options.firstAddress) {
    return hostAddress;
  }
  // The option parser has refused a first address without room for every device.
  return *OffsetAddress(*options.firstAddress, static_cast<std::uint64_t>(index));
}

ReplyHeaders DeviceHeaders(const SimOptions& options, int index, std::uint32_t address) {
  const std::string ip = FormatIPv4(address);
  return ReplyHeaders{
      ExpandHeader(options.location, index, ip),
      ExpandHeader(options.server, index, ip),
      ExpandHeader(options.ssidinfo, index, ip),
      ExpandHeader(options.usn, index, ip),
  };
}

DeviceMessages BuildDeviceMessages(const SimOptions& options, int index, std::uint32_t address) {
  const std::string ip = FormatIPv4(address);
  const ReplyHeaders headers = DeviceHeaders(options, index, address);
  DeviceMessages device;
  device.address = address;
  device.broadcastReply = BuildBroadcastReply(options.opcode, options.byte1,
                                              ExpandTemplate(options.broadcastText, index, ip));
  device.searchReply = BuildSearchReply(headers);
  if (options.notify) {
    device.notify = BuildNotify(*options.notify, headers);
  }
  return device;
}

std::vector<DeviceMessages> BuildDevices(const SimOptions& options, std::uint32_t hostAddress) {
  std::vector<DeviceMessages> devices;
  devices.reserve(static_cast<std::size_t>(options.devices));
  for (int index = 0; index < options.devices; ++index) {
    devices.push_back(
        BuildDeviceMessages(options, index, DeviceAddress(options, index, hostAddress)));
  }
  return devices;
}

std::chrono::nanoseconds ReplyOffset(int index, int count, std::chrono::milliseconds delay,
                                     std::chrono::milliseconds spread) {
  const std::chrono::nanoseconds spreadTime = spread;
  return delay + spreadTime * index / count;
}

}  // namespace nassim
