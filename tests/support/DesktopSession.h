#pragma once

// A private desktop inside a lab's engine namespace, as a user's login would give one: an X
// server (Xvfb), a session bus on which GVFS and the file managers' services are started by D-Bus
// activation, and openbox as the window manager (it closes windows on request and keeps the
// list of client windows). Home, runtime, configuration, data and cache folders are the
// session's own, below the test's folder. Everything runs in the engine namespace, so that the
// programs reach the lab's devices and nothing else; everything still running there is ended
// with the object.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "LabNetwork.h"
#include "NamespaceProcesses.h"

// Xlib's Display, declared here so that its macros stay out of the test's headers.
struct _XDisplay;

namespace testsupport {

// A top-level window as the window manager lists it.
struct ClientWindow {
  unsigned long id = 0;
  std::string instance;   // WM_CLASS, first part (e.g. "pcmanfm")
  std::string className;  // WM_CLASS, second part (e.g. "Pcmanfm")
  std::string title;      // _NET_WM_NAME, else WM_NAME
  long pid = 0;           // _NET_WM_PID, 0 when the window does not say
};

struct WindowPlace {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The screen's pixels, row by row, each 0xRRGGBB.
struct ScreenPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

class DesktopSession {
 public:
  // Creates the session's folders below `folder` (which must exist) and starts the X server, the
  // session bus and the window manager. Throws std::runtime_error when one of them does not come
  // up.
  DesktopSession(const LabNetwork& lab, const std::string& folder);
  // Ends every process of the engine namespace: the session's programs and everything they
  // started (activated services, file managers, launched helpers).
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  const std::string& Display() const { return display_; }
  const std::string& ConfigHome() const { return configHome_; }
  const std::string& BusAddress() const { return busAddress_; }
  // The environment of the session's programs: its display, bus and folders, the system's PATH,
  // English texts.
  const std::vector<std::string>& Environment() const { return environment_; }

  // Starts a program of the session in the background; its output goes to `logName` in the
  // session's folder.
  pid_t Start(const std::vector<std::string>& argv, const std::string& logName);
  // Same, with an environment of its own (usually Environment() plus a few variables).
  pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
              const std::string& logName);
  // Runs a command of the session and returns its standard output.
  CommandResult Run(const std::vector<std::string>& argv,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // True while a program started with Start has not ended.
  bool Running(pid_t pid) const;

  std::vector<ClientWindow> ClientWindows();
  // Starts watching a window for its destruction. An X window's identifier alone cannot tell a
  // window from its successor: the server hands a closed client's identifiers to the next client
  // that connects, so a file manager started right after the last one ended may show its first
  // window under the very identifier of the old one.
  void Watch(unsigned long window);
  // True once a watched window has been destroyed (or was gone when the watch began).
  bool Destroyed(unsigned long window);
  // Where a window lies on the screen, decoration left out; nothing when it is gone.
  std::optional<WindowPlace> Place(unsigned long window);
  // The names of the atoms that a window's property lists (_NET_WM_ALLOWED_ACTIONS,
  // _NET_WM_STATE); empty when the window or the property is missing.
  std::vector<std::string> AtomNames(unsigned long window, const std::string& property);
  // Asks the window manager to add two states to a window's _NET_WM_STATE, with the EWMH client
  // message a desktop's maximise button sends (_NET_WM_STATE_MAXIMIZED_VERT and _HORZ).
  void AddWindowStates(unsigned long window, const std::string& first, const std::string& second);
  // The whole screen, or a part of it (which must lie on the screen).
  ScreenPixels Grab();
  ScreenPixels Grab(const WindowPlace& area);

 private:
  void StartXServer();
  void StartBus();
  void StartWindowManager();
  std::string WaitForLine(const std::string& path, pid_t pid, const char* what);

  const LabNetwork& lab_;
  std::string folder_;
  std::string configHome_;
  std::string display_;
  std::string busAddress_;
  std::vector<std::string> environment_;
  std::vector<pid_t> children_;
  std::set<unsigned long> destroyed_;
  _XDisplay* connection_ = nullptr;
};

}  // namespace testsupport
