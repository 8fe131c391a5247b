#include "platform/WorkingFolder.h"

#include <QDir>
#include <QStandardPaths>

QString GetWorkingBaseFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  // The relative skin paths bring their own leading separator.
  while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) {
    folder.chop(1);
  }
  return folder;
}

QString MakeLayoutPath(const QString& relativePath) {
  return JoinLayoutPath(GetWorkingBaseFolder(), relativePath);
}

QString JoinLayoutPath(const QString& baseFolder, const QString& relativePath) {
  if (baseFolder.isEmpty()) {
    // Joining to nothing would turn "\ORVAKSearchTools\..." into a path at the file system root.
    return QString();
  }
  QString relative = relativePath;
  relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return baseFolder + relative;
}

bool LiesInsideFolder(const QString& path, const QString& baseFolder) {
  if (baseFolder.isEmpty() || path.isEmpty()) {
    return false;
  }
  const QString folder = QDir::cleanPath(baseFolder);
  const QString cleaned = QDir::cleanPath(path);
  if (cleaned == folder) {
    return true;
  }
  return cleaned.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}
