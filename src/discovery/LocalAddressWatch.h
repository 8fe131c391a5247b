#pragma once

#include <functional>
#include <string>

#include <boost/thread/thread.hpp>

// Watches the host's IPv4 addresses and links through a netlink route socket, without timers:
// a thread of the watch's own sleeps until the kernel reports a change, reads every message that
// is queued, then calls the watcher once for the whole batch. The socket belongs to the network
// namespace of the thread that starts the watch.
class LocalAddressWatch {
 public:
  LocalAddressWatch() = default;
  // Stops the watch.
  ~LocalAddressWatch();
  LocalAddressWatch(const LocalAddressWatch&) = delete;
  LocalAddressWatch& operator=(const LocalAddressWatch&) = delete;

  // Opens the socket and starts the thread that calls `changed`. False when the socket cannot be
  // made; `error` then says why. A watch that runs already is stopped first.
  bool Start(std::function<void()> changed, std::string* error = nullptr);
  // Wakes the thread, waits for it to end and closes the descriptors. Must not be called from
  // `changed`, which runs on that thread.
  void Stop();
  bool Running() const { return thread.joinable(); }

 private:
  void Run();

  std::function<void()> changedCallback;
  int routeSocket = -1;
  // Written once to wake the thread for good; a closed or shut-down netlink socket would not
  // wake a thread waiting on it.
  int stopEvent = -1;
  boost::thread thread;
};
