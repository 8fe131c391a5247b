#include "app/StorageAccess.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include <QFile>
#include <QProcess>

namespace {

// How long the user-interface thread waits for `gio mount -l` before it gives up on the
// listing. The GVFS daemon answers locally; it never has to reach the device for this.
constexpr int kGvfsListTimeoutMs = 3000;
// The pause after each started command, so that the commands do not all start at once.
constexpr std::chrono::milliseconds kCommandPause{100};

std::atomic<StorageSystem*> installedSystem{nullptr};

// An empty address would match every mount and window; a "My Storage" without an address must
// not drop every share of the machine.
bool ContainsAddress(const QString& text, const QString& address) {
  return !address.isEmpty() && text.contains(address, Qt::CaseSensitive);
}

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

QString StorageSystem::MountInfoPath() { return QStringLiteral("/proc/self/mountinfo"); }

std::optional<QByteArray> StorageSystem::ListGvfsMounts() {
  QProcess process;
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start(QStringLiteral("gio"), {QStringLiteral("mount"), QStringLiteral("-l")});
  if (!process.waitForFinished(kGvfsListTimeoutMs)) {
    // Either gio is not installed or it hangs; a hung listing is stopped so that no process is
    // left behind.
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished();
    }
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    return std::nullopt;
  }
  return process.readAllStandardOutput();
}

bool StorageSystem::StartDetached(const QStringList& argv) {
  if (argv.isEmpty() || argv.first().isEmpty()) {
    return false;
  }
  // QProcess hands the arguments to exec one by one, so no shell ever sees them, and it starts
  // a detached program through an intermediate child that it reaps at once: the program itself
  // is adopted by init, and nothing is left for this process to wait for.
  QProcess process;
  process.setProgram(argv.first());
  process.setArguments(argv.mid(1));
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  return process.startDetached();
}

void StorageSystem::Pause(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

void StorageSystem::OpenLocation(const QString& location) {
  // xdg-open is what the desktop services of Qt start for a location on X11 as well; starting it
  // directly works on every platform plugin (the offscreen one opens nothing) and touches no
  // GUI state from the worker thread.
  StartDetached({QStringLiteral("xdg-open"), location});
}

StorageSystem& CurrentStorageSystem() {
  if (StorageSystem* installed = installedSystem.load()) {
    return *installed;
  }
  // Never destroyed: an opening thread may still use it while the process exits.
  static StorageSystem* const real = new StorageSystem;
  return *real;
}

void SetStorageSystem(StorageSystem* system) { installedSystem.store(system); }

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

QStringList ParseGvfsMountLocations(const QByteArray& text) {
  // Mounts are listed on their own at the top level and indented below their volume, always as
  // "Mount(N): NAME -> LOCATION". The location is a URI and holds no spaces, so the last arrow
  // separates it even when the name contains one.
  static const QString kArrow = QStringLiteral(" -> ");
  QStringList locations;
  for (const QByteArray& rawLine : text.split('\n')) {
    const QString line = QString::fromLocal8Bit(rawLine).trimmed();
    const qsizetype arrow = line.lastIndexOf(kArrow);
    if (!line.startsWith(QStringLiteral("Mount(")) || arrow < 0) {
      continue;
    }
    const QString location = line.mid(arrow + kArrow.size()).trimmed();
    if (!location.isEmpty()) {
      locations.append(location);
    }
  }
  return locations;
}

QString ServerLocation(const QString& address) {
  return QStringLiteral("smb://") + address + QStringLiteral("/");
}

bool IsFileManagerWindowOf(const std::string& instanceName, const std::string& className,
                           const std::string& title, const std::string& address) {
  static const char* const kFileManagers[] = {
      "nautilus", "org.gnome.Nautilus", "dolphin", "thunar", "nemo", "caja",
      "pcmanfm",  "pcmanfm-qt"};
  if (address.empty()) {
    return false;
  }
  const bool known =
      std::any_of(std::begin(kFileManagers), std::end(kFileManagers),
                  [&](const char* name) { return instanceName == name || className == name; });
  if (!known) {
    return false;
  }
  return title.find("\\\\" + address) != std::string::npos ||
         title.find("smb://" + address) != std::string::npos;
}

int CloseExplorerWindows(const QString& address) {
  if (address.isEmpty()) {
    return 0;
  }
  return CurrentStorageSystem().CloseFileManagerWindows(address);
}

bool DeleteConnections(const QString& address) {
  const std::optional<QByteArray> listing = CurrentStorageSystem().ListGvfsMounts();
  if (!listing) {
    return false;
  }
  for (const QString& location : ParseGvfsMountLocations(*listing)) {
    if (ContainsAddress(location, address)) {
      RunHiddenCommand(
          {QStringLiteral("gio"), QStringLiteral("mount"), QStringLiteral("-u"), location});
    }
  }
  return true;
}

std::vector<MappedDrive> CollectMappedDrives(const QString& address) {
  std::vector<MappedDrive> drives;
  QFile file(CurrentStorageSystem().MountInfoPath());
  if (!file.open(QIODevice::ReadOnly)) {
    return drives;
  }
  // The kernel lists mounts in the order they were made; mount identifiers are reused and say
  // nothing about age. Walking the list backwards visits the newest mount first.
  const std::vector<MountInfoEntry> entries = ParseMountInfo(file.readAll());
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const bool share =
        entry->fsType == QStringLiteral("cifs") || entry->fsType == QStringLiteral("smb3");
    if (share && ContainsAddress(entry->source, address)) {
      MappedDrive drive;
      drive.localName = entry->mountPoint;
      drive.remoteName = entry->source;
      drives.push_back(std::move(drive));
    }
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

void RunHiddenCommand(const QStringList& argv) {
  StorageSystem& system = CurrentStorageSystem();
  // A command that cannot be started changes nothing worth telling the user about.
  system.StartDetached(argv);
  system.Pause(kCommandPause);
}

StorageAccess& StorageAccess::Instance() {
  static StorageAccess* const instance = new StorageAccess;
  return *instance;
}

void StorageAccess::OpenServerInExplorer(const QString& address) {
  StorageSystem* const system = &CurrentStorageSystem();
  std::lock_guard<std::mutex> guard(lock);
  targetPath = ServerLocation(address);
  {
    std::lock_guard<std::mutex> running(runningLock);
    ++runningThreads;
  }
  const auto finished = [this] {
    std::lock_guard<std::mutex> running(runningLock);
    --runningThreads;
    runningChanged.notify_all();
  };
  try {
    // The thread gets its own copy of the location, so a later click can change targetPath
    // while it runs.
    std::thread([system, location = targetPath, finished] {
      system->OpenLocation(location);
      finished();
    }).detach();
  } catch (const std::system_error&) {
    // No thread, no file manager: like every failure of this command, not shown to the user.
    finished();
  }
}

bool StorageAccess::WaitForOpeningThreads(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> running(runningLock);
  return runningChanged.wait_for(running, timeout, [this] { return runningThreads == 0; });
}

void OpenStorage(const QString& address) {
  if (address.isEmpty()) {
    return;
  }
  CloseExplorerWindows(address);
  DeleteConnections(address);
  DeleteMappedDrives(address);
  StorageAccess::Instance().OpenServerInExplorer(address);
}

// The window part speaks Xlib. Its headers define macros such as None, Bool and Status that
// clash with Qt's names, so they come last and nothing of Qt follows them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// A window can vanish between listing and reading it; its BadWindow error must not end the
// program, which is what Xlib's default handler does.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

// Reads a whole property of one type; empty when it is missing or of another type or format.
std::string ReadProperty(Display* display, Window window, Atom property, Atom type, int format) {
  Atom actualType = 0;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, property, 0, 0x7fffffffL, False, type, &actualType,
                         &actualFormat, &count, &remaining, &data) == Success &&
      data != nullptr) {
    if (actualType == type && actualFormat == format) {
      // Xlib returns 32-bit items as longs.
      const std::size_t itemSize = format == 32 ? sizeof(long) : format / 8;
      value.assign(reinterpret_cast<const char*>(data), count * itemSize);
    }
    XFree(data);
  }
  return value;
}

