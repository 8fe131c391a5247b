#include "DesktopSession.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <stdexcept>

#include "TemporaryDirectory.h"

// Xlib last: its macros (None, Bool, Status, ...) would otherwise clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace testsupport {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// A window may go away between listing it and reading its properties; the request then fails
// with BadWindow, which must not end the test (Xlib's default handler exits the process).
int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

// openbox without a session manager, with one desktop and new windows focused and placed where
// they overlap least: the way a user's plain desktop behaves.
const char* const kOpenboxConfiguration = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
</openbox_config>
)";

void MakeFolder(const std::string& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create " + path);
  }
  ::chmod(path.c_str(), mode);
}

bool Ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// A property of a window as raw items; empty when the window or property is missing.
std::vector<unsigned long> ListProperty(::Display* connection, Window window, Atom property,
                                        Atom type) {
  Atom actualType = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(connection, window, property, 0, 4096, False, type, &actualType, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    const auto* values = reinterpret_cast<const unsigned long*>(data);
    items.assign(values, values + count);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return items;
}

std::string TextProperty(::Display* connection, Window window, Atom property, Atom type) {
  Atom actualType = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(connection, window, property, 0, 4096, False, type, &actualType, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && format == 8) {
    text.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return text;
}

}  // namespace

DesktopSession::DesktopSession(const LabNetwork& lab, const std::string& folder)
    : lab_(lab), folder_(folder), configHome_(folder + "/config") {
  const std::string runtime = folder_ + "/runtime";
  MakeFolder(folder_ + "/home", 0755);
  // The runtime folder must be the user's alone, or GLib and Qt refuse it.
  MakeFolder(runtime, 0700);
  MakeFolder(configHome_, 0755);
  MakeFolder(folder_ + "/data", 0755);
  MakeFolder(folder_ + "/cache", 0755);
  busAddress_ = "unix:path=" + runtime + "/bus";
  try {
    StartXServer();
    environment_ = {
        "DISPLAY=" + display_,
        "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
        "HOME=" + folder_ + "/home",
        "XDG_RUNTIME_DIR=" + runtime,
        "XDG_CONFIG_HOME=" + configHome_,
        "XDG_DATA_HOME=" + folder_ + "/data",
        "XDG_CACHE_HOME=" + folder_ + "/cache",
        "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
        "LANG=C.UTF-8",
        "LC_ALL=C.UTF-8",
        // No accessibility bus: it would add a second bus daemon and slow every start.
        "NO_AT_BRIDGE=1",
    };
    StartBus();
    StartWindowManager();
  } catch (...) {
    if (connection_ != nullptr) {
      XCloseDisplay(connection_);
    }
    EndNamespaceProcesses(lab_.EngineNamespace());
    for (const pid_t pid : children_) {
      WaitForChild(pid, std::chrono::seconds(5));
    }
    throw;
  }
}

DesktopSession::~DesktopSession() {
  if (connection_ != nullptr) {
    XCloseDisplay(connection_);
  }
  EndNamespaceProcesses(lab_.EngineNamespace());
  for (const pid_t pid : children_) {
    WaitForChild(pid, std::chrono::seconds(5));
  }
}

pid_t DesktopSession::Start(const std::vector<std::string>& argv, const std::string& logName) {
  return Start(argv, environment_, logName);
}

pid_t DesktopSession::Start(const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment,
                            const std::string& logName) {
  const pid_t pid =
      StartInNamespace(lab_, lab_.EngineNamespace(), argv, environment, folder_ + "/" + logName);
  children_.push_back(pid);
  return pid;
}

CommandResult DesktopSession::Run(const std::vector<std::string>& argv,
                                  std::chrono::milliseconds timeout) {
  return RunInNamespace(lab_, lab_.EngineNamespace(), argv, environment_, timeout,
                        folder_ + "/commands.log");
}

bool DesktopSession::Running(pid_t pid) const { return !Ended(pid); }

std::string DesktopSession::WaitForLine(const std::string& path, pid_t pid, const char* what) {
  std::string line;
  const bool ready = WaitUntil(
      [&] {
        const std::string text = ReadFile(path);
        const std::size_t end = text.find('\n');
        if (end != std::string::npos) {
          line = text.substr(0, end);
          return true;
        }
        return Ended(pid);
      },
      kStartTimeout);
  if (!ready || line.empty()) {
    throw std::runtime_error(std::string(what) + " did not start; see the logs in " + folder_);
  }
  return line;
}

void DesktopSession::StartXServer() {
  // Xvfb picks a free display number itself and writes it once it accepts clients. Its socket
  // file is on the machine's file system, its abstract socket in the engine namespace.
  const std::string numberFile = folder_ + "/display";
  const pid_t pid =
      StartInNamespace(lab_, lab_.EngineNamespace(),
                       {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24"},
                       {"PATH=/usr/bin:/bin"}, folder_ + "/xvfb.log", numberFile);
  children_.push_back(pid);
  display_ = ":" + WaitForLine(numberFile, pid, "Xvfb");
  XSetErrorHandler(&IgnoreXError);
  const LabNetwork::Scope inside(lab_, lab_.EngineNamespace());
  connection_ = XOpenDisplay(display_.c_str());
  if (connection_ == nullptr) {
    throw std::runtime_error("cannot open display " + display_);
  }
}

void DesktopSession::StartBus() {
  // The bus daemon hands its own environment (display, folders) to every service it starts.
  const std::string addressFile = folder_ + "/bus-address";
  const pid_t pid = StartInNamespace(
      lab_, lab_.EngineNamespace(),
      {"dbus-daemon", "--session", "--nofork", "--address=" + busAddress_, "--print-address=1"},
      environment_, folder_ + "/dbus.log", addressFile);
  children_.push_back(pid);
  WaitForLine(addressFile, pid, "the session bus");
}

void DesktopSession::StartWindowManager() {
  const std::string configuration = configHome_ + "/openbox/rc.xml";
  MakeFolder(configHome_ + "/openbox", 0755);
  {
    std::ofstream file(configuration, std::ios::trunc);
    file << kOpenboxConfiguration;
    if (!file) {
      throw std::runtime_error("cannot write " + configuration);
    }
  }
  const pid_t pid =
      Start({"openbox", "--sm-disable", "--config-file", configuration}, "openbox.log");
  // An EWMH window manager announces itself on the root window once it manages the screen.
  const Atom check = XInternAtom(connection_, "_NET_SUPPORTING_WM_CHECK", False);
  const bool managing = WaitUntil(
      [&] {
        return Ended(pid) ||
               !ListProperty(connection_, DefaultRootWindow(connection_), check, XA_WINDOW).empty();
      },
      kStartTimeout);
  if (!managing || Ended(pid)) {
    throw std::runtime_error("openbox did not start; see " + folder_ + "/openbox.log");
  }
}

std::vector<ClientWindow> DesktopSession::ClientWindows() {
  const Atom clientList = XInternAtom(connection_, "_NET_CLIENT_LIST", False);
  const Atom wmName = XInternAtom(connection_, "_NET_WM_NAME", False);
  const Atom wmPid = XInternAtom(connection_, "_NET_WM_PID", False);
  const Atom utf8 = XInternAtom(connection_, "UTF8_STRING", False);
  std::vector<ClientWindow> windows;
  for (const unsigned long id :
       ListProperty(connection_, DefaultRootWindow(connection_), clientList, XA_WINDOW)) {
    ClientWindow window;
    window.id = id;
    XClassHint hint{};
    if (XGetClassHint(connection_, id, &hint) != 0) {
      window.instance = hint.res_name != nullptr ? hint.res_name : "";
      window.className = hint.res_class != nullptr ? hint.res_class : "";
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    window.title = TextProperty(connection_, id, wmName, utf8);
    if (window.title.empty()) {
      window.title = TextProperty(connection_, id, XA_WM_NAME, XA_STRING);
    }
    const std::vector<unsigned long> pid = ListProperty(connection_, id, wmPid, XA_CARDINAL);
    window.pid = pid.empty() ? 0 : static_cast<long>(pid.front());
    windows.push_back(std::move(window));
  }
  return windows;
}

void DesktopSession::Watch(unsigned long window) {
  destroyed_.erase(window);
  XWindowAttributes attributes{};
  // Asking for the window's attributes after selecting its events tells whether it still existed
  // when the selection took effect; a window that is gone then sends no DestroyNotify any more.
  XSelectInput(connection_, window, StructureNotifyMask);
  if (XGetWindowAttributes(connection_, window, &attributes) == 0) {
    destroyed_.insert(window);
  }
}

bool DesktopSession::Destroyed(unsigned long window) {
  while (XPending(connection_) > 0) {
    XEvent event{};
    XNextEvent(connection_, &event);
    if (event.type == DestroyNotify) {
      destroyed_.insert(event.xdestroywindow.window);
    }
  }
  return destroyed_.count(window) > 0;
}

std::optional<WindowPlace> DesktopSession::Place(unsigned long window) {
  Window root = 0;
  int x = 0;
  int y = 0;
  unsigned int width = 0;
  unsigned int height = 0;
  unsigned int border = 0;
  unsigned int depth = 0;
  if (XGetGeometry(connection_, window, &root, &x, &y, &width, &height, &border, &depth) == 0) {
    return std::nullopt;
  }
  Window child = 0;
  if (XTranslateCoordinates(connection_, window, root, 0, 0, &x, &y, &child) == 0) {
    return std::nullopt;
  }
  return WindowPlace{x, y, static_cast<int>(width), static_cast<int>(height)};
}

std::vector<std::string> DesktopSession::AtomNames(unsigned long window,
                                                   const std::string& property) {
  const Atom name = XInternAtom(connection_, property.c_str(), False);
  std::vector<std::string> names;
  for (const unsigned long atom : ListProperty(connection_, window, name, XA_ATOM)) {
    if (char* text = XGetAtomName(connection_, atom)) {
      names.emplace_back(text);
      XFree(text);
    }
  }
  return names;
}

void DesktopSession::AddWindowStates(unsigned long window, const std::string& first,
                                     const std::string& second) {
  constexpr long kAdd = 1;
  constexpr long kFromApplication = 1;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(connection_, "_NET_WM_STATE", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = kAdd;
  event.xclient.data.l[1] = static_cast<long>(XInternAtom(connection_, first.c_str(), False));
  event.xclient.data.l[2] = static_cast<long>(XInternAtom(connection_, second.c_str(), False));
  event.xclient.data.l[3] = kFromApplication;
  XSendEvent(connection_, DefaultRootWindow(connection_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(connection_);
}

ScreenPixels DesktopSession::Grab() { return Grab({0, 0, kScreenWidth, kScreenHeight}); }

ScreenPixels DesktopSession::Grab(const WindowPlace& area) {
  ScreenPixels screen;
  XImage* image = XGetImage(connection_, DefaultRootWindow(connection_), area.x, area.y,
                            static_cast<unsigned>(area.width), static_cast<unsigned>(area.height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) {
    return screen;
  }
  screen.width = image->width;
  screen.height = image->height;
  screen.pixels.reserve(static_cast<std::size_t>(screen.width) *
                        static_cast<std::size_t>(screen.height));
  for (int y = 0; y < screen.height; ++y) {
    for (int x = 0; x < screen.width; ++x) {
      // The server's 24-bit visual keeps red, green and blue in the low three bytes.
      screen.pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y) & 0xffffff));
    }
  }
  XDestroyImage(image);
  return screen;
}

}  // namespace testsupport
