#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "discovery/DeviceInfo.h"
#include "discovery/LocalInterfaces.h"
#include "discovery/SearchDeviceBroadcastThread.h"

class CSearchDeviceThread;
class CSearchDeviceMulticastThread;
class LocalAddressWatch;

// A search that does not run because its worker could not make its socket.
struct SearchOff {
  bool broadcast = false;  // the broadcast search (port 67), else the multicast search (1900)
  std::int32_t port = 0;
  int error = 0;  // the system's error number (EACCES, EADDRINUSE, ...), -1 for another failure
  std::string text;
};

// One element of the worker list: the local address of a per-address worker (empty for the two
// fixed workers) and the worker, which the coordinator owns.
struct WorkerEntry {
  std::string name;
  std::unique_ptr<CSearchDeviceThread> worker;
};

// The coordinator of the discovery engine: finds the host's own IPv4 addresses, creates the
// search workers, fans each search pass out to them and funnels every found device, one at a
// time, to the registered callback. All calls but OnDeviceFound come from one thread (the
// user-interface thread).
//
// The host's networks change while the program runs (a cable, a wireless network, a VPN): a
// per-address worker whose address is gone is stopped and removed, one for an address that
// returns is made anew, and the group worker's memberships follow the interfaces.
// The port for a new per-address worker: `next`, stepping on by kCommandPortStep past ports that
// a worker holds (`used`, the ports workers are bound to, which their creation retries may have
// moved up to kMaxCreateRetries past their slot). After the highest slot whose retries still fit
// below 65536 it starts again at kFirstCommandPort, so addresses that come and go for days never
// run the ports out. Advances `next` past the chosen slot.
std::int32_t TakeCommandPort(std::int32_t& next, const std::vector<std::int32_t>& used);

class SearchDeviceManager {
 public:
  // The process-wide coordinator. It is never destroyed: its receive threads may run until the
  // process ends.
  static SearchDeviceManager& Instance();

  // A coordinator of its own (tests). Its destructor stops the workers if needed, waits for
  // their receive threads to end and deletes them.
  SearchDeviceManager();
  ~SearchDeviceManager();
  SearchDeviceManager(const SearchDeviceManager&) = delete;
  SearchDeviceManager& operator=(const SearchDeviceManager&) = delete;

  void StartSearch();
  std::int32_t SendSearch();
  // Ends the address watch and every worker's receive thread.
  void StopSearch();
  // Brings the per-address workers in line with the host's addresses: a new address gets a
  // worker on the next port, a worker whose address is gone is stopped and removed (only when
  // the addresses could be read), and the group worker joins the group on new interfaces.
  void RefreshLocalWorkers();
  // The host's IPv4 addresses as dotted text: interfaces that are up and not loopback, in
  // interface order.
  void GetLocalIPList(std::vector<std::string>& list);

  // Starts watching the host's addresses and links; `changed` is called on the watch's own
  // thread after every batch of changes (it should only hand the news to the user-interface
  // thread, which then calls OnLocalAddressesChanged). Replaces an earlier watch. False, with a
  // log line, when the watch cannot be set up. StopSearch and the destructor end it.
  bool WatchLocalAddresses(std::function<void()> changed);
  // Searches the networks the host has just joined: RefreshLocalWorkers, then every worker made
  // by it sends its search and the broadcast request goes out of the new interfaces only.
  // Nothing is sent when no new address appeared, nor before StartSearch or after StopSearch.
  void OnLocalAddressesChanged();

  // The hand-off of a found device; called by the workers on their receive threads.
  static void OnDeviceFound(const DeviceInfo& device, std::int32_t port);

  const std::vector<WorkerEntry>& WorkerList() const { return workerList; }
  std::int32_t NextCommandPort() const { return nextCommandPort; }
  // Workers removed from the list whose receive threads had not ended at the last refresh; they
  // are deleted at a later refresh, or by the destructor.
  std::size_t RetiredWorkerCount() const { return retiredWorkers.size(); }
  // The fixed searches (broadcast, multicast) whose socket could not be made, in worker order.
  // The per-address workers move to the next port instead and are not listed.
  std::vector<SearchOff> SearchesOff() const;
  // The UDP ports replies and announcements come in on: those of the workers whose socket is
  // open (67, 1900 and each per-address worker's), each once, in worker order.
  std::vector<std::int32_t> ReplyPorts() const;
  // Waits until every worker's receive threads have ended (after StopSearch), removed workers'
  // included.
  bool WaitForWorkThreads(std::chrono::milliseconds timeout);

  bool autoRefreshLocalIP = false;

  // Process-wide hand-off state, shared by every coordinator.
  static std::atomic<FoundDeviceCallback> foundCallback;
  static boost::mutex foundMutex;

 private:
  // RefreshLocalWorkers, returning the addresses (with their interfaces) of the workers it made.
  std::vector<LocalAddress> RefreshWorkers();
  // The host's addresses, with the log lines of GetLocalIPList; false when the interfaces could
  // not be read.
  bool ReadLocalAddresses(std::vector<LocalAddress>& local);
  void RemoveVanishedWorkers(const std::vector<LocalAddress>& local);
  // The ports of the listed per-address workers and of the retired ones.
  std::vector<std::int32_t> WorkerPorts() const;
  // Deletes the removed workers whose receive threads have ended.
  void DeleteEndedWorkers();
  // The interfaces the broadcast request leaves through: those of the per-address workers' local
  // addresses, each once.
  std::vector<BroadcastInterface> BroadcastInterfaces() const;

  std::vector<WorkerEntry> workerList;
  // Stopped workers whose receive threads may still be ending; deleting one earlier would pull
  // the object from under its thread.
  std::vector<std::unique_ptr<CSearchDeviceThread>> retiredWorkers;
  // The two fixed workers, owned by workerList.
  CSearchDeviceBroadcastThread* broadcastWorker = nullptr;
  CSearchDeviceMulticastThread* groupWorker = nullptr;
  std::unique_ptr<LocalAddressWatch> addressWatch;
  std::int32_t nextCommandPort;
  bool started = false;
  bool stopped = false;
};
