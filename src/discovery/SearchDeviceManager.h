#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "discovery/DeviceInfo.h"
#include "discovery/SearchDeviceBroadcastThread.h"

class CSearchDeviceThread;

// A search that does not run because its worker could not make its socket.
struct SearchOff {
  bool broadcast = false;  // the broadcast search (port 67), else the multicast search (1900)
  std::int32_t port = 0;
  int error = 0;  // the system's error number (EACCES, EADDRINUSE, ...), -1 for another failure
  std::string text;
};

// One element of the worker list: the local address of a per-address worker (empty for the two
// fixed workers) and the worker.
struct WorkerEntry {
  std::string name;
  CSearchDeviceThread* worker = nullptr;
};

// The coordinator of the discovery engine: finds the host's own IPv4 addresses, creates the
// search workers, fans each search pass out to them and funnels every found device, one at a
// time, to the registered callback. All calls but OnDeviceFound come from one thread (the
// user-interface thread).
class SearchDeviceManager {
 public:
  // The process-wide coordinator. It is never destroyed: its workers live until the process ends.
  static SearchDeviceManager& Instance();

  // A coordinator of its own (tests). Its destructor stops the workers if needed, waits for
  // their receive threads to end and deletes them.
  SearchDeviceManager();
  ~SearchDeviceManager();
  SearchDeviceManager(const SearchDeviceManager&) = delete;
  SearchDeviceManager& operator=(const SearchDeviceManager&) = delete;

  void StartSearch();
  std::int32_t SendSearch();
  void StopSearch();
  void RefreshLocalWorkers();
  // The host's IPv4 addresses as dotted text: interfaces that are up and not loopback, in
  // interface order.
  void GetLocalIPList(std::vector<std::string>& list);

  // The hand-off of a found device; called by the workers on their receive threads.
  static void OnDeviceFound(const DeviceInfo& device, std::int32_t port);

  const std::vector<WorkerEntry>& WorkerList() const { return workerList; }
  std::int32_t NextCommandPort() const { return nextCommandPort; }
  // The fixed searches (broadcast, multicast) whose socket could not be made, in worker order.
  // The per-address workers move to the next port instead and are not listed.
  std::vector<SearchOff> SearchesOff() const;
  // The UDP ports replies and announcements come in on: those of the workers whose socket is
  // open (67, 1900 and each per-address worker's), each once, in worker order.
  std::vector<std::int32_t> ReplyPorts() const;
  // Waits until every worker's receive threads have ended (after StopSearch).
  bool WaitForWorkThreads(std::chrono::milliseconds timeout);

  bool autoRefreshLocalIP = false;

  // Process-wide hand-off state, shared by every coordinator.
  static std::atomic<FoundDeviceCallback> foundCallback;
  static boost::mutex foundMutex;

 private:
  // The interfaces the broadcast request leaves through: those of the per-address workers' local
  // addresses, each once.
  std::vector<BroadcastInterface> BroadcastInterfaces() const;

  std::vector<WorkerEntry> workerList;
  std::int32_t nextCommandPort;
  bool stopped = false;
};
