#include "discovery/SearchDeviceManager.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "diag/LogSystem.h"
#include "discovery/LocalAddressWatch.h"
#include "discovery/SearchDeviceBroadcastThread.h"
#include "discovery/SearchDeviceMultiCommandThead.h"
#include "discovery/SearchDeviceMulticastThread.h"
#include "discovery/SearchProtocol.h"

std::atomic<FoundDeviceCallback> SearchDeviceManager::foundCallback{nullptr};
boost::mutex SearchDeviceManager::foundMutex;

namespace {

// A receive thread ends within moments of its socket being shut down; deleting a worker whose
// thread still runs would pull the object from under it. Blocks until the thread has ended.
void WaitUntilEnded(CSearchDeviceThread& worker) {
  while (!worker.WaitForWorkThreads(std::chrono::seconds(10))) {
    worker.ExitWorkThread();
  }
}

bool Contains(const std::vector<LocalAddress>& local, const std::string& address) {
  return std::any_of(local.begin(), local.end(),
                     [&](const LocalAddress& item) { return item.address == address; });
}

}  // namespace

std::int32_t TakeCommandPort(std::int32_t& next, const std::vector<std::int32_t>& used) {
  constexpr std::int32_t kSlotWidth = CSearchDeviceThread::kMaxCreateRetries + 1;
  constexpr std::int32_t kLastSlot =
      kFirstCommandPort +
      (65535 - kSlotWidth + 1 - kFirstCommandPort) / kCommandPortStep * kCommandPortStep;
  constexpr std::int32_t kSlots = (kLastSlot - kFirstCommandPort) / kCommandPortStep + 1;
  const auto advance = [](std::int32_t port) {
    return port >= kLastSlot ? std::int32_t{kFirstCommandPort} : port + kCommandPortStep;
  };
  if (next < kFirstCommandPort || next > kLastSlot) {
    next = kFirstCommandPort;
  }
  const std::int32_t first = next;
  for (std::int32_t tried = 0; tried < kSlots; ++tried) {
    const std::int32_t port = next;
    next = advance(port);
    const bool taken = std::any_of(used.begin(), used.end(), [&](std::int32_t held) {
      return held >= port && held < port + kSlotWidth;
    });
    if (!taken) {
      return port;
    }
  }
  // Every slot held (thousands of workers): the creation retries have the last word.
  next = advance(first);
  return first;
}

SearchDeviceManager& SearchDeviceManager::Instance() {
  // Deliberately leaked: detached receive threads may still run while the process exits.
  static SearchDeviceManager* instance = new SearchDeviceManager();
  return *instance;
}

SearchDeviceManager::SearchDeviceManager() : nextCommandPort(kFirstCommandPort) {}

SearchDeviceManager::~SearchDeviceManager() {
  addressWatch.reset();
  if (!stopped) {
    for (WorkerEntry& entry : workerList) {
      entry.worker->ExitWorkThread();
    }
  }
  for (WorkerEntry& entry : workerList) {
    WaitUntilEnded(*entry.worker);
  }
  for (const std::unique_ptr<CSearchDeviceThread>& worker : retiredWorkers) {
    WaitUntilEnded(*worker);
  }
  broadcastWorker = nullptr;
  groupWorker = nullptr;
  workerList.clear();
  retiredWorkers.clear();
}

void SearchDeviceManager::StartSearch() {
  started = true;
  auto broadcast = std::make_unique<CSearchDeviceBroadcastThread>();
  broadcast->SetDeviceSink(&SearchDeviceManager::OnDeviceFound);
  broadcast->InitValue(nullptr, kBroadcastLocalPort, false);
  broadcastWorker = broadcast.get();
  workerList.push_back({std::string(), std::move(broadcast)});

  auto multicast = std::make_unique<CSearchDeviceMulticastThread>();
  multicast->SetDeviceSink(&SearchDeviceManager::OnDeviceFound);
  multicast->InitValue(nullptr, kMulticastPort, false);
  groupWorker = multicast.get();
  workerList.push_back({std::string(), std::move(multicast)});

  RefreshLocalWorkers();
}

std::int32_t SearchDeviceManager::SendSearch() {
  WriteLog("SendMessage : pdhcp is NULL ");
  const SearchPacket request = MakeSearchRequest();
  if (autoRefreshLocalIP) {
    RefreshLocalWorkers();
  }
  if (broadcastWorker != nullptr) {
    broadcastWorker->SetInterfaces(BroadcastInterfaces());
  }
  for (WorkerEntry& entry : workerList) {
    entry.worker->ResetLastDevice();
    entry.worker->SendSearchCommand(request);
  }
  return 0;
}

void SearchDeviceManager::StopSearch() {
  // The watch goes first: nothing may ask for a refresh once the workers are stopped.
  addressWatch.reset();
  for (WorkerEntry& entry : workerList) {
    entry.worker->ExitWorkThread();
  }
  stopped = true;
  CloseLog();
}

void SearchDeviceManager::RefreshLocalWorkers() { RefreshWorkers(); }

