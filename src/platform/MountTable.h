#pragma once

// The kernel's table of mounts, and the SMB shares in it.

#include <vector>

#include <QByteArray>
#include <QString>

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

// The cifs and smb3 mounts of TEXT whose source host is exactly ADDRESS, newest mount first. The
// kernel lists mounts in the order they were made (mount identifiers are reused and say nothing
// about age), so the list is read backwards.
std::vector<MountInfoEntry> ShareMountsOf(const QByteArray& text, const QString& address);
