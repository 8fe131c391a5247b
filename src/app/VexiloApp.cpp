#include "app/VexiloApp.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>

#include "app/DeviceTable.h"
#include "app/InstanceFolder.h"
#include "app/Messages.h"
#include "app/SkinDeployment.h"
#include "app/StorageAccess.h"
#include "app/VexiloDlg.h"
#include "controls/BasicDialog.h"
#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"

namespace {

MessageBoxHook messageBoxHook = nullptr;

// How long a second start waits for the running window to take its command.
constexpr int kBringToFrontWaitMs = 2000;
// The most a connection may send before its line ends: the command, a space, the longest token
// and the line end, with room to spare. A longer line is never read.
constexpr qint64 kBringToFrontLineLimit = 512;
// How long the exit waits for each search worker's receive thread to end.
constexpr auto kWorkerExitWait = std::chrono::seconds(5);
// How long the exit waits for a My Storage sequence still talking to GVFS or the file manager
// over the session bus, whose connection ends with the application.
constexpr auto kStorageExitWait = std::chrono::seconds(5);

QString ErrorTextOf(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString ServerPath(const QString& folder) {
  return folder + QLatin1Char('/') + QString::fromLatin1(kProductTitle);
}

QByteArray ValidTokenOrNothing(const char* name) {
  const QByteArray token = qgetenv(name);
  return IsValidActivationToken(token) ? token : QByteArray();
}

void ShowMessage(const QString& caption, const QString& text) {
  if (messageBoxHook != nullptr) {
    messageBoxHook(caption, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

QString DeployFailureMessage(int languageCode) {
  switch (languageCode) {
    case 2:
      return QStringLiteral("创建配置文件失败!");
    case 3:
      return QStringLiteral("創建配置文件失敗!");
    case 4:
      return QStringLiteral("設定ファイルの作成に失敗しました!");
    case 5:
      return QStringLiteral("Erstellung Konfigurationsdatei fehlgeschlagen!");
    case 6:
      return QStringLiteral("La création du fichier de configuration a échoué!");
    case 9:
      return QStringLiteral("Falha ao criar ficheiro config!");
    case 10:
      return QStringLiteral("Error al crear el archivo de configuración!");
    case 11:
      return QStringLiteral("Impossibile creare il file di configurazione!");
    default:
      return QStringLiteral("Failed to create the configuration file!");
  }
}

void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook = hook; }

bool IsValidActivationToken(const QByteArray& token) {
  return !token.isEmpty() && token.size() <= kActivationTokenMaxLength &&
         std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

const ActivationTokens& LaunchActivationTokens() {
  static const ActivationTokens tokens{ValidTokenOrNothing("XDG_ACTIVATION_TOKEN"),
                                       ValidTokenOrNothing("DESKTOP_STARTUP_ID")};
  return tokens;
}

void ForgetActivationTokens() {
  qunsetenv("XDG_ACTIVATION_TOKEN");
  qunsetenv("DESKTOP_STARTUP_ID");
}

QByteArray BringToFrontLine(const QByteArray& token) {
  QByteArray line = QByteArray::number(kBringToFrontCommand);
  if (!token.isEmpty()) {
    line += ' ' + token;
  }
  return line + '\n';
}

std::optional<QByteArray> ParseBringToFrontLine(const QByteArray& line) {
  const QByteArray text = line.trimmed();
  const qsizetype space = text.indexOf(' ');
  if ((space < 0 ? text : text.left(space)) != QByteArray::number(kBringToFrontCommand)) {
    return std::nullopt;
  }
  const QByteArray token = space < 0 ? QByteArray() : text.mid(space + 1).trimmed();
  return IsValidActivationToken(token) ? token : QByteArray();
}

bool SendBringToFront(const QString& folder, const QByteArray& token) {
  QLocalSocket socket;
  socket.connectToServer(ServerPath(folder));
  if (!socket.waitForConnected(kBringToFrontWaitMs)) {
    return false;
  }
  socket.write(BringToFrontLine(token));
  const bool written = socket.waitForBytesWritten(kBringToFrontWaitMs);
  socket.disconnectFromServer();
  return written;
}

std::unique_ptr<QLocalServer> ListenForBringToFront(
    const QString& folder, const std::function<void(const QByteArray& token)>& onCommand) {
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  // A socket file left by a crashed instance is in the way; this instance holds the lock.
  QLocalServer::removeServer(ServerPath(folder));
  if (!server->listen(ServerPath(folder))) {
    return nullptr;
  }
  QLocalServer* raw = server.get();
  QObject::connect(raw, &QLocalServer::newConnection, raw, [raw, onCommand] {
    while (QLocalSocket* socket = raw->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, onCommand] {
        while (socket->canReadLine()) {
          if (const std::optional<QByteArray> token = ParseBringToFrontLine(socket->readLine())) {
            onCommand(*token);
          }
        }
        // A line that does not end within the limit is no command; the connection goes.
        if (socket->bytesAvailable() > kBringToFrontLineLimit) {
          socket->abort();
        }
      });
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return server;
}

CVexiloApp::CVexiloApp(std::string logFile) : logFile_(std::move(logFile)) {}

CVexiloApp::~CVexiloApp() = default;

CVexiloApp::InstanceLock CVexiloApp::TakeInstanceLock() {
  const InstanceFolderChoice folder = ChooseInstanceFolder();
  if (folder.path.isEmpty()) {
    ReportUnusableFolder(folder.failedFolder, folder.reason);
    return InstanceLock::kFailed;
  }
  instanceFolder_ = folder.path;
  instanceFolderNote_ = folder.note;
  if (!instanceFolderNote_.isEmpty()) {
    std::fprintf(stderr, "tarvelo: %s\n", instanceFolderNote_.toLocal8Bit().constData());
  }
  instanceMutex = std::make_unique<QLockFile>(instanceFolder_ + QStringLiteral("/Tarvelo.lock"));
  // A lock is stale only when its process has gone, never by its age.
  instanceMutex->setStaleLockTime(0);
  if (instanceMutex->tryLock(0)) {
    return InstanceLock::kTaken;
  }
  const QLockFile::LockError error = instanceMutex->error();
  instanceMutex.reset();
  if (error == QLockFile::LockFailedError) {
    // The token of this start lets the running window come to the front; passed on, it must not
    // stay in the environment of this process.
    const ActivationTokens& tokens = LaunchActivationTokens();
    ForgetActivationTokens();
    SendBringToFront(instanceFolder_, tokens.wayland.isEmpty() ? tokens.x11 : tokens.wayland);
    return InstanceLock::kOtherInstance;
  }
  // The folder was usable a moment ago, or the lock file in it is not this user's to open.
  ReportUnusableFolder(instanceFolder_, error == QLockFile::PermissionError
                                            ? ErrorTextOf(EACCES)
                                            : QStringLiteral("the lock file cannot be created"));
  return InstanceLock::kFailed;
}

void CVexiloApp::ReportUnusableFolder(const QString& folder, const QString& reason) {
  const QString message = RuntimeFolderFailureMessage(GetDisplayLanguageCode(), folder, reason);
  // Standard error first: a start from a launcher may have no one to read the box, but a journal.
  std::fprintf(stderr, "tarvelo: %s\n", message.toLocal8Bit().constData());
  ShowMessage(QString::fromLatin1(kProductTitle), message);
  exitStatus_ = 1;
}

bool CVexiloApp::InitInstance() {
  if (TakeInstanceLock() != InstanceLock::kTaken) {
    return false;
  }
  if (!DeploySkinFiles()) {
    // In the language of the window the user would have seen: Hong Kong and Macao read the
    // traditional script.
    ShowMessage(QString::fromLatin1(kProductTitle), DeployFailureMessage(GetDisplayLanguageCode()));
    exitStatus_ = 1;
    return false;
  }
  InitDiscovery();
  if (!instanceFolderNote_.isEmpty()) {
    WriteLog("%s", instanceFolderNote_.toLocal8Bit().constData());
  }
  CVexiloDlg dialog;
  const std::unique_ptr<QLocalServer> server = ListenForBringToFront(
      instanceFolder_, [&dialog](const QByteArray& token) { dialog.OnBringToFront(token); });
  // Qt's X11 platform has ended an announced start with the window's first showing; Qt's Wayland
  // platform does not activate a new window with the compositor's token, so the window asks for
  // it once shown. Neither token stays for the programs that the window starts.
  QTimer::singleShot(0, &dialog, [&dialog] {
    const QByteArray token = LaunchActivationTokens().wayland;
    if (!token.isEmpty() && IsWaylandPlatform()) {
      dialog.OnBringToFront(token);
    }
    ForgetActivationTokens();
  });
  dialog.DoModal();
  return false;
}

int CVexiloApp::ExitStatus() const { return exitStatus_; }

int CVexiloApp::ExitInstance() {
  DeviceTable::Instance();
  SearchDeviceManager& manager = SearchDeviceManager::Instance();
  manager.StopSearch();
  manager.WaitForWorkThreads(kWorkerExitWait);
  StorageAccess::Instance().WaitUntilIdle(kStorageExitWait);
  instanceMutex.reset();
  return exitStatus_;
}

void CVexiloApp::InitDiscovery() {
  DeviceTable::Instance();
  if (logFile_.empty()) {
    SetLogState(false, nullptr);
  } else {
    SetLogState(true, logFile_.c_str());
  }
  SearchDeviceManager::foundCallback.store(&DeviceFoundHandler);
  SearchDeviceManager& manager = SearchDeviceManager::Instance();
  manager.autoRefreshLocalIP = true;
  manager.StartSearch();
  // A network joined or left while the window is open is searched, or its worker ended, at once.
  // The watch only hands the news to this thread, which alone touches the workers.
  manager.WatchLocalAddresses([] {
    if (QCoreApplication* application = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          application, [] { SearchDeviceManager::Instance().OnLocalAddressesChanged(); },
          Qt::QueuedConnection);
    }
  });
}