std::vector<LocalAddress> SearchDeviceManager::RefreshWorkers() {
  DeleteEndedWorkers();
  std::vector<LocalAddress> local;
  // An address list that could not be read says nothing about which addresses are gone.
  if (ReadLocalAddresses(local)) {
    RemoveVanishedWorkers(local);
    if (groupWorker != nullptr) {
      groupWorker->RenewMulticastGroup(local);
    }
  }
  std::vector<LocalAddress> made;
  for (const LocalAddress& address : local) {
    const bool known =
        std::any_of(workerList.begin(), workerList.end(),
                    [&](const WorkerEntry& entry) { return entry.name == address.address; });
    if (known) {
      // The same address on a further interface: the worker made for it serves that one too.
      if (Contains(made, address.address)) {
        made.push_back(address);
      }
      continue;
    }
    auto worker = std::make_unique<CSearchDeviceMultiCommandThead>();
    worker->SetDeviceSink(&SearchDeviceManager::OnDeviceFound);
    worker->InitValue(address.address.c_str(), TakeCommandPort(nextCommandPort, WorkerPorts()),
                      true);
    workerList.push_back({address.address, std::move(worker)});
    made.push_back(address);
  }
  return made;
}

void SearchDeviceManager::RemoveVanishedWorkers(const std::vector<LocalAddress>& local) {
  for (auto entry = workerList.begin(); entry != workerList.end();) {
    if (entry->name.empty() || Contains(local, entry->name)) {
      ++entry;
      continue;
    }
    // Stopping only asks the receive thread to end; the worker is deleted once it has, at a later
    // refresh, so that the user-interface thread never waits here.
    WriteLog("SendThread %d : Remove Search Device Work Thread, strIP : %s  ",
             entry->worker->Port(), entry->name.c_str());
    entry->worker->ExitWorkThread();
    retiredWorkers.push_back(std::move(entry->worker));
    entry = workerList.erase(entry);
  }
}

std::vector<std::int32_t> SearchDeviceManager::WorkerPorts() const {
  std::vector<std::int32_t> ports;
  for (const WorkerEntry& entry : workerList) {
    // The fixed workers' ports (67, 1900) are no per-address worker's slot.
    if (!entry.name.empty()) {
      ports.push_back(entry.worker->Port());
    }
  }
  for (const std::unique_ptr<CSearchDeviceThread>& worker : retiredWorkers) {
    ports.push_back(worker->Port());
  }
  return ports;
}

void SearchDeviceManager::DeleteEndedWorkers() {
  std::erase_if(retiredWorkers, [](const std::unique_ptr<CSearchDeviceThread>& worker) {
    return worker->RunningThreads() == 0;
  });
}

void SearchDeviceManager::GetLocalIPList(std::vector<std::string>& list) {
  std::vector<LocalAddress> local;
  ReadLocalAddresses(local);
  list.clear();
  for (const LocalAddress& address : local) {
    list.push_back(address.address);
  }
}

bool SearchDeviceManager::ReadLocalAddresses(std::vector<LocalAddress>& local) {
  WriteLog("Get Current Local IP Info ");
  // Resolving the host name gives 127.0.1.1 on most Linux systems; the interfaces are the
  // reliable source of the host's own addresses.
  std::string error;
  local = ListLocalAddresses(&error);
  if (!error.empty()) {
    WriteLog("Add To Mulitcast Group Error : %s   ", ("resolve: " + error).c_str());
  }
  for (const LocalAddress& address : local) {
    WriteLog("Get Current Local IP, IP = %s  ", address.address.c_str());
  }
  return error.empty();
}

bool SearchDeviceManager::WatchLocalAddresses(std::function<void()> changed) {
  addressWatch.reset();
  auto watch = std::make_unique<LocalAddressWatch>();
  std::string error;
  if (!watch->Start(std::move(changed), &error)) {
    WriteLog("Watch Local IP Error : %s   ", error.c_str());
    return false;
  }
  addressWatch = std::move(watch);
  return true;
}

void SearchDeviceManager::OnLocalAddressesChanged() {
  if (!started || stopped) {
    return;
  }
  const std::vector<LocalAddress> made = RefreshWorkers();
  if (made.empty()) {
    return;
  }
  const SearchPacket request = MakeSearchRequest();
  if (broadcastWorker != nullptr) {
    // The networks searched before need no second request; the next search pass goes out of
    // every interface again.
    std::vector<BroadcastInterface> interfaces;
    for (const LocalAddress& address : made) {
      interfaces.push_back({address.address, address.interface, address.index});
    }
    broadcastWorker->SetInterfaces(std::move(interfaces));
    broadcastWorker->ResetLastDevice();
    broadcastWorker->SendSearchCommand(request);
  }
  for (WorkerEntry& entry : workerList) {
    if (Contains(made, entry.name)) {
      entry.worker->SendSearchCommand(request);
    }
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
    search.broadcast = entry.worker.get() == broadcastWorker;
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
  for (const std::unique_ptr<CSearchDeviceThread>& worker : retiredWorkers) {
    if (!worker->WaitForWorkThreads(timeout)) {
      return false;
    }
  }
  return true;
}
