#include "discovery/SearchDeviceBroadcastThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include <boost/asio/socket_base.hpp>
#include <boost/system/system_error.hpp>

#include "diag/LogSystem.h"
#include "discovery/PortHelper.h"

namespace {

// Sends the request to 255.255.255.255:68 out of one interface, from its address: the packet
// information of the send names both, which routes a limited broadcast where the system's route
// would not.
void SendOutOf(int socket, const SearchPacket& request, const BroadcastInterface& interface) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(kBroadcastDevicePort);
  target.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  in_pktinfo information{};
  information.ipi_ifindex = static_cast<int>(interface.index);
  if (::inet_pton(AF_INET, interface.address.c_str(), &information.ipi_spec_dst) != 1) {
    throw boost::system::system_error(
        boost::system::errc::make_error_code(boost::system::errc::invalid_argument),
        interface.address);
  }
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  iovec data{const_cast<SearchPacket*>(&request), sizeof request};
  msghdr message{};
  message.msg_name = &target;
  message.msg_namelen = sizeof target;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  std::memcpy(CMSG_DATA(header), &information, sizeof information);
  if (::sendmsg(socket, &message, 0) < 0) {
    throw boost::system::system_error(
        boost::system::error_code(errno, boost::system::system_category()), "send_to");
  }
}

}  // namespace

void CSearchDeviceBroadcastThread::CreateWorkThread() {
  // Broadcasting must be allowed before the first send; the option is set before binding.
  CreateWorkThreadFrame(
      "SendThread %d : Create Search Device Work Thread ",
      [this] {
        WithSocket([](boost::asio::ip::udp::socket& s) {
          s.set_option(boost::asio::socket_base::broadcast(true));
        });
      },
      std::string(), false, [this] { return TakeSocketFromPortHelper(); });
}

bool CSearchDeviceBroadcastThread::TakeSocketFromPortHelper() {
  if (Port() != kBroadcastLocalPort || !PortHelperEnabled()) {
    return false;
  }
  const std::string helper = PortHelperPath();
  const PortHelperResult result = RequestBroadcastSocket(helper);
  if (result.outcome == PortHelperResult::Granted) {
    AssignSocket(result.descriptor);
    WriteLog("SendThread %d : Socket Bound By Port Helper %s  ", Port(), helper.c_str());
    return true;
  }
  // A helper without the capability proves nothing about the engine, which may hold it itself
  // (run as root); any other bind error belongs to the port, and the engine's own bind would
  // only hide it behind its lack of privilege.
  if (result.outcome == PortHelperResult::Failed && result.step == PortHelperStep::Bind &&
      result.error != EACCES && result.error != EPERM) {
    throw boost::system::system_error(
        boost::system::error_code(result.error, boost::system::system_category()), "bind");
  }
  WriteLog("SendThread %d : Port Helper %s Not Used : %s  ", Port(), helper.c_str(),
           result.reason.c_str());
  return false;
}

void CSearchDeviceBroadcastThread::SetInterfaces(std::vector<BroadcastInterface> interfaces) {
  interfaces_ = std::move(interfaces);
}

std::int32_t CSearchDeviceBroadcastThread::SendSearchCommand(const SearchPacket& request) {
  WriteLog("SendThread %d : Send Broadcast Search Command  ", Port());
  const boost::asio::ip::udp::endpoint target(boost::asio::ip::make_address_v4(kBroadcastAddress),
                                              kBroadcastDevicePort);
  if (interfaces_.empty()) {
    try {
      WithSocket([&](boost::asio::ip::udp::socket& s) {
        s.send_to(boost::asio::buffer(&request, sizeof request), target, 0);
      });
    } catch (const std::exception& error) {
      WriteLog("SendThread %d : Send Broadcast Search Error : %s   ", Port(), error.what());
    }
    return 0;
  }
  for (const BroadcastInterface& interface : interfaces_) {
    try {
      WithSocket([&](boost::asio::ip::udp::socket& s) {
        SendOutOf(s.native_handle(), request, interface);
      });
      WriteLog("SendThread %d : Send Broadcast Search Command Through %s (%s)  ", Port(),
               interface.name.c_str(), interface.address.c_str());
    } catch (const std::exception& error) {
      WriteLog("SendThread %d : Send Broadcast Search Error : %s   ", Port(), error.what());
    }
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
  switch (ParseBroadcastReply(data, static_cast<std::size_t>(length), address, device)) {
    case BroadcastReplyStatus::WrongLength:
      return;
    case BroadcastReplyStatus::NotDevice:
      WriteLog("SendThread %d : Recive IP : %s is not Device ", Port(), address);
      return;
    case BroadcastReplyStatus::NotIPv4Address:
      WriteLog("SendThread %d : Recive IP : %s is not IPv4 Address ", Port(), address);
      return;
    case BroadcastReplyStatus::Device:
      break;
  }
  if (!AcceptDevice(device, false)) {
    WriteLog("SendThread %d : Handle Broadcast Recive Information Fail ", Port());
    return;
  }
  WriteLog("SendThread %d : Handle Broadcast Recive Information Success ", Port());
  HandOn(device);
}
