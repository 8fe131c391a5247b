#pragma once

// "My Storage": opens a device's shares in the file manager as a fresh view. Before the new view
// opens, every file-manager window that shows the device is closed, every GVFS mount of the device
// (the hidden server connection included) is unmounted and every kernel CIFS/SMB3 mount of it is
// unmounted, so that the user sees the shares as the device offers them now.
//
// Matching is exact: a window, mount or mount source belongs to the device only when the host it
// names is the device's address, or, in a window title, when the address stands there as a whole
// token. Another device whose address merely contains this one (192.168.1.20 for 192.168.1.2) is
// never touched. An empty address matches nothing.
//
// The whole sequence runs off the window's thread, one click at a time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/DetachedProcess.h"
#include "platform/GvfsMounts.h"

// Everything the storage operations ask of the desktop and the operating system. The default
// implementation does the real thing; tests derive from it, override what they need and install
// the result with SetStorageSystem.
class StorageSystem {
 public:
  virtual ~StorageSystem() = default;

  // Asks the window manager to close the device's file-manager windows; how many were asked, or
  // nothing without an X display.
  virtual std::optional<int> CloseFileManagerWindows(const QString& address);
  // Whether a session bus is there to reach GVFS and the file manager through.
  virtual bool HasSessionBus();
  // Every GVFS mount, hidden ones included; nothing (ERROR set) when GVFS cannot be reached.
  virtual std::optional<std::vector<GvfsMount>> ListGvfsMounts(QString* error);
  // Empty on success, else the reason.
  virtual QString UnmountGvfs(const GvfsMount& mount);
  virtual QString MountGvfs(const GvfsMountItems& items);
  // The kernel's mount table of this process; nothing when it cannot be read.
  virtual std::optional<QByteArray> ReadMountTable();
  // Runs a command (never through a shell) and waits up to TIMEOUT for its outcome.
  virtual CommandOutcome RunCommand(const QStringList& argv, std::chrono::milliseconds timeout);
  // A startup id for the window about to be opened, so that it may come to the front.
  virtual QString NewStartupId();
  // Whether the FileManager1 service is the user's preferred file manager (see DesktopOpen.h).
  virtual bool FileManagerServiceIsPreferred();
  // Empty on success, else the reason.
  virtual QString ShowFolder(const QString& location, const QString& startupId);
  virtual QString OpenWithPreferredApplication(const QString& location, const QString& startupId);
};

// The system the storage operations use: the one installed with SetStorageSystem, else the real
// one. Installing nullptr brings the real one back. The installed object must outlive every
// sequence still running (see StorageAccess::WaitUntilIdle).
StorageSystem& CurrentStorageSystem();
void SetStorageSystem(StorageSystem* system);

// One kernel mount of the device, the counterpart of a drive letter connected to a share.
struct MappedDrive {
  QString localName;   // the mount point
  QString secondText;  // always empty
  QString remoteName;  // the mount source, for instance //192.168.1.5/share
  QString thirdText;   // always empty
  std::int32_t number = 0;
};

// True when ADDRESS is a dotted IPv4 address and nothing else: four decimal parts from 0 to 255
// without leading zeros, as inet_pton reads one. A device chooses the text of its address, so only
// such an address becomes a location to open (never a host name, a path, a port or a whole URL).
bool IsDottedIPv4(const QString& address);

// The location the file manager opens for a device: "smb://" + address + "/".
QString ServerLocation(const QString& address);

// Closes every file-manager window that shows the device; returns how many were asked to close.
int CloseExplorerWindows(const QString& address);
// Unmounts every GVFS mount whose server is the address, the hidden server connection included.
// False when GVFS could not be asked (no session bus, no GVFS).
bool DeleteConnections(const QString& address);
// Unmounts every collected kernel mount, newest first (`umount MOUNTPOINT`).
void DeleteMappedDrives(const QString& address);
// The cifs and smb3 mounts whose source host is the address, newest mount first.
std::vector<MappedDrive> CollectMappedDrives(const QString& address);
// Runs the command hidden and waits for it; a failure (a mount that only its owner or root may
// remove, say) goes to the diagnostic log with what the command said. True when it succeeded.
bool RunHiddenCommand(const QStringList& argv);
// Mounts the server anonymously where the device allows it, then opens it in the user's file
// manager: through the FileManager1 service when that is the user's file manager, else through
// xdg-open. True when something was opened.
bool OpenServerInExplorer(const QString& address);

// Runs "My Storage" sequences on a thread of their own, one at a time.
class StorageAccess {
 public:
  // Called on the sequence's thread when it ends: the address and whether anything opened.
  using Finished = std::function<void(const QString& address, bool opened)>;

  // Created on first use; never destroyed, because a sequence may still run when the process
  // exits.
  static StorageAccess& Instance();

  // Runs the sequence for ADDRESS: at once when none runs, else after the running one. A request
  // that is still waiting is replaced by a newer one (the user clicked again, perhaps on another
  // row); its FINISHED is not called.
  void Request(const QString& address, Finished finished);

  // For tests: waits until no sequence runs or waits. False when the time ran out.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

  // Held while targetPath is set.
  std::mutex lock;
  // The last location a sequence opened or tried to open.
  QString targetPath;

 private:
  StorageAccess() = default;
  void RunRequests();

  std::mutex queueLock;
  std::condition_variable idle;
  bool running = false;
  std::optional<std::pair<QString, Finished>> waiting;
};

// The whole "My Storage" command for the address of the selected row, off the window's thread:
// closes the device's file-manager windows, deletes its GVFS mounts, deletes its kernel mounts and
// opens the server, in that order. An empty address does nothing; any other that is not a dotted
// IPv4 address opens nothing either, and FINISHED hears that nothing opened.
void OpenStorage(const QString& address, StorageAccess::Finished finished = {});
