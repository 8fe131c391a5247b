#include "discovery/SearchDeviceMulticastThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>

#include <boost/asio/socket_base.hpp>
#include <boost/system/system_error.hpp>

#include "diag/LogSystem.h"

namespace {

// Joins or leaves the search group on one interface (index 0 and no address: the interface the
// system's routes choose). Returns 0 or the system's error number.
int ChangeMembership(int descriptor, int option, const LocalAddress& where) {
  ip_mreqn request{};
  ::inet_pton(AF_INET, kMulticastGroup, &request.imr_multiaddr);
  if (!where.address.empty()) {
    ::inet_pton(AF_INET, where.address.c_str(), &request.imr_address);
  }
  request.imr_ifindex = static_cast<int>(where.index);
  return ::setsockopt(descriptor, IPPROTO_IP, option, &request, sizeof request) == 0 ? 0 : errno;
}

// The library's text for a failed socket option, as Boost.Asio words it.
std::string OptionError(int error) {
  return boost::system::system_error(
             boost::system::error_code(error, boost::system::system_category()), "set_option")
      .what();
}

}  // namespace

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
  if (length <= 0) {
    return;
  }
  switch (ReadMulticastMessage(data, static_cast<std::size_t>(length), address, device)) {
    case MulticastMessageStatus::Dropped:
      return;
    case MulticastMessageStatus::NotIPv4Address:
      // The address would become a web page and a share the user opens; only the sender is
      // named here, the device's own text stays out of the log.
      WriteLog(
          "SendThread %d : Handle Mulitcast Recive Information Fail : Not IPv4 Address, "
          "IP : %s ",
          Port(), address);
      return;
    case MulticastMessageStatus::Device:
      break;
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
  HandOn(device);
}

void CSearchDeviceMulticastThread::AlterMulticastGroup(GroupChange change) {
  if (change == GroupChange::Join) {
    // A fresh socket holds no membership yet; what an earlier socket held went with it.
    const std::vector<LocalAddress> local = ListLocalAddresses();
    WithSocket([&](boost::asio::ip::udp::socket&) {
      memberships.clear();
      JoinGroupLocked(local);
    });
  } else {
    WithSocket([&](boost::asio::ip::udp::socket&) { LeaveGroupLocked(); });
  }
}

void CSearchDeviceMulticastThread::RenewMulticastGroup(const std::vector<LocalAddress>& local) {
  WithSocket([&](boost::asio::ip::udp::socket& s) {
    if (!s.is_open()) {
      return;
    }
    // Memberships on interfaces that are gone (or down) are left, and so is the one the system
    // chose while the host had no address: the group is joined on each current interface below.
    // Leaving one whose interface was deleted only forgets it; errors are of no interest here.
    if (!local.empty()) {
      std::erase_if(memberships, [&](const LocalAddress& member) {
        const bool current =
            member.index != 0 && std::any_of(local.begin(), local.end(), [&](const auto& item) {
              return item.index == member.index;
            });
        if (!current) {
          ChangeMembership(s.native_handle(), IP_DROP_MEMBERSHIP, member);
        }
        return !current;
      });
    }
    JoinGroupLocked(local);
  });
}

void CSearchDeviceMulticastThread::JoinGroupLocked(const std::vector<LocalAddress>& local) {
  const int descriptor = socket.is_open() ? socket.native_handle() : -1;
  std::vector<LocalAddress> targets = local;
  if (targets.empty()) {
    // Without an address the group is joined where the system chooses, as long as the socket is
    // a member nowhere yet.
    if (!memberships.empty()) {
      return;
    }
    targets.emplace_back();
  }
  for (const LocalAddress& target : targets) {
    // An interface with several addresses is joined once.
    if (std::any_of(memberships.begin(), memberships.end(),
                    [&](const LocalAddress& member) { return member.index == target.index; })) {
      continue;
    }
    const int error = ChangeMembership(descriptor, IP_ADD_MEMBERSHIP, target);
    if (error == 0 || error == EADDRINUSE) {
      // EADDRINUSE: the socket is a member on that interface already.
      memberships.push_back(target);
      if (error == 0) {
        WriteLog("SendThread %d : Add To Multicast Group Info ", Port());
      }
    } else {
      WriteLog("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", Port(),
               OptionError(error).c_str());
    }
  }
}

void CSearchDeviceMulticastThread::LeaveGroupLocked() {
  const int descriptor = socket.is_open() ? socket.native_handle() : -1;
  // With no membership recorded the group is left as the system chooses, which is what a socket
  // that joined that way holds, and otherwise reports the error.
  const std::vector<LocalAddress> leaving =
      memberships.empty() ? std::vector<LocalAddress>{LocalAddress{}} : memberships;
  memberships.clear();
  int firstError = 0;
  for (const LocalAddress& member : leaving) {
    const int error = ChangeMembership(descriptor, IP_DROP_MEMBERSHIP, member);
    if (firstError == 0) {
      firstError = error;
    }
  }
  if (firstError != 0) {
    WriteLog("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", Port(),
             OptionError(firstError).c_str());
  } else {
    WriteLog("SendThread %d : Leave To Multicast Group Info ", Port());
  }
}
