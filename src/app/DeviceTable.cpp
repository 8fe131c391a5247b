#include "app/DeviceTable.h"

#include <algorithm>
#include <cstring>

#include "diag/LogSystem.h"
#include "discovery/SearchProtocol.h"

namespace {

std::string AddressKey(const DeviceInfo& device) {
  return std::string(device.ip, strnlen(device.ip, DeviceInfo::kTextSize));
}

QString IdKey(const char* id) {
  return QString::fromLocal8Bit(id, static_cast<qsizetype>(strnlen(id, DeviceInfo::kTextSize)));
}

}  // namespace

DeviceTable::DeviceTable(std::size_t capacity) : capacity_(capacity) {}

DeviceTable& DeviceTable::Instance() {
  static DeviceTable table;
  return table;
}

DeviceTable::Clock::time_point DeviceTable::ExpiryOf(const DeviceInfo& device,
                                                     Clock::time_point now) {
  const std::int64_t seconds = std::clamp<std::int64_t>(device.timeToLive, 0, kMaximumTimeToLive);
  return now + std::chrono::seconds(seconds);
}

void DeviceTable::AddOrUpdate(const DeviceInfo& device) { AddOrUpdate(device, Clock::now()); }

void DeviceTable::AddOrUpdate(const DeviceInfo& device, Clock::time_point now, bool promised) {
  // A report without a promise (an answer to the broadcast search, whose protocol carries no
  // lifetime) never shortens or sets one: the device may be silent until the next search.
  const Clock::time_point expiry = promised ? ExpiryOf(device, now) : kNever;
  boost::mutex::scoped_lock guard(lock);
  if (const auto known = byAddress_.find(AddressKey(device)); known != byAddress_.end()) {
    const Position entry = known->second;
    const bool same = IsSameDevice(entry->device, device);
    Unindex(entry);
    if (same) {
      entry->device.timeToLive = device.timeToLive;
    } else {
      entry->device = device;
    }
    // The latest promise holds; a report that promises nothing leaves the entry's as it is.
    if (promised) {
      entry->expiry = expiry;
    }
    Index(entry);
    if (!same) {
      Record(ChangeKind::kReplaced, device);
    }
    return;
  }
  if (entries.size() >= capacity_) {
    if (!fullLogged_) {
      fullLogged_ = true;
      WriteLog(
          "Device table full (%zu devices): devices first reported now are left out until "
          "others leave",
          capacity_);
    }
    return;
  }
  Entry added;
  added.device = device;
  added.ordinal = nextOrdinal_++;
  added.expiry = expiry;
  Index(entries.insert(entries.end(), std::move(added)));
  Record(ChangeKind::kAdded, device);
}

void DeviceTable::RemoveById(const char* id) {
  const QString wanted = IdKey(id);
  boost::mutex::scoped_lock guard(lock);
  const auto sharing = byId_.constFind(wanted);
  if (sharing == byId_.constEnd() || sharing->empty()) {
    return;
  }
  // The first in table order of the entries with this identity.
  Erase(sharing->begin()->second, ChangeKind::kRemoved);
}

std::uint64_t DeviceTable::Clear() {
  boost::mutex::scoped_lock guard(lock);
  entries.clear();
  byAddress_.clear();
  byId_.clear();
  byExpiry_.clear();
  journal_.clear();
  clearedAt_ = sequence_;
  fullLogged_ = false;
  return sequence_;
}

std::vector<DeviceInfo> DeviceTable::CopyAll(std::uint64_t* sequence) {
  boost::mutex::scoped_lock guard(lock);
  std::vector<DeviceInfo> copy;
  copy.reserve(entries.size());
  for (const Entry& entry : entries) {
    copy.push_back(entry.device);
  }
  if (sequence != nullptr) {
    *sequence = sequence_;
  }
  return copy;
}

std::size_t DeviceTable::Size() {
  boost::mutex::scoped_lock guard(lock);
  return entries.size();
}

