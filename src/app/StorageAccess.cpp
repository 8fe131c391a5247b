#include "app/StorageAccess.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <QDBusConnection>
#include <QFile>
#include <QGuiApplication>

#include "diag/LogSystem.h"
#include "discovery/SearchProtocol.h"
#include "platform/DesktopOpen.h"
#include "platform/FileManagerWindows.h"
#include "platform/HostMatch.h"
#include "platform/MountTable.h"

namespace {

// umount answers at once unless the device has gone away; then the kernel gives up on its own.
constexpr std::chrono::seconds kUnmountWait{10};

std::atomic<StorageSystem*> installedSystem{nullptr};

QByteArray Utf8(const QString& text) { return text.toUtf8(); }

}  // namespace

std::optional<int> StorageSystem::CloseFileManagerWindows(const QString& address) {
  return ::CloseFileManagerWindows(address.toUtf8().toStdString());
}

bool StorageSystem::HasSessionBus() { return QDBusConnection::sessionBus().isConnected(); }

std::optional<std::vector<GvfsMount>> StorageSystem::ListGvfsMounts(QString* error) {
  return GvfsMountTracker(QDBusConnection::sessionBus()).ListMounts(error);
}

QString StorageSystem::UnmountGvfs(const GvfsMount& mount) {
  return GvfsMountTracker(QDBusConnection::sessionBus()).Unmount(mount);
}

QString StorageSystem::MountGvfs(const GvfsMountItems& items) {
  return GvfsMountTracker(QDBusConnection::sessionBus()).Mount(items);
}

std::optional<QByteArray> StorageSystem::ReadMountTable() {
  QFile file(QStringLiteral("/proc/self/mountinfo"));
  if (!file.open(QIODevice::ReadOnly)) {
    return std::nullopt;
  }
  return file.readAll();
}

CommandOutcome StorageSystem::RunCommand(const QStringList& argv,
                                         std::chrono::milliseconds timeout) {
  std::vector<std::string> arguments;
  for (const QString& argument : argv) {
    arguments.push_back(argument.toStdString());
  }
  return ::RunCommand(arguments, timeout);
}

QString StorageSystem::NewStartupId() { return ::NewStartupId(); }

bool StorageSystem::FileManagerServiceIsPreferred() {
  return ::FileManagerServiceIsPreferred(QDBusConnection::sessionBus());
}

QString StorageSystem::ShowFolder(const QString& location, const QString& startupId) {
  return ShowFolderInFileManager(QDBusConnection::sessionBus(), location, startupId);
}

QString StorageSystem::OpenWithPreferredApplication(const QString& location,
                                                    const QString& startupId) {
  return ::OpenWithPreferredApplication(location, startupId);
}

StorageSystem& CurrentStorageSystem() {
  if (StorageSystem* installed = installedSystem.load()) {
    return *installed;
  }
  // Never destroyed: a sequence may still use it while the process exits.
  static StorageSystem* const real = new StorageSystem;
  return *real;
}

void SetStorageSystem(StorageSystem* system) { installedSystem.store(system); }

