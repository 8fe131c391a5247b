#include "discovery/SearchDeviceManager.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <exception>

#include <boost/system/system_error.hpp>

#include "diag/LogSystem.h"
#include "discovery/SearchDeviceBroadcastThread.h"
#include "discovery/SearchDeviceMultiCommandThead.h"
#include "discovery/SearchDeviceMulticastThread.h"
#include "discovery/SearchProtocol.h"

std::atomic<FoundDeviceCallback> SearchDeviceManager::foundCallback{nullptr};
boost::mutex SearchDeviceManager::foundMutex;

SearchDeviceManager& SearchDeviceManager::Instance() {
  // Deliberately leaked: detached receive threads may still run while the process exits.
  static SearchDeviceManager* instance = new SearchDeviceManager();
  return *instance;
}

SearchDeviceManager::SearchDeviceManager() : nextCommandPort(kFirstCommandPort) {}

SearchDeviceManager::~SearchDeviceManager() {
  if (!stopped) {
    for (WorkerEntry& entry : workerList) {
      entry.worker->ExitWorkThread();
    }
  }
  for (WorkerEntry& entry : workerList) {
    // A receive thread ends within moments of its socket being shut down; deleting a worker
    // whose thread still runs would pull the object from under it.
    while (!entry.worker->WaitForWorkThreads(std::chrono::seconds(10))) {
      entry.worker->ExitWorkThread();
    }
    delete entry.worker;
  }
}

void SearchDeviceManager::StartSearch() {
  auto* broadcast = new CSearchDeviceBroadcastThread();
  broadcast->InitValue(nullptr, kBroadcastLocalPort, false);
  workerList.push_back({std::string(), broadcast});

  auto* multicast = new CSearchDeviceMulticastThread();
  multicast->InitValue(nullptr, kMulticastPort, false);
  workerList.push_back({std::string(), multicast});

  RefreshLocalWorkers();
}

std::int32_t SearchDeviceManager::SendSearch() {
  WriteLog("SendMessage : pdhcp is NULL ");
  const SearchPacket request = MakeSearchRequest();
  if (autoRefreshLocalIP) {
    RefreshLocalWorkers();
  }
  for (WorkerEntry& entry : workerList) {
    entry.worker->ResetLastDevice();
    entry.worker->SendSearchCommand(request);
  }
  return 0;
}

void SearchDeviceManager::StopSearch() {
  for (WorkerEntry& entry : workerList) {
    entry.worker->ExitWorkThread();
  }
  stopped = true;
  CloseLog();
}

void SearchDeviceManager::RefreshLocalWorkers() {
  std::vector<std::string> addresses;
  GetLocalIPList(addresses);
  for (const std::string& address : addresses) {
    bool known = false;
    for (const WorkerEntry& entry : workerList) {
      if (entry.name == address) {
        known = true;
        break;
      }
    }
    if (known) {
      continue;
    }
    auto* worker = new CSearchDeviceMultiCommandThead();
    worker->InitValue(address.c_str(), nextCommandPort, true);
    workerList.push_back({address, worker});
    nextCommandPort += kCommandPortStep;
  }
}

void SearchDeviceManager::GetLocalIPList(std::vector<std::string>& list) {
  list.clear();
  WriteLog("Get Current Local IP Info ");
  try {
    // Resolving the host name gives 127.0.1.1 on most Linux systems; the interfaces are the
    // reliable source of the host's own addresses.
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) {
      throw boost::system::system_error(
          boost::system::error_code(errno, boost::system::system_category()), "resolve");
    }
    for (const ifaddrs* item = interfaces; item != nullptr; item = item->ifa_next) {
      if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) {
        continue;
      }
      if ((item->ifa_flags & IFF_UP) == 0 || (item->ifa_flags & IFF_LOOPBACK) != 0) {
        continue;
      }
      char text[INET_ADDRSTRLEN] = {};
      const auto* address = reinterpret_cast<const sockaddr_in*>(item->ifa_addr);
      ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
      list.emplace_back(text);
      WriteLog("Get Current Local IP, IP = %s  ", text);
    }
    ::freeifaddrs(interfaces);
  } catch (const std::exception& error) {
    WriteLog("Add To Mulitcast Group Error : %s   ", error.what());
  }
}

void SearchDeviceManager::OnDeviceFound(const DeviceInfo& device, std::int32_t port) {
  WriteLog("Handle %d : Search %d Thread Find Device and wait for mutex  ", port, port);
  boost::mutex::scoped_lock lock(foundMutex);
  WriteLog("Handle %d : Search %d Thread Find Device have Mutex  ", port, port);
  const DeviceInfo copy = device;
  WriteLog("Handle %d : Search %d Thread Find Device ID : %s, IP : %s  ", port, port, copy.id,
           copy.ip);
  if (const FoundDeviceCallback callback = foundCallback.load(); callback != nullptr) {
    callback(&copy, port);
  }
  WriteLog("Handle %d : Search %d Thread Find Device Success Handle  ", port, port);
}

bool SearchDeviceManager::WaitForWorkThreads(std::chrono::milliseconds timeout) {
  for (WorkerEntry& entry : workerList) {
    if (!entry.worker->WaitForWorkThreads(timeout)) {
      return false;
    }
  }
  return true;
}
