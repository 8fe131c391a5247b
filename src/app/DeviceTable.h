#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "discovery/DeviceInfo.h"

// The devices of the current search cycle, in the order they were first reported. The engine's
// worker threads file reports through DeviceFoundHandler while holding the engine's hand-off
// mutex; the user-interface thread only clears and copies. Lock order: the hand-off mutex, then
// this table's lock.
class DeviceTable {
 public:
  // The process-wide table; it outlives every window.
  static DeviceTable& Instance();

  // Equal record: only the time to live is refreshed. Same address, other details: the entry is
  // replaced in place. Otherwise the record is appended.
  void AddOrUpdate(const DeviceInfo& device);
  // Removes the first entry whose id, read as local 8-bit text, equals `id` read the same way.
  void RemoveById(const char* id);
  void Clear();
  std::vector<DeviceInfo> CopyAll();

  // Called, on the reporting thread and under the table's lock, after every report that changed
  // the entries (a device added, replaced or removed; not a refreshed time to live): the window
  // posts itself an update from it. It must not call back into the table. Null removes it.
  void SetChangeListener(std::function<void()> listener);

 private:
  void Changed();

  boost::mutex lock;
  std::function<void()> changeListener;
  std::vector<DeviceInfo> entries;
};

// The engine's found-device callback: files a report of type 1 or 2, removes the device on a
// type-4 report and ignores any other type. Returns 0.
std::int32_t DeviceFoundHandler(const DeviceInfo* device, std::int32_t port);
