#pragma once

// GVFS mounts through GVFS's own D-Bus interfaces: the mount tracker of the session's GVFS daemon
// lists every mount (the hidden ones, such as the server connection that browsing smb://HOST/
// makes, included), makes new ones, and each mount unmounts itself. `gio mount -l` lists only
// the mounts a user sees, so it cannot be used for this.

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDBusConnection>
#include <QMap>
#include <QString>

// A GVFS mount description: "type" (smb-server, smb-share, ftp, ...) and the items that say
// what is mounted ("server" or "host", "share", "user", "port", ...), all byte strings.
using GvfsMountItems = QMap<QString, QByteArray>;

struct GvfsMount {
  QString dbusId;      // the bus name of the backend that serves the mount
  QString objectPath;  // the mount's object at that backend
  QString displayName;
  bool userVisible = false;
  GvfsMountItems items;

  // The host the mount reaches: its "server" item, else its "host" item, without a user or port.
  QString Host() const;
};

// The description of the server connection that browsing smb://ADDRESS/ makes.
GvfsMountItems SmbServerItems(const QString& address);

class GvfsMountTracker {
 public:
  explicit GvfsMountTracker(const QDBusConnection& bus);

  // Every mount the tracker knows, hidden ones included. Nothing, with ERROR set, when the
  // tracker cannot be reached (no GVFS on this session) or answers with something else.
  std::optional<std::vector<GvfsMount>> ListMounts(QString* error) const;

  // Asks the mount's backend to unmount it. Empty on success, else the reason.
  QString Unmount(const GvfsMount& mount) const;

  // Mounts ITEMS without asking anybody anything: a device that lets guests in is mounted, one
  // that asks for a password is not (the file manager asks when it opens the location). A
  // location that is already mounted counts as mounted. Empty on success, else the reason.
  QString Mount(const GvfsMountItems& items) const;

 private:
  QDBusConnection bus_;
};
