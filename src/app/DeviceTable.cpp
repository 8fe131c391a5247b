#include "app/DeviceTable.h"

#include <cstring>

#include <QString>

DeviceTable& DeviceTable::Instance() {
  static DeviceTable table;
  return table;
}

void DeviceTable::AddOrUpdate(const DeviceInfo& device) {
  boost::mutex::scoped_lock guard(lock);
  for (DeviceInfo& entry : entries) {
    if (IsSameDevice(entry, device)) {
      entry.timeToLive = device.timeToLive;
      return;
    }
    if (std::strncmp(entry.ip, device.ip, DeviceInfo::kTextSize) == 0) {
      entry = device;
      Changed();
      return;
    }
  }
  entries.push_back(device);
  Changed();
}

void DeviceTable::RemoveById(const char* id) {
  const QString wanted =
      QString::fromLocal8Bit(id, static_cast<qsizetype>(strnlen(id, DeviceInfo::kTextSize)));
  boost::mutex::scoped_lock guard(lock);
  for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
    const QString entryId = QString::fromLocal8Bit(
        entry->id, static_cast<qsizetype>(strnlen(entry->id, DeviceInfo::kTextSize)));
    if (entryId == wanted) {
      entries.erase(entry);
      Changed();
      return;
    }
  }
}

void DeviceTable::Clear() {
  boost::mutex::scoped_lock guard(lock);
  entries.clear();
}

void DeviceTable::SetChangeListener(std::function<void()> listener) {
  boost::mutex::scoped_lock guard(lock);
  changeListener = std::move(listener);
}

void DeviceTable::Changed() {
  if (changeListener) {
    changeListener();
  }
}

std::vector<DeviceInfo> DeviceTable::CopyAll() {
  boost::mutex::scoped_lock guard(lock);
  return entries;
}

std::int32_t DeviceFoundHandler(const DeviceInfo* device, std::int32_t) {
  if (device == nullptr) {
    return 0;
  }
  const DeviceInfo copy = *device;
  switch (copy.type) {
    case kDeviceSearchReply:
    case kDeviceAlive:
      DeviceTable::Instance().AddOrUpdate(copy);
      break;
    case kDeviceByeBye:
      DeviceTable::Instance().RemoveById(copy.id);
      break;
    default:
      break;
  }
  return 0;
}