std::string WindowTitle(Display* display, Window window) {
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  std::string title = ReadProperty(display, window, netWmName, utf8String, 8);
  if (title.empty()) {
    title = ReadProperty(display, window, XA_WM_NAME, XA_STRING, 8);
  }
  return title;
}

int CloseFileManagerWindowsOnDisplay(const std::string& address) {
  const char* displayName = std::getenv("DISPLAY");
  if (displayName == nullptr || *displayName == '\0') {
    return 0;
  }
  Display* const display = XOpenDisplay(displayName);
  if (display == nullptr) {
    return 0;
  }
  const XErrorHandler previousHandler = XSetErrorHandler(IgnoreXErrors);
  const Window root = DefaultRootWindow(display);
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
  const Atom closeWindow = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
  // The window manager lists the top-level windows it manages; without one that speaks EWMH
  // there is nobody to close them either.
  const std::string list = ReadProperty(display, root, clientList, XA_WINDOW, 32);
  std::vector<Window> windows;
  for (std::size_t at = 0; at + sizeof(long) <= list.size(); at += sizeof(long)) {
    unsigned long id = 0;
    std::memcpy(&id, list.data() + at, sizeof(id));
    windows.push_back(static_cast<Window>(id));
  }
  int closed = 0;
  for (const Window window : windows) {
    XClassHint hint{};
    std::string instanceName;
    std::string className;
    if (XGetClassHint(display, window, &hint) != 0) {
      instanceName = hint.res_name != nullptr ? hint.res_name : "";
      className = hint.res_class != nullptr ? hint.res_class : "";
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    if (!IsFileManagerWindowOf(instanceName, className, WindowTitle(display, window), address)) {
      continue;
    }
    // The request goes to the window manager, which closes the window as if the user had
    // clicked its close button; the answer is not awaited.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = closeWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;  // source: a direct user action
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    ++closed;
  }
  XSync(display, False);
  XSetErrorHandler(previousHandler);
  XCloseDisplay(display);
  return closed;
}

}  // namespace

int StorageSystem::CloseFileManagerWindows(const QString& address) {
  return CloseFileManagerWindowsOnDisplay(address.toUtf8().toStdString());
}
