#pragma once

// "My Storage": opens a device's shares in the file manager as a fresh view. Before the new
// window opens, every file-manager window that already shows the device is closed, every GVFS
// mount of the device is unmounted and every kernel CIFS/SMB3 mount of it is unmounted, so that
// the user sees the shares as the device offers them now.
//
// Matching is a plain, case-sensitive substring test, as a user would read the address: a window
// title, GVFS location or mount source matches when it contains the address anywhere, so
// 192.168.1.2 also matches 192.168.1.20 to 192.168.1.29. An empty address matches nothing.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

// Everything the storage operations ask of the operating system. The default implementation
// does the real thing; tests derive from it, override what they need and install the result with
// SetStorageSystem, so that they can check the exact argument vectors without running anything.
class StorageSystem {
 public:
  virtual ~StorageSystem() = default;

  // The kernel's mount table of this process.
  virtual QString MountInfoPath();
  // The output of `gio mount -l`, or nothing when gio cannot be run or does not succeed.
  virtual std::optional<QByteArray> ListGvfsMounts();
  // Starts argv[0] (looked up on PATH) with the remaining elements as its arguments, never
  // through a shell, with its standard streams on /dev/null. Does not wait for it; the child is
  // reaped without the caller's help. False when it could not be started.
  virtual bool StartDetached(const QStringList& argv);
  // Blocks the calling thread.
  virtual void Pause(std::chrono::milliseconds duration);
  // Asks the window manager to close every file-manager window that shows the device; returns
  // how many were asked. Without an X display, nothing happens.
  virtual int CloseFileManagerWindows(const QString& address);
  // Opens a location in the user's file manager. Called on a short-lived worker thread.
  virtual void OpenLocation(const QString& location);
};

// The system the storage operations use: the one installed with SetStorageSystem, else the real
// one. Installing nullptr brings the real one back. The installed object must outlive every call,
// including opening threads still running (see StorageAccess::WaitForOpeningThreads).
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

// One line of /proc/self/mountinfo, with the kernel's octal escapes (\040 for a space and so on)
// decoded.
struct MountInfoEntry {
  int mountId = 0;
  QString mountPoint;
  QString fsType;
  QString source;
};

// Parses a whole mountinfo text in file order. Lines without the " - " separator or with too few
// fields are skipped.
std::vector<MountInfoEntry> ParseMountInfo(const QByteArray& text);

// The locations of the mounts in `gio mount -l` output ("Mount(0): share on host -> LOCATION"),
// in listed order.
QStringList ParseGvfsMountLocations(const QByteArray& text);

// The location the file manager opens for a device: "smb://" + address + "/".
QString ServerLocation(const QString& address);

// Whether a top-level window belongs to a known file manager (by either part of its WM_CLASS)
// and its title contains the server path "\\address" or "smb://address". Text is UTF-8.
bool IsFileManagerWindowOf(const std::string& instanceName, const std::string& className,
                           const std::string& title, const std::string& address);

// Closes every file-manager window that shows the device; returns how many were asked to close.
int CloseExplorerWindows(const QString& address);
// Unmounts every GVFS mount whose location contains the address (`gio mount -u LOCATION`). True
// when the mount list could be read.
bool DeleteConnections(const QString& address);
// Unmounts every collected kernel mount, newest first (`umount MOUNTPOINT`).
void DeleteMappedDrives(const QString& address);
// The cifs and smb3 mounts whose source contains the address, newest mount first.
std::vector<MappedDrive> CollectMappedDrives(const QString& address);
// Starts the command hidden and without waiting for it, then pauses the calling thread for
// 100 ms. A command that cannot be started is ignored.
void RunHiddenCommand(const QStringList& argv);

// The process-wide helper that opens the server on a worker thread, so that the dialog stays
// responsive while the file manager starts.
class StorageAccess {
 public:
  // Created on first use; never destroyed, because an opening thread may still be running when
  // the process exits.
  static StorageAccess& Instance();

  // Sets targetPath to the server location and starts a thread that opens its own copy of it.
  void OpenServerInExplorer(const QString& address);

  // For tests: waits until no opening thread is running. False when the time ran out.
  bool WaitForOpeningThreads(std::chrono::milliseconds timeout);

  // Held while targetPath is set and the opening thread is started.
  std::mutex lock;
  // The last location handed to an opening thread.
  QString targetPath;

 private:
  StorageAccess() = default;

  std::mutex runningLock;
  std::condition_variable runningChanged;
  int runningThreads = 0;
};

// The whole "My Storage" command for the address of the selected row: closes the device's
// file-manager windows, deletes its GVFS mounts, deletes its kernel mounts and opens the server,
// in that order. An empty address does nothing.
void OpenStorage(const QString& address);
