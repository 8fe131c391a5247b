#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <boost/thread/mutex.hpp>

#include <QHash>
#include <QString>

#include "discovery/DeviceInfo.h"

// The devices of the current search cycle, in the order they were first reported. The engine's
// worker threads file reports through DeviceFoundHandler while holding the engine's hand-off
// mutex; the user-interface thread clears, copies, reads the journal of changes and removes the
// devices whose time to live has run out. Lock order: the hand-off mutex, then this table's lock.
//
// Anyone on the network can announce devices, as many and as fast as they like, so the table is
// built to stay small and quick whatever arrives: a report finds its entry through hash indexes
// (by address, and by identity for a goodbye) instead of a walk over the entries, the table holds
// at most kCapacity devices, and the window learns what changed from a bounded journal instead of
// copying the whole table for every burst.
class DeviceTable {
 public:
  using Clock = std::chrono::steady_clock;

  // The most devices the table holds. A home network has a few dozen hosts and even a large
  // office subnet (a /20) fewer than this, and it is as many rows as anyone could still scroll
  // through; past it a flood of made-up devices would only cost memory (about 1 KB per device
  // here, and about as much again in the window's list) and time. A device first reported while
  // the table is full is left out until others leave.
  static constexpr std::size_t kCapacity = 4096;
  // How many of the latest changes the journal keeps. A reader that falls further behind starts
  // again from a copy of the table (ChangesAfter says so), which holds no more than this anyway.
  static constexpr std::size_t kJournalSize = 4096;

  enum class ChangeKind {
    kAdded,     // a device not in the table before
    kReplaced,  // a device at an address already in the table, with other details
    kRemoved,   // a device that said goodbye or whose time to live ran out
  };
  struct Change {
    std::uint64_t sequence = 0;
    ChangeKind kind = ChangeKind::kAdded;
    // Added or replaced: the new record; removed: the record that left.
    DeviceInfo device;
  };
  struct ChangeSlice {
    // Some changes after the one asked for are no longer in the journal (the reader fell too far
    // behind, or the table was cleared since): the reader starts again from CopyAll.
    bool lost = false;
    std::vector<Change> changes;
  };

  explicit DeviceTable(std::size_t capacity = kCapacity);

  // The process-wide table; it outlives every window.
  static DeviceTable& Instance();

  // Equal record: only the time to live is refreshed. Same address, other details: the entry is
  // replaced in place. Otherwise the record is appended, unless the table is full. A report that
  // `promised` a lifetime (its time to live, in seconds) restarts the device's from now; one that
  // did not leaves the entry's as it is, and a device only such reports told of stays until it
  // says goodbye or the table is cleared.
  void AddOrUpdate(const DeviceInfo& device);
  void AddOrUpdate(const DeviceInfo& device, Clock::time_point now, bool promised = true);
  // Removes the first entry whose id, read as local 8-bit text, equals `id` read the same way.
  void RemoveById(const char* id);
  // Empties the table and its journal; returns the sequence number a reader that has shown
  // nothing continues from.
  std::uint64_t Clear();
  // The entries in table order, and the sequence number of the last change they include.
  std::vector<DeviceInfo> CopyAll(std::uint64_t* sequence = nullptr);
  std::size_t Size();

  // At most `limit` changes that came after change `after`, oldest first.
  ChangeSlice ChangesAfter(std::uint64_t after, std::size_t limit);
  // The sequence number of the latest change.
  std::uint64_t LastSequence();

  // When the first time to live runs out, if any device is in the table.
  std::optional<Clock::time_point> NextExpiry();
  // Removes every device whose time to live ran out by `now`, as though it had said goodbye;
  // returns how many.
  std::size_t RemoveExpired(Clock::time_point now);

  // Called, on the reporting thread and under the table's lock, after every report that changed
  // the entries (a device added, replaced or removed; not a refreshed time to live): the window
  // posts itself an update from it. It must not call back into the table. Null removes it.
  void SetChangeListener(std::function<void()> listener);

 private:
  struct Entry {
    DeviceInfo device;
    // Its place in the order of first report, which never changes while it is in the table.
    std::uint64_t ordinal = 0;
    Clock::time_point expiry;
    QString idKey;
  };
  using EntryList = std::list<Entry>;
  using Position = EntryList::iterator;

  void Record(ChangeKind kind, const DeviceInfo& device);
  void Erase(Position entry, ChangeKind why);
  void Index(Position entry);
  void Unindex(Position entry);
  static Clock::time_point ExpiryOf(const DeviceInfo& device, Clock::time_point now);
  // The expiry of an entry that no report gave a lifetime.
  static constexpr Clock::time_point kNever = Clock::time_point::max();

  const std::size_t capacity_;
  boost::mutex lock;
  std::function<void()> changeListener;
  EntryList entries;
  std::uint64_t nextOrdinal_ = 0;
  // The indexes beside the order: by address (unique, since a report at a known address replaces
  // its entry), by identity (the entries that share it, in table order), by expiry.
  std::unordered_map<std::string, Position> byAddress_;
  QHash<QString, std::map<std::uint64_t, Position>> byId_;
  std::map<std::pair<Clock::time_point, std::uint64_t>, Position> byExpiry_;
  std::deque<Change> journal_;
  std::uint64_t sequence_ = 0;
  // Changes up to this one were cleared away with the entries.
  std::uint64_t clearedAt_ = 0;
  // Set once a full table has said so in the log; cleared when it has room again.
  bool fullLogged_ = false;
};

// The engine's found-device callback: files a report of type 1 or 2, removes the device on a
// type-4 report and ignores any other type. Returns 0.
std::int32_t DeviceFoundHandler(const DeviceInfo* device, std::int32_t port);
