#include "app/InstanceFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

constexpr mode_t kPrivateMode = 0700;

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

InstanceFolderChoice Failure(const QString& folder, const QString& reason) {
  InstanceFolderChoice choice;
  choice.failedFolder = folder;
  choice.reason = reason;
  return choice;
}

// The outcome of looking at one candidate folder in the shared temporary folder.
enum class Candidate { kPrivate, kForeign };

// Whether `path` is a folder only this user can change. The folder is opened without following a
// link and examined through the open descriptor, so that nobody can swap it between the check and
// the narrowing of its mode. A folder of the user's own that others may only read or enter is
// narrowed to 0700 when `narrow` is set; one that others could write to may already hold their
// lock or socket, and is never taken.
Candidate Examine(const QString& path, bool narrow) {
  const int folder =
      ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    return Candidate::kForeign;
  }
  struct stat status {};
  Candidate result = Candidate::kForeign;
  if (::fstat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
      (status.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
    const mode_t mode = status.st_mode & 07777;
    if (mode == kPrivateMode) {
      result = Candidate::kPrivate;
    } else if (narrow && ::fchmod(folder, kPrivateMode) == 0) {
      result = Candidate::kPrivate;
    }
  }
  ::close(folder);
  return result;
}

// The user's own private folders "PREFIX-XXXXXX" in `temporary`, first by name, or empty.
QString FindPrivateFolder(const QString& temporary, const QString& prefix) {
  const QStringList names = QDir(temporary).entryList(
      {prefix + QStringLiteral("-*")}, QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
  for (const QString& name : names) {
    const QString path = temporary + QLatin1Char('/') + name;
    if (Examine(path, false) == Candidate::kPrivate) {
      return path;
    }
  }
  return QString();
}

InstanceFolderChoice ChooseTemporaryFolder(const QString& runtimeNote) {
  // Qt gives the canonical path of TMPDIR, which is empty when TMPDIR names nothing; the folder
  // must then not become one at the root of the file system.
  const QString temporary = QDir::tempPath();
  if (temporary.isEmpty() || !QDir::isAbsolutePath(temporary)) {
    return Failure(qEnvironmentVariable("TMPDIR"), ErrorText(ENOENT));
  }
  const QString prefix = QStringLiteral("tarvelo-%1").arg(::getuid());
  const QString usual = temporary + QLatin1Char('/') + prefix;
  // mkdir never follows a link in the last component, and a name already taken is examined
  // below whatever it is.
  if (::mkdir(QFile::encodeName(usual).constData(), kPrivateMode) != 0 && errno != EEXIST) {
    return Failure(usual, ErrorText(errno));
  }
  InstanceFolderChoice choice;
  if (Examine(usual, true) == Candidate::kPrivate) {
    choice.path = usual;
    choice.note = runtimeNote;
    return choice;
  }
  // Another user (or a mistake) holds the usual name. A private folder of a unique name is
  // used instead; an earlier start that met the same obstacle made one, which this start must
  // share to find the running instance.
  QString path = FindPrivateFolder(temporary, prefix);
  if (path.isEmpty()) {
    QByteArray pattern = QFile::encodeName(usual + QStringLiteral("-XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr) {
      return Failure(usual, ErrorText(errno));
    }
    path = QFile::decodeName(pattern);
  }
  choice.path = path;
  choice.note =
      QStringLiteral("%1 is not a private folder of this user; using %2 instead").arg(usual, path);
  if (!runtimeNote.isEmpty()) {
    choice.note = runtimeNote + QStringLiteral("; ") + choice.note;
  }
  return choice;
}

}  // namespace

InstanceFolderChoice ChooseInstanceFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) {
    return ChooseTemporaryFolder(QString());
  }
  const QByteArray encoded = QFile::encodeName(runtime);
  struct stat status {};
  if (::stat(encoded.constData(), &status) != 0) {
    if (errno == ENOENT) {
      // A stale value (a session that has ended) names nothing; the user has no runtime folder.
      return ChooseTemporaryFolder(
          QStringLiteral("XDG_RUNTIME_DIR %1 does not exist").arg(runtime));
    }
    return Failure(runtime, ErrorText(errno));
  }
  if (!S_ISDIR(status.st_mode)) {
    return Failure(runtime, ErrorText(ENOTDIR));
  }
  // The lock and the socket are created in it; the effective identity decides, as it will then.
  if (::faccessat(AT_FDCWD, encoded.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
    return Failure(runtime, ErrorText(errno));
  }
  InstanceFolderChoice choice;
  choice.path = runtime;
  return choice;
}
