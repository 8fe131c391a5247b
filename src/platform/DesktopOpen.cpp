#include "platform/DesktopOpen.h"

#include <unistd.h>

#include <atomic>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include "platform/DetachedProcess.h"
#include "platform/FileManagerWindows.h"
#include "platform/PreferredApplication.h"

namespace {

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// How long xdg-open is given to say that nothing can open the location. It says so within a
// fraction of a second; when it has found an application it may wait for it to end (it does for
// pcmanfm), and the next My Storage waits for this one, so the wait is kept short.
constexpr std::chrono::seconds kLauncherVerdictWait{3};
// Starting a file manager on demand takes a moment on a cold start.
constexpr int kShowFoldersTimeoutMs = 25000;

// Messages of xdg-open's exit statuses.
QString LauncherFailure(const CommandOutcome& outcome) {
  if (!outcome.started) {
    return QStringLiteral("xdg-open could not be started: ") +
           QString::fromStdString(outcome.startError);
  }
  QString reason;
  switch (outcome.exitStatus) {
    case 2:
      reason = QStringLiteral("the location does not exist");
      break;
    case 3:
      reason = QStringLiteral("no application is set up to open it");
      break;
    case 4:
      reason = QStringLiteral("the application failed");
      break;
    default:
      reason = QStringLiteral("exit status %1").arg(outcome.exitStatus);
      break;
  }
  const QString output = QString::fromLocal8Bit(outcome.errorOutput).trimmed();
  return QStringLiteral("xdg-open: ") + reason +
         (output.isEmpty() ? QString() : QStringLiteral(" (") + output + QLatin1Char(')'));
}

// The folders the session bus reads service files from, as D-Bus documents them
// for a session bus.
QStringList ServiceFolders() {
  QStringList folders;
  QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.isEmpty()) {
    dataHome = QDir::homePath() + QStringLiteral("/.local/share");
  }
  folders << dataHome;
  QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dataDirs.isEmpty()) {
    dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  }
  folders << dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  for (QString& folder : folders) {
    folder += QStringLiteral("/dbus-1/services");
  }
  return folders;
}

// The Exec program of the first service file that offers NAME.
QString ActivatedProgram(const QString& name) {
  for (const QString& folder : ServiceFolders()) {
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList({QStringLiteral("*.service")}, QDir::Files, QDir::Name)) {
      QFile file(entry.filePath());
      if (!file.open(QIODevice::ReadOnly)) {
        continue;
      }
      QString offered;
      QString program;
      for (const QByteArray& rawLine : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QStringLiteral("Name="))) {
          offered = line.mid(5).trimmed();
        } else if (line.startsWith(QStringLiteral("Exec="))) {
          program = line.mid(5).trimmed().section(QLatin1Char(' '), 0, 0);
        }
      }
      if (offered == name && !program.isEmpty()) {
        return program;
      }
    }
  }
  return {};
}

}  // namespace

QString OpenWithPreferredApplication(const QString& location, const QString& startupId) {
  std::vector<std::string> environment;
  if (!startupId.isEmpty()) {
    environment.push_back("DESKTOP_STARTUP_ID=" + startupId.toStdString());
  }
  const CommandOutcome outcome =
      RunCommand({"xdg-open", location.toStdString()}, kLauncherVerdictWait, environment);
  if (outcome.started && (!outcome.finished || outcome.exitStatus == 0)) {
    return {};
  }
  return LauncherFailure(outcome);
}

QString ShowFolderInFileManager(const QDBusConnection& bus, const QString& folder,
                                const QString& startupId) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      kFileManagerService, QStringLiteral("/org/freedesktop/FileManager1"), kFileManagerService,
      QStringLiteral("ShowFolders"));
  call << QStringList{folder} << startupId;
  const QDBusMessage reply = bus.call(call, QDBus::Block, kShowFoldersTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage) {
    return {};
  }
  return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
}

QString FileManagerServiceProgram(const QDBusConnection& bus) {
  QDBusConnectionInterface* const busInterface = bus.interface();
  if (busInterface == nullptr) {
    return {};
  }
  if (busInterface->isServiceRegistered(kFileManagerService)) {
    const uint pid = busInterface->servicePid(kFileManagerService);
    const QString program =
        pid != 0 ? QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) : QString();
    return program.isEmpty() ? QString() : CanonicalProgram(program);
  }
  const QDBusReply<QStringList> activatable = busInterface->activatableServiceNames();
  if (!activatable.isValid() || !activatable.value().contains(kFileManagerService)) {
    return {};
  }
  const QString program = ActivatedProgram(kFileManagerService);
  return program.isEmpty() ? QString() : CanonicalProgram(program);
}

bool FileManagerServiceIsPreferred(const QDBusConnection& bus) {
  const QString provider = FileManagerServiceProgram(bus);
  if (provider.isEmpty()) {
    return false;
  }
  const QString preferred = QString::fromStdString(PreferredApplicationProgram("inode/directory"));
  return preferred.isEmpty() || CanonicalProgram(preferred) == provider;
}

QString NewStartupId() {
  static std::atomic<unsigned> counter{0};
  const std::optional<unsigned long> time = CurrentXServerTime();
  if (!time) {
    return {};
  }
  return QStringLiteral("tarvelo-%1-%2_TIME%3").arg(::getpid()).arg(++counter).arg(*time);
}

QString CanonicalProgram(const QString& program) {
  const QString path =
      program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
  return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}
