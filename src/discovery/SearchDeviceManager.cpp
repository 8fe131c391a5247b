#include "discovery/SearchDeviceManager.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "diag/LogSystem.h"
#include "discovery/LocalInterfaces.h"
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
  const std::vector<BroadcastInterface> interfaces = BroadcastInterfaces();
  for (WorkerEntry& entry : workerList) {
    if (auto* broadcast = dynamic_cast<CSearchDeviceBroadcastThread*>(entry.worker)) {
      broadcast->SetInterfaces(interfaces);
    }
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
  // Resolving the host name gives 127.0.1.1 on most Linux systems; the interfaces are the
  // reliable source of the host's own addresses.
  std::string error;
  const std::vector<LocalAddress> addresses = ListLocalAddresses(&error);
  if (!error.empty()) {
    WriteLog("Add To Mulitcast Group Error : %s   ", ("resolve: " + error).c_str());
  }
  for (const LocalAddress& local : addresses) {
    list.push_back(local.address);
    WriteLog("Get Current Local IP, IP = %s  ", local.address.c_str());
  }
}

std::vector<BroadcastInterface> SearchDeviceManager::BroadcastInterfaces() const {
  // The broadcast leaves through the interfaces of the per-address workers, so that it follows
  // the same list as they do (refreshed at every pass when autoRefreshLocalIP is set).
  std::vector<BroadcastInterface> interfaces;
  for (const LocalAddress& local : ListLocalAddresses()) {
    const bool served =
        std::any_of(workerList.begin(), workerList.end(),
                    [&](const WorkerEntry& entry) { return entry.name == local.address; });
    const bool listed =
        std::any_of(interfaces.begin(), interfaces.end(), [&](const BroadcastInterface& known) {
          return known.index == local.index && known.address == local.address;
        });
    if (served && !listed) {
      interfaces.push_back({local.address, local.interface, local.index});
    }
  }
  return interfaces;
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

std::vector<SearchOff> SearchDeviceManager::SearchesOff() const {
  std::vector<SearchOff> off;
  for (const WorkerEntry& entry : workerList) {
    if (!entry.name.empty() || entry.worker->CreateError() == 0) {
      continue;
    }
    SearchOff search;
    search.broadcast = dynamic_cast<CSearchDeviceBroadcastThread*>(entry.worker) != nullptr;
    search.port = entry.worker->Port();
    search.error = entry.worker->CreateError();
    search.text = entry.worker->CreateErrorText();
    off.push_back(std::move(search));
  }
  return off;
}

std::vector<std::int32_t> SearchDeviceManager::ReplyPorts() const {
  std::vector<std::int32_t> ports;
  for (const WorkerEntry& entry : workerList) {
    const std::int32_t port = entry.worker->Port();
    if (entry.worker->CreateError() == 0 &&
        std::find(ports.begin(), ports.end(), port) == ports.end()) {
      ports.push_back(port);
    }
  }
  return ports;
}

bool SearchDeviceManager::WaitForWorkThreads(std::chrono::milliseconds timeout) {
  for (WorkerEntry& entry : workerList) {
    if (!entry.worker->WaitForWorkThreads(timeout)) {
      return false;
    }
  }
  return true;
}
