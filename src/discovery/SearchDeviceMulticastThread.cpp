#include "discovery/SearchDeviceMulticastThread.h"

#include <exception>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/socket_base.hpp>

#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"

void CSearchDeviceMulticastThread::CreateWorkThread() {
  CreateWorkThreadFrame(
      "SendThread %d : Create Search Device Work Thread   ",
      [this] {
        AlterMulticastGroup(GroupChange::Join);
        // Linux desktops often run an SSDP listener of their own on port 1900; allowing the
        // address to be shared lets both receive. A listener that holds the port exclusively
        // still wins, and this worker then logs its bind error.
        WithSocket([](boost::asio::ip::udp::socket& s) {
          s.set_option(boost::asio::socket_base::reuse_address(true));
        });
      },
      std::string(), bTestCreate);
}

void CSearchDeviceMulticastThread::ExitWorkThread() {
  AlterMulticastGroup(GroupChange::Leave);
  bExitSock = true;
  CloseSocketForExit();
  WriteTimeLog("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", Port(),
               static_cast<int>(bExitSock.load()));
}

std::int32_t CSearchDeviceMulticastThread::SendSearchCommand(const SearchPacket&) {
  WriteLog("SendThread %d : Send Search Device Command  ", Port());
  try {
    const boost::asio::ip::udp::endpoint target(boost::asio::ip::make_address_v4(kMulticastGroup),
                                                kMulticastPort);
    WithSocket([&](boost::asio::ip::udp::socket& s) {
      s.send_to(boost::asio::buffer(kMulticastSearchRequest.data(), kMulticastSearchRequest.size()),
                target, 0);
    });
  } catch (const std::exception& error) {
    WriteLog("SendThread %d : Send Search Device Error : %s   ", Port(), error.what());
  }
  return 0;
}

void CSearchDeviceMulticastThread::HandleReceiveData(const char* data, std::int32_t length,
                                                     const char* address) {
  WriteLog("SendThread %d : Handle Mulitcast Recive Information  ", Port());
  DeviceInfo device;
  if (length <= 0 ||
      !ParseMulticastMessage(data, static_cast<std::size_t>(length), address, device)) {
    return;
  }
  // A repeat of the last record clears it, so a run of identical messages is handed on every
  // second time. The report type counts: a goodbye right after the same device's announcement,
  // or its return right after a goodbye, is news, not a repeat.
  if (!AcceptDevice(device, true, true)) {
    WriteLog("SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ",
             Port(), device.type);
    return;
  }
  WriteLog("SendThread %d : Handle Mulitcast Recive Information Success, type = %d ", Port(),
           device.type);
  SearchDeviceManager::OnDeviceFound(device, Port());
}

void CSearchDeviceMulticastThread::AlterMulticastGroup(GroupChange change) {
  try {
    const auto group = boost::asio::ip::make_address_v4(kMulticastGroup);
    WithSocket([&](boost::asio::ip::udp::socket& s) {
      if (change == GroupChange::Join) {
        s.set_option(boost::asio::ip::multicast::join_group(group));
      } else {
        s.set_option(boost::asio::ip::multicast::leave_group(group));
      }
    });
    WriteLog(change == GroupChange::Join ? "SendThread %d : Add To Multicast Group Info "
                                         : "SendThread %d : Leave To Multicast Group Info ",
             Port());
  } catch (const std::exception& error) {
    WriteLog("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", Port(), error.what());
  }
}