bool IsDottedIPv4(const QString& address) {
  // Text that is not Latin-1 turns into '?', which no address holds.
  const QByteArray text = address.toLatin1();
  return ::IsDottedIPv4(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

QString ServerLocation(const QString& address) {
  return QStringLiteral("smb://") + address + QStringLiteral("/");
}

int CloseExplorerWindows(const QString& address) {
  if (address.isEmpty()) {
    return 0;
  }
  const std::optional<int> asked = CurrentStorageSystem().CloseFileManagerWindows(address);
  // Wayland has no way for one program to close another's windows.
  const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                       QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  if (!asked) {
    WriteLog(wayland ? "My Storage: Wayland session without an X display, file-manager windows "
                       "of %s cannot be closed"
                     : "My Storage: no X display, file-manager windows of %s not looked for",
             Utf8(address).constData());
    return 0;
  }
  if (wayland) {
    // Windows of Wayland clients are out of reach of X11; only those through XWayland are seen.
    WriteLog("My Storage: Wayland session, only X11 file-manager windows of %s looked for",
             Utf8(address).constData());
  }
  if (*asked > 0) {
    WriteLog("My Storage: asked %d file-manager window(s) of %s to close", *asked,
             Utf8(address).constData());
  }
  return *asked;
}

bool DeleteConnections(const QString& address) {
  StorageSystem& system = CurrentStorageSystem();
  if (address.isEmpty()) {
    return false;
  }
  if (!system.HasSessionBus()) {
    WriteLog("My Storage: no session bus, GVFS mounts of %s not looked for",
             Utf8(address).constData());
    return false;
  }
  QString error;
  const std::optional<std::vector<GvfsMount>> mounts = system.ListGvfsMounts(&error);
  if (!mounts) {
    WriteLog("My Storage: GVFS mounts cannot be listed: %s", Utf8(error).constData());
    return false;
  }
  for (const GvfsMount& mount : *mounts) {
    if (!SameHost(mount.Host(), address)) {
      continue;
    }
    const QString failure = system.UnmountGvfs(mount);
    if (failure.isEmpty()) {
      WriteLog("My Storage: unmounted GVFS mount \"%s\" (%s)", Utf8(mount.displayName).constData(),
               mount.items.value(QStringLiteral("type")).constData());
    } else {
      WriteLog("My Storage: GVFS mount \"%s\" not unmounted: %s",
               Utf8(mount.displayName).constData(), Utf8(failure).constData());
    }
  }
  return true;
}

std::vector<MappedDrive> CollectMappedDrives(const QString& address) {
  std::vector<MappedDrive> drives;
  const std::optional<QByteArray> table = CurrentStorageSystem().ReadMountTable();
  if (!table) {
    return drives;
  }
  for (MountInfoEntry& entry : ShareMountsOf(*table, address)) {
    MappedDrive drive;
    drive.localName = std::move(entry.mountPoint);
    drive.remoteName = std::move(entry.source);
    drives.push_back(std::move(drive));
  }
  return drives;
}

void DeleteMappedDrives(const QString& address) {
  std::vector<MappedDrive> drives = CollectMappedDrives(address);
  for (const MappedDrive& drive : drives) {
    if (!drive.localName.isEmpty()) {
      RunHiddenCommand({QStringLiteral("umount"), drive.localName});
    }
  }
  drives.clear();
}

bool RunHiddenCommand(const QStringList& argv) {
  const CommandOutcome outcome = CurrentStorageSystem().RunCommand(argv, kUnmountWait);
  if (outcome.Succeeded()) {
    return true;
  }
  // A mount that only its owner or root may remove stays; the log says why.
  const QByteArray command = Utf8(argv.join(QLatin1Char(' ')));
  if (!outcome.started) {
    WriteLog("My Storage: %s could not be started: %s", command.constData(),
             outcome.startError.c_str());
  } else if (!outcome.finished) {
    WriteLog("My Storage: %s did not end in time", command.constData());
  } else {
    WriteLog("My Storage: %s failed (exit status %d): %s", command.constData(), outcome.exitStatus,
             QByteArray::fromStdString(outcome.errorOutput).trimmed().constData());
  }
  return false;
}

bool OpenServerInExplorer(const QString& address) {
  StorageSystem& system = CurrentStorageSystem();
  const QString location = ServerLocation(address);
  {
    std::lock_guard<std::mutex> guard(StorageAccess::Instance().lock);
    StorageAccess::Instance().targetPath = location;
  }
  const bool bus = system.HasSessionBus();
  // A file manager that is asked to show a location that is not mounted may show nothing, or a
  // stale view of a mount that another program removed; mounted first, it shows the shares. A
  // device that wants a password is not mounted here: the file manager asks for it.
  if (bus) {
    const QString failure = system.MountGvfs(SmbServerItems(address));
    if (!failure.isEmpty()) {
      WriteLog("My Storage: %s not mounted beforehand: %s", Utf8(location).constData(),
               Utf8(failure).constData());
    }
  }
  const QString startupId = system.NewStartupId();
  if (bus && system.FileManagerServiceIsPreferred()) {
    const QString failure = system.ShowFolder(location, startupId);
    if (failure.isEmpty()) {
      WriteLog("My Storage: %s shown by the file manager", Utf8(location).constData());
      return true;
    }
    WriteLog("My Storage: the file manager did not show %s: %s", Utf8(location).constData(),
             Utf8(failure).constData());
  }
  const QString failure = system.OpenWithPreferredApplication(location, startupId);
  if (failure.isEmpty()) {
    WriteLog("My Storage: %s handed to xdg-open", Utf8(location).constData());
    return true;
  }
  WriteLog("My Storage: %s not opened: %s", Utf8(location).constData(), Utf8(failure).constData());
  return false;
}

StorageAccess& StorageAccess::Instance() {
  static StorageAccess* const instance = new StorageAccess;
  return *instance;
}

void StorageAccess::Request(const QString& address, Finished finished) {
  std::lock_guard<std::mutex> guard(queueLock);
  waiting.emplace(address, std::move(finished));
  if (running) {
    return;
  }
  running = true;
  try {
    std::thread([this] { RunRequests(); }).detach();
  } catch (const std::system_error&) {
    // No thread, no sequence: the click is reported as having opened nothing.
    running = false;
    Finished dropped = std::move(waiting->second);
    waiting.reset();
    idle.notify_all();
    if (dropped) {
      dropped(address, false);
    }
  }
}

void StorageAccess::RunRequests() {
  for (;;) {
    std::pair<QString, Finished> request;
    {
      std::lock_guard<std::mutex> guard(queueLock);
      if (!waiting) {
        running = false;
        idle.notify_all();
        return;
      }
      request = std::move(*waiting);
      waiting.reset();
    }
    CloseExplorerWindows(request.first);
    DeleteConnections(request.first);
    DeleteMappedDrives(request.first);
    const bool opened = OpenServerInExplorer(request.first);
    if (request.second) {
      request.second(request.first, opened);
    }
  }
}

bool StorageAccess::WaitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(queueLock);
  return idle.wait_for(guard, timeout, [this] { return !running && !waiting; });
}

void OpenStorage(const QString& address, StorageAccess::Finished finished) {
  if (address.isEmpty()) {
    return;
  }
  if (!IsDottedIPv4(address)) {
    WriteLog("My Storage: \"%s\" is not an IPv4 address: nothing opened",
             Utf8(address).constData());
    if (finished) {
      finished(address, false);
    }
    return;
  }
  StorageAccess::Instance().Request(address, std::move(finished));
}