DeviceTable::ChangeSlice DeviceTable::ChangesAfter(std::uint64_t after, std::size_t limit) {
  boost::mutex::scoped_lock guard(lock);
  ChangeSlice slice;
  if (after >= sequence_) {
    return slice;
  }
  // The journal holds the changes from the first in it to sequence_, without gaps.
  const std::uint64_t first = journal_.empty() ? sequence_ + 1 : journal_.front().sequence;
  if (after < clearedAt_ || after + 1 < first) {
    slice.lost = true;
    return slice;
  }
  const auto begin = journal_.begin() + static_cast<std::ptrdiff_t>(after + 1 - first);
  const auto count =
      std::min<std::ptrdiff_t>(journal_.end() - begin, static_cast<std::ptrdiff_t>(limit));
  slice.changes.assign(begin, begin + count);
  return slice;
}

std::uint64_t DeviceTable::LastSequence() {
  boost::mutex::scoped_lock guard(lock);
  return sequence_;
}

std::optional<DeviceTable::Clock::time_point> DeviceTable::NextExpiry() {
  boost::mutex::scoped_lock guard(lock);
  if (byExpiry_.empty()) {
    return std::nullopt;
  }
  return byExpiry_.begin()->first.first;
}

std::size_t DeviceTable::RemoveExpired(Clock::time_point now) {
  boost::mutex::scoped_lock guard(lock);
  std::size_t removed = 0;
  while (!byExpiry_.empty() && byExpiry_.begin()->first.first <= now) {
    Erase(byExpiry_.begin()->second, ChangeKind::kRemoved);
    ++removed;
  }
  return removed;
}

void DeviceTable::SetChangeListener(std::function<void()> listener) {
  boost::mutex::scoped_lock guard(lock);
  changeListener = std::move(listener);
}

void DeviceTable::Record(ChangeKind kind, const DeviceInfo& device) {
  Change change;
  change.sequence = ++sequence_;
  change.kind = kind;
  change.device = device;
  journal_.push_back(change);
  if (journal_.size() > kJournalSize) {
    journal_.pop_front();
  }
  if (changeListener) {
    changeListener();
  }
}

void DeviceTable::Erase(Position entry, ChangeKind why) {
  const DeviceInfo gone = entry->device;
  Unindex(entry);
  byAddress_.erase(AddressKey(entry->device));
  entries.erase(entry);
  if (entries.size() < capacity_) {
    fullLogged_ = false;
  }
  Record(why, gone);
}

void DeviceTable::Index(Position entry) {
  entry->idKey = IdKey(entry->device.id);
  byAddress_[AddressKey(entry->device)] = entry;
  byId_[entry->idKey].emplace(entry->ordinal, entry);
  if (entry->expiry != kNever) {
    byExpiry_.emplace(std::make_pair(entry->expiry, entry->ordinal), entry);
  }
}

void DeviceTable::Unindex(Position entry) {
  // The address index stays: a replaced entry keeps its address, and Erase drops it itself.
  if (const auto sharing = byId_.find(entry->idKey); sharing != byId_.end()) {
    sharing->erase(entry->ordinal);
    if (sharing->empty()) {
      byId_.erase(sharing);
    }
  }
  byExpiry_.erase(std::make_pair(entry->expiry, entry->ordinal));
}

std::int32_t DeviceFoundHandler(const DeviceInfo* device, std::int32_t port) {
  if (device == nullptr) {
    return 0;
  }
  const DeviceInfo copy = *device;
  switch (copy.type) {
    case kDeviceSearchReply:
    case kDeviceAlive:
      // Multicast reports carry the device's max-age; a broadcast answer promises nothing.
      DeviceTable::Instance().AddOrUpdate(copy, DeviceTable::Clock::now(),
                                          port != kBroadcastLocalPort);
      break;
    case kDeviceByeBye:
      DeviceTable::Instance().RemoveById(copy.id);
      break;
    default:
      break;
  }
  return 0;
}
