#include "discovery/SearchDeviceBroadcastThread.h"

#include <exception>

#include <boost/asio/socket_base.hpp>
#include <boost/system/system_error.hpp>

#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"

void CSearchDeviceBroadcastThread::CreateWorkThread() {
  // Broadcasting must be allowed before the first send; the option is set before binding.
  CreateWorkThreadFrame(
      "SendThread %d : Create Search Device Work Thread ",
      [this] {
        WithSocket([](boost::asio::ip::udp::socket& s) {
          s.set_option(boost::asio::socket_base::broadcast(true));
        });
      },
      std::string(), false);
}

std::int32_t CSearchDeviceBroadcastThread::SendSearchCommand(const SearchPacket& request) {
  WriteLog("SendThread %d : Send Broadcast Search Command  ", Port());
  try {
    const boost::asio::ip::udp::endpoint target(
        boost::asio::ip::make_address_v4(kBroadcastAddress), kBroadcastDevicePort);
    WithSocket([&](boost::asio::ip::udp::socket& s) {
      s.send_to(boost::asio::buffer(&request, sizeof request), target, 0);
    });
  } catch (const std::exception& error) {
    WriteLog("SendThread %d : Send Broadcast Search Error : %s   ", Port(), error.what());
  }
  return 0;
}

void CSearchDeviceBroadcastThread::HandleReceiveData(const char* data, std::int32_t length,
                                                     const char* address) {
  if (length != static_cast<std::int32_t>(sizeof(SearchPacket))) {
    return;
  }
  WriteLog("SendThread %d : Handle Broadcast Recive Information  ", Port());
  DeviceInfo device;
  if (ParseBroadcastReply(data, static_cast<std::size_t>(length), address, device) !=
      BroadcastReplyStatus::Device) {
    WriteLog("SendThread %d : Recive IP : %s is not Device ", Port(), address);
    return;
  }
  if (!AcceptDevice(device, false)) {
    WriteLog("SendThread %d : Handle Broadcast Recive Information Fail ", Port());
    return;
  }
  WriteLog("SendThread %d : Handle Broadcast Recive Information Success ", Port());
  SearchDeviceManager::OnDeviceFound(device, Port());
}
