#include "platform/MountTable.h"

#include <utility>

#include <QList>

#include "platform/HostMatch.h"

namespace {

// The kernel writes a space, tab, newline and backslash in mount points and sources as a
// backslash followed by three octal digits. Anything else stands for itself.
QByteArray DecodeMountField(const QByteArray& field) {
  QByteArray decoded;
  decoded.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    const auto isOctal = [&](qsizetype at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(i + 1) && isOctal(i + 2) &&
        isOctal(i + 3)) {
      decoded.append(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                       (field[i + 3] - '0')));
      i += 3;
    } else {
      decoded.append(field[i]);
    }
  }
  return decoded;
}

}  // namespace

std::vector<MountInfoEntry> ParseMountInfo(const QByteArray& text) {
  std::vector<MountInfoEntry> entries;
  for (const QByteArray& line : text.split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    // Six fixed fields, then optional fields ("shared:1", "master:2", ...) up to a lone "-",
    // then the file system type, the source and the super block options.
    qsizetype separator = -1;
    for (qsizetype i = 6; i < fields.size(); ++i) {
      if (fields[i] == "-") {
        separator = i;
        break;
      }
    }
    if (separator < 0 || separator + 2 >= fields.size()) {
      continue;
    }
    bool idOk = false;
    MountInfoEntry entry;
    entry.mountId = fields[0].toInt(&idOk);
    if (!idOk) {
      continue;
    }
    entry.mountPoint = QString::fromLocal8Bit(DecodeMountField(fields[4]));
    entry.fsType = QString::fromLocal8Bit(DecodeMountField(fields[separator + 1]));
    entry.source = QString::fromLocal8Bit(DecodeMountField(fields[separator + 2]));
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<MountInfoEntry> ShareMountsOf(const QByteArray& text, const QString& address) {
  std::vector<MountInfoEntry> entries = ParseMountInfo(text);
  std::vector<MountInfoEntry> shares;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const bool share =
        entry->fsType == QStringLiteral("cifs") || entry->fsType == QStringLiteral("smb3");
    if (share && SameHost(ShareSourceHost(entry->source), address)) {
      shares.push_back(std::move(*entry));
    }
  }
  return shares;
}
