// The real window as a user meets it: the built program on a private Xvfb, inside the network lab
// with simulated devices answering, driven with xdotool. What is checked is what a user sees (the
// pixels of the screen, the tooltips and menus that come up), what the program puts on the
// clipboard (read back with xclip), and what it asks the desktop to do (stub xdg-open, gio and
// umount first on PATH record their arguments instead of acting on this machine).
//
// The program runs only inside the lab's engine namespace, because its engine broadcasts and
// multicasts as soon as the window opens. Xvfb, xdotool and xclip run outside: they reach the
// server through its socket file, and the server listens on no network port.

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QRect>

#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "NasSimulator.h"
#include "TemporaryDirectory.h"
#include "UdpSocket.h"
#include "WindowLooks.h"

// Xlib last: its macros (None, Bool, Status, ...) would otherwise clash with the headers above.
#include <X11/Xlib.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
// The window's layout and the looks of its controls, read alike by the desktop test.
using namespace e2e;

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
// Where the pointer waits between clicks: off the window, so that no button shows its hover look
// and the server's software cursor is not drawn over the window.
constexpr QPoint kParkingSpot(kScreenWidth - 10, kScreenHeight - 10);

// Three devices whose answers come 0.5 s, 2.5 s and 4.5 s after the search, half-way between
// the window's one-second ticks, so that a row shown as soon as its answer arrives (instead of
// at the next tick) is told apart.
constexpr int kDevices = 3;
constexpr const char* kFirstDeviceAddress = "10.231.1.1";
constexpr const char* kNewestDeviceAddress = "10.231.1.3";
constexpr const char* kReplyDelayMs = "500";
constexpr const char* kReplySpreadMs = "6000";

// The address of device INDEX of the simulators here: kFirstDeviceAddress + INDEX.
std::string DeviceAddress(int index) { return "10.231.1." + std::to_string(1 + index); }

// Generous bounds for a slow, shared machine; the polls end as soon as the state is reached.
constexpr auto kWindowTimeout = 30s;
constexpr auto kStateTimeout = 10s;
constexpr auto kExitTimeout = 20s;
constexpr auto kCycleTimeout = 30s;
constexpr auto kCommandTimeout = 15s;
// How close (in time) a change of the rows must come to a change of the countdown to count as
// made by the same tick; the answers arrive 500 ms away from every tick.
constexpr auto kSameTick = 250ms;

// ---------------------------------------------------------------------------------------------
// Programs of the machine.

bool DesktopToolsAvailable() {
  return !testsupport::FindProgram("Xvfb").empty() &&
         !testsupport::FindProgram("xdotool").empty() && !testsupport::FindProgram("xclip").empty();
}

// A test binary whose every test skipped for want of Xvfb, xdotool or xclip reports "skipped" (77)
// to CTest instead of "passed"; the lab's own listener does the same for a run without root.
void ExitAsSkipped() {
  std::fflush(nullptr);
  std::_Exit(77);
}

class SkippedWithoutDesktopTools : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    if (!DesktopToolsAvailable() && unit.skipped_test_count() > 0 &&
        unit.successful_test_count() == 0 && unit.failed_test_count() == 0) {
      std::atexit(&ExitAsSkipped);
    }
  }
};

const bool skippedListenerInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkippedWithoutDesktopTools);
  return true;
}();

std::vector<char*> Pointers(std::vector<std::string>& items) {
  std::vector<char*> pointers;
  pointers.reserve(items.size() + 1);
  for (std::string& item : items) {
    pointers.push_back(item.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

void WriteFile(const std::string& path, const std::string& content, fs::perms permissions) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  file.close();
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
  fs::permissions(path, permissions);
}

// ---------------------------------------------------------------------------------------------
// What is on the screen.

int CountPixels(const QImage& image, QRgb colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      count += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff) ? 1 : 0;
    }
  }
  return count;
}

// Reads the screen that Xvfb keeps in its frame-buffer file (XWD format: a header of 25
// big-endian 32-bit words, the colour map, then the pixels, 32 bits BGRx per pixel).
QImage ReadXwd(const std::string& path) {
  const std::string data = testsupport::ReadFile(path);
  auto word = [&](std::size_t index) -> std::uint32_t {
    if (data.size() < (index + 1) * 4) {
      throw std::runtime_error("short XWD header in " + path);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data()) + index * 4;
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  };
  const std::uint32_t headerSize = word(0);
  const int width = static_cast<int>(word(4));
  const int height = static_cast<int>(word(5));
  const std::uint32_t byteOrder = word(7);
  const std::uint32_t bitsPerPixel = word(11);
  const std::uint32_t bytesPerLine = word(12);
  const std::uint32_t colours = word(19);
  if (bitsPerPixel != 32 || byteOrder != 0 || width <= 0 || height <= 0) {
    throw std::runtime_error("unexpected XWD layout in " + path);
  }
  const std::size_t offset = headerSize + std::size_t{colours} * 12;
  if (data.size() < offset + std::size_t{bytesPerLine} * static_cast<std::size_t>(height)) {
    throw std::runtime_error("short XWD pixel data in " + path);
  }
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    const auto* source = reinterpret_cast<const unsigned char*>(data.data()) + offset +
                         std::size_t{bytesPerLine} * static_cast<std::size_t>(y);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const unsigned char* pixel = source + 4 * x;
      target[x] = qRgb(pixel[2], pixel[1], pixel[0]);
    }
  }
  return image;
}

// A top-level window that the X server shows. A popup (a tooltip, a menu) is override-redirect:
// its program places it, no window manager would.
struct MappedWindow {
  unsigned long id = 0;
  QRect place;
  bool overrideRedirect = false;
};

// A window may go away between listing it and reading its attributes; the request then fails
// with BadWindow, which must not end the test (Xlib's default handler exits the process).
int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

// A private X server: its own display number, no TCP, the screen in a file.
class VirtualScreen {
 public:
  explicit VirtualScreen(const std::string& folder) : folder_(folder) {
    const std::string xvfb = testsupport::FindProgram("Xvfb");
    // A number from the process id keeps parallel runs apart; a number that is taken makes Xvfb
    // end at once, and the next is tried.
    const int first = 200 + static_cast<int>(::getpid() % 600);
    for (int attempt = 0; attempt < 20 && pid_ < 0; ++attempt) {
      TryStart(xvfb, first + attempt);
    }
    if (pid_ < 0) {
      throw std::runtime_error("Xvfb did not start; see " + folder_ + "/xvfb.log");
    }
    xdotool_ = testsupport::FindProgram("xdotool");
    xclip_ = testsupport::FindProgram("xclip");
  }

  ~VirtualScreen() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      const auto deadline = Clock::now() + 5s;
      int status = 0;
      while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
    }
  }

  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;

  const std::string& DisplayName() const { return display_; }

  // The whole screen. Reads until two reads in a row agree, so that no half-drawn frame is taken.
  QImage Grab() const {
    QImage previous = ReadXwd(frameBuffer_);
    for (int attempt = 0; attempt < 10; ++attempt) {
      std::this_thread::sleep_for(15ms);
      QImage current = ReadXwd(frameBuffer_);
      if (current == previous) {
        return current;
      }
      previous = std::move(current);
    }
    return previous;
  }

  testsupport::CommandResult XDoTool(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{xdotool_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::RunCommand(argv, {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"},
                                   kCommandTimeout);
  }

  // The visible top-level windows with this exact title.
  std::vector<std::string> VisibleWindows(const std::string& title) const {
    return testsupport::SplitLines(
        XDoTool({"search", "--onlyvisible", "--name", "^" + title + "$"}).output);
  }

  std::optional<QRect> Geometry(const std::string& window) const {
    const testsupport::CommandResult result = XDoTool({"getwindowgeometry", "--shell", window});
    if (result.status != 0) {
      return std::nullopt;
    }
    int values[4] = {-1, -1, -1, -1};
    const char* const keys[4] = {"X=", "Y=", "WIDTH=", "HEIGHT="};
    for (const std::string& line : testsupport::SplitLines(result.output)) {
      for (int i = 0; i < 4; ++i) {
        if (line.rfind(keys[i], 0) == 0) {
          values[i] = std::atoi(line.c_str() + std::strlen(keys[i]));
        }
      }
    }
    return QRect(values[0], values[1], values[2], values[3]);
  }

  // Clicks `count` times with a mouse button (1 left, 3 right) at a point of the screen.
  void Click(QPoint at, int count = 1, int button = 1) const {
    std::vector<std::string> arguments{"mousemove", std::to_string(at.x()), std::to_string(at.y()),
                                       "click"};
    if (count > 1) {
      arguments.insert(arguments.end(), {"--repeat", std::to_string(count), "--delay", "80"});
    }
    arguments.push_back(std::to_string(button));
    ASSERT_EQ(XDoTool(arguments).status, 0);
  }

  void MovePointer(QPoint at) const {
    ASSERT_EQ(XDoTool({"mousemove", std::to_string(at.x()), std::to_string(at.y())}).status, 0);
  }

  // The text an X selection ("clipboard", "primary") holds, as a program that pastes gets it;
  // empty when nobody holds it.
  std::string Selection(const std::string& name) const {
    const testsupport::CommandResult result =
        testsupport::RunCommand({xclip_, "-selection", name, "-o"},
                                {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"}, kCommandTimeout);
    return result.status == 0 ? result.output : std::string();
  }

  // The top-level windows that are mapped, bottom to top.
  std::vector<MappedWindow> MappedWindows() const {
    std::vector<MappedWindow> windows;
    ::Display* connection = XOpenDisplay(display_.c_str());
    if (connection == nullptr) {
      return windows;
    }
    XSetErrorHandler(&IgnoreXError);
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count) !=
        0) {
      for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(connection, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable) {
          windows.push_back(MappedWindow{
              children[i], QRect(attributes.x, attributes.y, attributes.width, attributes.height),
              attributes.override_redirect != 0});
        }
      }
      XFree(children);
    }
    XCloseDisplay(connection);
    return windows;
  }

  void ParkPointer() const {
    ASSERT_EQ(
        XDoTool({"mousemove", std::to_string(kParkingSpot.x()), std::to_string(kParkingSpot.y())})
            .status,
        0);
  }

 private:
  void TryStart(const std::string& xvfb, int number) {
    const std::string display = ":" + std::to_string(number);
    const std::string frameFolder = folder_ + "/fb" + std::to_string(number);
    fs::create_directories(frameFolder);
    // Xvfb writes the display number to this pipe once it accepts clients.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    constexpr int kReadyDescriptor = 3;
    int writeEnd = pipeEnds[1];
    if (writeEnd == kReadyDescriptor) {
      // dup2 onto itself would keep the close-on-exec flag.
      writeEnd = ::fcntl(pipeEnds[1], F_DUPFD_CLOEXEC, 10);
      ::close(pipeEnds[1]);
    }
    std::vector<std::string> argv{
        xvfb,
        display,
        "-nolisten",
        "tcp",
        "-screen",
        "0",
        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
        "-fbdir",
        frameFolder,
        "-displayfd",
        std::to_string(kReadyDescriptor)};
    // The server keeps its state, the pointer's place above all, when its last client leaves
    // (xdotool parking the pointer before the program has connected); by default it would reset.
    argv.push_back("-noreset");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string log = folder_ + "/xvfb.log";
    ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd, kReadyDescriptor);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kReadyDescriptor + 1);
    const std::vector<char*> arguments = Pointers(argv);
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(writeEnd);
    if (error != 0) {
      ::close(pipeEnds[0]);
      throw std::runtime_error("cannot start Xvfb: " + std::string(std::strerror(error)));
    }
    std::string answer;
    const auto deadline = Clock::now() + kWindowTimeout;
    while (answer.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd entry{pipeEnds[0], POLLIN, 0};
      if (::poll(&entry, 1, 100) <= 0) {
        continue;
      }
      char buffer[32];
      const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
      if (count <= 0) {
        break;  // Xvfb ended: the display is taken
      }
      answer.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(pipeEnds[0]);
    if (answer.find('\n') == std::string::npos) {
      ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      return;
    }
    pid_ = pid;
    display_ = display;
    frameBuffer_ = frameFolder + "/Xvfb_screen0";
  }

  std::string folder_;
  std::string xdotool_;
  std::string xclip_;
  std::string display_;
  std::string frameBuffer_;
  pid_t pid_ = -1;
};

// A plain X window of one colour laid over an area, as another program's window would be.
class CoveringWindow {
 public:
  CoveringWindow(const std::string& display, const QRect& area, unsigned long rgb) {
    connection_ = XOpenDisplay(display.c_str());
    if (connection_ == nullptr) {
      throw std::runtime_error("cannot open display " + display);
    }
    const int screen = DefaultScreen(connection_);
    window_ = XCreateSimpleWindow(connection_, RootWindow(connection_, screen), area.x(), area.y(),
                                  static_cast<unsigned>(area.width()),
                                  static_cast<unsigned>(area.height()), 0, 0, rgb);
    XMapRaised(connection_, window_);
    XSync(connection_, 0);
  }
  ~CoveringWindow() {
    XDestroyWindow(connection_, window_);
    XCloseDisplay(connection_);
  }
  CoveringWindow(const CoveringWindow&) = delete;
  CoveringWindow& operator=(const CoveringWindow&) = delete;

 private:
  ::Display* connection_ = nullptr;
  ::Window window_ = 0;
};

// Sets the file system's immutable flag on a file for the object's life: even root cannot write
// the file then. Not every file system has the flag.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::string& path) : path_(path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      set_ = ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (descriptor >= 0) {
      ::close(descriptor);
    }
  }
  ~ImmutableFile() {
    if (!set_) {
      return;
    }
    // The temporary folder can be removed only once the flag is gone again.
    const int descriptor = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags);
    }
    if (descriptor >= 0) {
      ::close(descriptor);
    }
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;

  bool IsSet() const { return set_; }

 private:
  std::string path_;
  bool set_ = false;
};

// The UDP sockets of the namespace a process runs in; in the lab's engine namespace only the
// program under test has any.
int NamespaceUdpSockets(pid_t pid) {
  const std::vector<std::string> lines =
      testsupport::SplitLines(testsupport::ReadFile("/proc/" + std::to_string(pid) + "/net/udp"));
  return lines.empty() ? 0 : static_cast<int>(lines.size()) - 1;
}

bool Running(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

// ---------------------------------------------------------------------------------------------

// One reading of the window's state from the screen.
struct Frame {
  Clock::time_point at;
  QImage window;
  QImage waitText;
  int rows = 0;
  ButtonLook logIn = ButtonLook::kUnknown;
  ButtonLook refresh = ButtonLook::kUnknown;
  ButtonLook storage = ButtonLook::kUnknown;
};

std::string Describe(const Frame& frame) {
  std::ostringstream text;
  text << "rows " << frame.rows << ", Log In " << LookName(frame.logIn) << ", Refresh "
       << LookName(frame.refresh) << ", My Storage " << LookName(frame.storage);
  return text.str();
}

class WindowE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    if (!DesktopToolsAvailable()) {
      GTEST_SKIP() << "the end-to-end test needs Xvfb, xdotool and xclip";
    }
    ASSERT_EQ(::access(testsupport::BuiltProgram("tarvelo").c_str(), X_OK), 0)
        << "not built: " << testsupport::BuiltProgram("tarvelo");
    folder_ = std::make_unique<testsupport::TemporaryDirectory>();
    for (const char* name : {"home", "runtime", "stubs", "config", "cache"}) {
      fs::create_directory(folder_->File(name));
    }
    // Qt insists on a runtime folder only the user can enter.
    fs::permissions(folder_->File("runtime"), fs::perms::owner_all);
    calls_ = folder_->File("calls.txt");
    // Each stub appends one line, its name and its arguments, and succeeds without output: no
    // browser, no file manager, nothing unmounted on this machine.
    for (const char* name : {"xdg-open", "gio", "umount"}) {
      WriteFile(folder_->File(std::string("stubs/") + name),
                std::string("#!/bin/sh\nline=") + name +
                    "\nfor argument in \"$@\"; do line=\"$line $argument\"; done\n"
                    "printf '%s\\n' \"$line\" >> '" +
                    calls_ + "'\nexit 0\n",
                fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec);
    }
    screen_ = std::make_unique<VirtualScreen>(folder_->Path());
    lab_ = std::make_unique<testsupport::LabNetwork>();
    cells_ = std::make_unique<ButtonCells>();
  }

  void StartDevices() {
    lab_->AddDeviceAddresses(kFirstDeviceAddress, kDevices);
    devices_ = std::make_unique<testsupport::NasSimulator>(
        *lab_, std::vector<std::string>{"--devices", std::to_string(kDevices), "--first-address",
                                        kFirstDeviceAddress, "--reply-delay", kReplyDelayMs,
                                        "--reply-spread", kReplySpreadMs});
  }

  // Starts the window program in the engine namespace with a clean environment: this test's
  // folders, the stubs first on PATH and the English texts, so that no setting of the caller's
  // (a platform plugin, a session bus, a real browser) reaches it.
  pid_t StartProgram(const std::string& dataHome) {
    std::vector<std::string> argv{
        "/usr/bin/env", "-i", "DISPLAY=" + screen_->DisplayName(), "HOME=" + folder_->File("home"),
        "XDG_DATA_HOME=" + dataHome, "XDG_RUNTIME_DIR=" + folder_->File("runtime"),
        "XDG_CONFIG_HOME=" + folder_->File("config"), "XDG_CACHE_HOME=" + folder_->File("cache"),
        "PATH=" + folder_->File("stubs") + ":/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
        "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
        // No session bus: without an address, D-Bus would try to start one on the display.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder_->File("no-session-bus")};
    // A sanitizer build's settings apply to the program as to the test itself.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) {
        argv.push_back(std::string(name) + "=" + value);
      }
    }
    argv.push_back(testsupport::BuiltProgram("tarvelo"));
    return lab_->Spawn(lab_->EngineNamespace(), argv);
  }

  // Waits for a visible window titled "Tarvelo" whose geometry `accept` takes.
  std::optional<std::pair<std::string, QRect>> WaitForWindow(
      const std::function<bool(const QRect&)>& accept, pid_t pid) {
    std::optional<std::pair<std::string, QRect>> found;
    testsupport::WaitUntil(
        [&] {
          for (const std::string& window : screen_->VisibleWindows("Tarvelo")) {
            const std::optional<QRect> geometry = screen_->Geometry(window);
            if (geometry && accept(*geometry)) {
              found.emplace(window, *geometry);
              return true;
            }
          }
          return !Running(pid);
        },
        kWindowTimeout);
    return found;
  }

  // The main window has the skin's size; a message box has another.
  static bool IsMainWindow(const QRect& geometry) {
    return geometry.width() == kWindowWidth && geometry.height() == kWindowHeight;
  }

  std::optional<std::pair<std::string, QRect>> WaitForMainWindow(pid_t pid) {
    return WaitForWindow(IsMainWindow, pid);
  }

  // Reads the state of the window that lies at `place` on the screen.
  Frame Read(const QRect& place) const {
    Frame frame;
    frame.at = Clock::now();
    frame.window = screen_->Grab().copy(place);
    frame.waitText = frame.window.copy(kWaitTextArea);
    frame.rows = CountRows(frame.window.copy(kRowsArea));
    frame.logIn = cells_->Classify(frame.window.copy(kLogInButton));
    frame.refresh = cells_->Classify(frame.window.copy(kRefreshButton));
    frame.storage = cells_->Classify(frame.window.copy(kStorageButton));
    return frame;
  }

  // Reads the window at `place` into `frame` until `accept` takes a reading or `timeout` passes;
  // `frame` keeps the last reading either way, for the failure message.
  bool WaitForFrame(const QRect& place, Frame& frame,
                    const std::function<bool(const Frame&)>& accept,
                    std::chrono::milliseconds timeout) const {
    return testsupport::WaitUntil(
        [&] {
          frame = Read(place);
          return accept(frame);
        },
        timeout);
  }

  // A popup window of the program (a tooltip, a menu) and its picture.
  struct Popup {
    MappedWindow window;
    QImage image;
  };

  // The lines of text of a popup, its frame left out.
  static int PopupLines(const QImage& popup) {
    return CountRows(popup.copy(popup.rect().adjusted(3, 3, -3, -3)));
  }

  // Waits for a popup that was not shown in `before`, once it holds text (a freshly mapped
  // window may still be blank).
  std::optional<Popup> WaitForPopup(const std::vector<MappedWindow>& before) const {
    std::optional<Popup> found;
    testsupport::WaitUntil(
        [&] {
          for (const MappedWindow& window : screen_->MappedWindows()) {
            const bool shownBefore =
                std::any_of(before.begin(), before.end(),
                            [&](const MappedWindow& old) { return old.id == window.id; });
            if (!window.overrideRedirect || shownBefore || window.place.width() < 20 ||
                window.place.height() < 10) {
              continue;
            }
            QImage image = screen_->Grab().copy(window.place);
            if (PopupLines(image) > 0) {
              found = Popup{window, std::move(image)};
              return true;
            }
          }
          return false;
        },
        kStateTimeout);
    return found;
  }

  bool WaitForPopupGone(const Popup& popup) const {
    return testsupport::WaitUntil(
        [&] {
          const std::vector<MappedWindow> windows = screen_->MappedWindows();
          return std::none_of(windows.begin(), windows.end(), [&](const MappedWindow& window) {
            return window.id == popup.window.id;
          });
        },
        kStateTimeout);
  }

  // Rests the pointer at a point of the screen and waits for the tooltip that comes up there.
  // The pointer comes to rest as a hand brings it, with a last small move: Qt may take the first
  // motion into a window that it had left for its entry alone, and wait for the next one to time
  // the tooltip.
  std::optional<Popup> Hover(QPoint point) const {
    const std::vector<MappedWindow> before = screen_->MappedWindows();
    screen_->MovePointer(point - QPoint(4, 0));
    std::this_thread::sleep_for(50ms);
    screen_->MovePointer(point);
    return WaitForPopup(before);
  }

  // The part of the screen that holds both the window and a popup of it, for a screenshot.
  QImage Around(const QRect& window, const QRect& popup) const {
    const QRect area =
        window.united(popup.adjusted(-4, -4, 4, 4)) & QRect(0, 0, kScreenWidth, kScreenHeight);
    return screen_->Grab().copy(area);
  }

  // Device INDEX of StartDevices announces itself with the NOTIFY type NTS (ssdp:alive,
  // ssdp:byebye), as a device switched on or off does: from a simulator of its own that sends
  // once and ends, with the address, identity and server header of that device.
  void Announce(int index, const char* nts) {
    const std::string number = std::to_string(index);
    testsupport::NasSimulator notice(
        *lab_,
        std::vector<std::string>{"--devices", "1", "--first-address", DeviceAddress(index), "--usn",
                                 "uuid:SIM" + number + "::upnp:rootdevice", "--server",
                                 "VRIX/2.0, UPnP/1.0, Tarvelo/nas" + number + "/HomeNas/1",
                                 "--notify", nts, "--once"});
    EXPECT_EQ(notice.WaitForExit(kStateTimeout), 0) << nts << " of device " << index;
  }

  std::vector<std::string> Calls() const {
    return testsupport::SplitLines(testsupport::ReadFile(calls_));
  }

  bool WaitForCalls(std::size_t count) const {
    return testsupport::WaitUntil([&] { return Calls().size() >= count; }, kStateTimeout);
  }

  // Members are destroyed in reverse order: the simulator, then the lab (which ends every program
  // still running in it), then the X server, and the temporary folder last.
  std::unique_ptr<testsupport::TemporaryDirectory> folder_;
  std::string calls_;
  std::unique_ptr<VirtualScreen> screen_;
  std::unique_ptr<testsupport::LabNetwork> lab_;
  std::unique_ptr<testsupport::NasSimulator> devices_;
  std::unique_ptr<ButtonCells> cells_;
};

TEST_F(WindowE2E, SearchCycleSelectionCommandsSecondStartAndClose) {
  StartDevices();
  const std::string dataHome = folder_->File("data");
  const pid_t program = StartProgram(dataHome);

  const auto main = WaitForMainWindow(program);
  ASSERT_TRUE(main) << "no 328x245 window titled Tarvelo appeared";
  const std::string window = main->first;
  const QRect place = main->second;
  ASSERT_TRUE(QRect(0, 0, kScreenWidth, kScreenHeight).contains(place)) << "off screen";
  screen_->ParkPointer();

  auto read = [&] { return Read(place); };
  auto at = [&](QPoint point) { return place.topLeft() + point; };

  // The search cycle, watched frame by frame until Refresh is enabled again. It starts once the
  // window has painted itself (a freshly mapped window may still be black).
  Frame first;
  ASSERT_TRUE(WaitForFrame(
      place, first, [&](const Frame& now) { return now.refresh != ButtonLook::kUnknown; },
      kWindowTimeout))
      << "the window did not paint its buttons";
  SaveArtefact(first.window, "01-searching.png");
  EXPECT_EQ(first.refresh, ButtonLook::kDisabled) << "Refresh is enabled during the first cycle";
  std::vector<Frame> frames{first};
  std::vector<Clock::time_point> countdownChanges;
  std::vector<std::pair<Clock::time_point, int>> rowChanges;
  const auto cycleDeadline = Clock::now() + kCycleTimeout;
  while (frames.back().refresh != ButtonLook::kNormal && Clock::now() < cycleDeadline) {
    std::this_thread::sleep_for(20ms);
    Frame frame = read();
    const Frame& previous = frames.back();
    if (frame.waitText != previous.waitText) {
      countdownChanges.push_back(frame.at);
    }
    if (frame.rows != previous.rows) {
      rowChanges.emplace_back(frame.at, frame.rows);
    }
    // Only the latest frame keeps its whole picture; hundreds of them would fill the memory.
    if (frames.size() > 1) {
      frames.back().window = QImage();
    }
    frames.push_back(std::move(frame));
  }
  const Frame& ended = frames.back();
  ASSERT_EQ(ended.refresh, ButtonLook::kNormal) << "the cycle did not end: " << Describe(ended);
  SaveArtefact(ended.window, "02-devices-found.png");

  std::cout << "[ cycle    ] " << frames.size() << " frames, countdown changes after (ms):";
  for (const Clock::time_point change : countdownChanges) {
    std::cout << ' '
              << std::chrono::duration_cast<std::chrono::milliseconds>(change - first.at).count();
  }
  std::cout << "; rows:";
  for (const auto& [when, rows] : rowChanges) {
    std::cout << ' ' << rows << '@'
              << std::chrono::duration_cast<std::chrono::milliseconds>(when - first.at).count();
  }
  std::cout << std::endl;

  // The engine listens while the window is open.
  EXPECT_GT(NamespaceUdpSockets(program), 0);

  // The countdown: the wait text changes once a second, nine times from 10s down to 1s and once
  // more when it disappears. A window that mapped late misses the first changes.
  EXPECT_GE(countdownChanges.size(), 8u);
  EXPECT_LE(countdownChanges.size(), 10u);
  std::vector<long> gaps;
  for (std::size_t i = 1; i < countdownChanges.size(); ++i) {
    gaps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(countdownChanges[i] -
                                                                         countdownChanges[i - 1])
                       .count());
  }
  if (!gaps.empty()) {
    std::vector<long> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const long median = sorted[sorted.size() / 2];
    EXPECT_GE(median, 700) << "the countdown runs too fast";
    EXPECT_LE(median, 1500) << "the countdown runs too slowly";
  }
  // The wait text's last change, to the number of devices found, comes together with Refresh.
  ASSERT_FALSE(countdownChanges.empty());
  EXPECT_TRUE(countdownChanges.back() == ended.at)
      << "the wait text did not change when Refresh came back";

  // Rows appear as soon as their devices answer (half a second, 2.5 s and 4.5 s after the search)
  // rather than at the timer's ticks, and never go away during the cycle. The ticks drift against
  // the answers, so one answer may happen to come close to a tick, but a list that waited for the
  // timer would change at a tick every time.
  EXPECT_EQ(ended.rows, kDevices) << Describe(ended);
  EXPECT_GE(rowChanges.size(), 2u) << "the devices' rows did not come in one by one";
  int shown = frames.front().rows;
  std::size_t atTicks = 0;
  for (const auto& change : rowChanges) {
    const Clock::time_point when = change.first;
    const int rows = change.second;
    EXPECT_GT(rows, shown) << "a row went away during the cycle";
    shown = rows;
    atTicks += std::any_of(countdownChanges.begin(), countdownChanges.end(),
                           [&](Clock::time_point tick) {
                             return when - tick < kSameTick && tick - when < kSameTick;
                           })
                   ? 1
                   : 0;
  }
  EXPECT_LT(atTicks, rowChanges.size())
      << "every row came at a tick: the list waited for the timer";
  if (frames.front().rows == 0 && !rowChanges.empty() && !countdownChanges.empty()) {
    EXPECT_LT(rowChanges.front().first, countdownChanges.front())
        << "the first device, which answers half a second after the search, was listed only at "
           "the first tick";
  }

  // Refresh, Log In and My Storage stay disabled for the whole cycle; Refresh alone comes back.
  const auto enabledDuringCycle =
      std::find_if(frames.begin(), frames.end() - 1, [](const Frame& frame) {
        return frame.refresh != ButtonLook::kDisabled || frame.logIn != ButtonLook::kDisabled ||
               frame.storage != ButtonLook::kDisabled;
      });
  EXPECT_TRUE(enabledDuringCycle == frames.end() - 1)
      << "frame " << (enabledDuringCycle - frames.begin())
      << " of the cycle: " << Describe(*enabledDuringCycle);
  EXPECT_EQ(ended.logIn, ButtonLook::kDisabled);
  EXPECT_EQ(ended.storage, ButtonLook::kDisabled);

  // A click on a row enables Log In and My Storage; a click on empty list space disables them.
  struct SelectionStep {
    const char* what;
    QPoint point;
    ButtonLook expected;
    const char* artefact;
  };
  const SelectionStep selectionSteps[] = {
      {"click on the first row", kFirstRow, ButtonLook::kNormal, "03-row-selected.png"},
      {"click on empty list space", kEmptyListSpace, ButtonLook::kDisabled, nullptr},
      {"click on the first row again", kFirstRow, ButtonLook::kNormal, nullptr},
      {"click on empty list space again", kEmptyListSpace, ButtonLook::kDisabled, nullptr},
  };
  for (const SelectionStep& step : selectionSteps) {
    SCOPED_TRACE(step.what);
    screen_->Click(at(step.point));
    screen_->ParkPointer();
    Frame frame;
    const bool reached = WaitForFrame(
        place, frame,
        [&](const Frame& now) {
          return now.logIn == step.expected && now.storage == step.expected;
        },
        kStateTimeout);
    EXPECT_TRUE(reached) << Describe(frame);
    EXPECT_EQ(frame.refresh, ButtonLook::kNormal);
    EXPECT_EQ(frame.rows, kDevices);
    if (step.artefact != nullptr) {
      SaveArtefact(frame.window, step.artefact);
    }
  }
  EXPECT_TRUE(Calls().empty()) << "a click that selects ran a command";

  // A double click on the top row (the device heard last) opens its web page; Log In does the
  // same; My Storage, without a session bus to reach GVFS or a file manager through, hands the
  // device's shares to xdg-open.
  const std::string newest = kNewestDeviceAddress;
  struct CommandStep {
    const char* what;
    QPoint point;
    int clicks;
    std::vector<std::string> expectedCalls;
  };
  const CommandStep commandSteps[] = {
      {"double click on the top row", kFirstRow, 2, {"xdg-open http://" + newest}},
      {"Log In", kLogInButton.center(), 1, {"xdg-open http://" + newest}},
      {"My Storage", kStorageButton.center(), 1, {"xdg-open smb://" + newest + "/"}},
  };
  std::vector<std::string> expectedCalls;
  for (const CommandStep& step : commandSteps) {
    SCOPED_TRACE(step.what);
    screen_->Click(at(step.point), step.clicks);
    screen_->ParkPointer();
    expectedCalls.insert(expectedCalls.end(), step.expectedCalls.begin(), step.expectedCalls.end());
    EXPECT_TRUE(WaitForCalls(expectedCalls.size()));
    EXPECT_EQ(Calls(), expectedCalls);
  }

  // A second start, while another window lies over the first: it exits quickly with status 0,
  // and the first window comes back on top. No second window appears.
  // The picture to come back: taken once the window has stopped changing after the clicks.
  QImage beforeCover = read().window;
  testsupport::WaitUntil(
      [&] {
        std::this_thread::sleep_for(200ms);
        QImage now = read().window;
        const bool same = now == beforeCover;
        beforeCover = std::move(now);
        return same;
      },
      kStateTimeout);
  constexpr QRgb kCoverColour = 0xff00ff;
  {
    // The cover leaves the window's rounded corners alone: outside the window's shape the
    // cover would still show after the raise.
    const QRect covered = place.adjusted(10, 10, -10, -10);
    const CoveringWindow cover(screen_->DisplayName(), covered, kCoverColour);
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
          return CountPixels(read().window, kCoverColour) == covered.width() * covered.height();
        },
        kStateTimeout))
        << "the covering window did not show";
    const auto started = Clock::now();
    const pid_t second = StartProgram(dataHome);
    EXPECT_EQ(lab_->Wait(second, kExitTimeout), 0);
    EXPECT_LT(Clock::now() - started, 10s) << "the second start did not end quickly";
    QImage raised;
    const bool onTop = testsupport::WaitUntil(
        [&] {
          raised = read().window;
          return raised == beforeCover;
        },
        kStateTimeout);
    EXPECT_TRUE(onTop) << "the first window was not raised above the covering window ("
                       << CountPixels(raised, kCoverColour) << " pixels still covered)";
    SaveArtefact(screen_->Grab(), "04-second-start-raised.png");
    EXPECT_TRUE(Running(program));
    EXPECT_EQ(screen_->VisibleWindows("Tarvelo"), std::vector<std::string>{window});
  }

  // Refresh starts a new cycle: the list is emptied, the wait text is back, the three commands
  // are disabled, and the devices come back at the ticks.
  screen_->Click(at(kRefreshButton.center()));
  screen_->ParkPointer();
  Frame restarted;
  EXPECT_TRUE(WaitForFrame(
      place, restarted, [&](const Frame& now) { return now.refresh == ButtonLook::kDisabled; },
      kStateTimeout))
      << Describe(restarted);
  EXPECT_LT(restarted.rows, kDevices) << "the list was not emptied";
  EXPECT_EQ(restarted.logIn, ButtonLook::kDisabled);
  EXPECT_EQ(restarted.storage, ButtonLook::kDisabled);
  EXPECT_NE(restarted.waitText, ended.waitText) << "the wait text did not come back";
  EXPECT_TRUE(testsupport::WaitUntil([&] { return read().rows > 0; }, kStateTimeout))
      << "no device came back after Refresh";

  // The close button ends the program cleanly during the cycle: status 0, the engine gone with
  // the process, the instance lock and the bring-to-front server removed.
  const auto closing = Clock::now();
  screen_->Click(at(kCloseButton.center()));
  EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0);
  EXPECT_LT(Clock::now() - closing, 10s) << "closing took too long";
  EXPECT_TRUE(screen_->VisibleWindows("Tarvelo").empty());
  EXPECT_FALSE(fs::exists(folder_->File("runtime/Tarvelo.lock")));
  EXPECT_FALSE(fs::exists(folder_->File("runtime/Tarvelo")));
  EXPECT_EQ(Calls(), expectedCalls) << "closing ran a command";
}

TEST_F(WindowE2E, WithoutAMouseSpaceDownReturnF5AndEscape) {
  StartDevices();
  // The pointer waits off the window from before the window exists: it never touches it.
  screen_->ParkPointer();
  const pid_t program = StartProgram(folder_->File("data"));
  const auto main = WaitForMainWindow(program);
  ASSERT_TRUE(main) << "no 328x245 window titled Tarvelo appeared";
  const std::string window = main->first;
  const QRect place = main->second;
  auto key = [&](const char* name) { ASSERT_EQ(screen_->XDoTool({"key", name}).status, 0); };
  Frame frame;

  // The window takes the keyboard as it opens (no window manager here gives it), and has painted
  // itself: from then on a key reaches it.
  ASSERT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return now.refresh != ButtonLook::kUnknown &&
               testsupport::SplitLines(screen_->XDoTool({"getwindowfocus"}).output) ==
                   std::vector<std::string>{window};
      },
      kWindowTimeout))
      << "the window did not take the keyboard";

  // Space right after the start: the focus is on the list, not on the close button.
  key("space");
  EXPECT_FALSE(testsupport::WaitUntil([&] { return !Running(program); }, 500ms))
      << "Space closed the window";
  EXPECT_EQ(screen_->VisibleWindows("Tarvelo"), std::vector<std::string>{window});

  // Down selects the top row once the devices are listed, as a click does: Log In and My Storage
  // come on. Return opens the top row's device, the one heard last.
  ASSERT_TRUE(WaitForFrame(
      place, frame, [&](const Frame& now) { return now.rows == kDevices; }, kCycleTimeout))
      << Describe(frame);
  key("Down");
  EXPECT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return now.logIn == ButtonLook::kNormal && now.storage == ButtonLook::kNormal;
      },
      kStateTimeout))
      << Describe(frame);
  SaveArtefact(frame.window, "07-keyboard-row-selected.png");
  key("Return");
  EXPECT_TRUE(WaitForCalls(1));
  EXPECT_EQ(Calls(),
            std::vector<std::string>{"xdg-open http://" + std::string(kNewestDeviceAddress)});

  // F5 once the cycle has ended starts a new one: the list empties, the commands go off.
  ASSERT_TRUE(WaitForFrame(
      place, frame, [&](const Frame& now) { return now.refresh == ButtonLook::kNormal; },
      kCycleTimeout))
      << "the cycle did not end: " << Describe(frame);
  const QImage ended = frame.waitText;
  key("F5");
  EXPECT_TRUE(WaitForFrame(
      place, frame, [&](const Frame& now) { return now.refresh == ButtonLook::kDisabled; },
      kStateTimeout))
      << Describe(frame);
  EXPECT_LT(frame.rows, kDevices) << "the list was not emptied";
  EXPECT_EQ(frame.logIn, ButtonLook::kDisabled);
  EXPECT_NE(frame.waitText, ended) << "the wait text did not come back";

  // Escape closes the window as the close button does.
  key("Escape");
  EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0);
  EXPECT_TRUE(screen_->VisibleWindows("Tarvelo").empty());
  EXPECT_EQ(Calls().size(), 1u) << "a key ran another command";
}

TEST_F(WindowE2E, SkinThatCannotBeWrittenShowsTheMessageAndNoWindow) {
  // No devices: if the engine started by mistake, it would still find nothing to show.
  struct Case {
    const char* what;
    const char* artefact;
    // Prepares the data folder; returns false when this file system cannot do it.
    std::function<bool(const std::string& dataHome, std::unique_ptr<ImmutableFile>& flag)> prepare;
  };
  const Case cases[] = {
      {"the tool folder's name is taken by a file", "05-failure-message-folder-is-a-file.png",
       [](const std::string& dataHome, std::unique_ptr<ImmutableFile>&) {
         fs::create_directories(dataHome);
         WriteFile(dataHome + "/ORVAKSearchTools", "", fs::perms::owner_read);
         return true;
       }},
      {"the layout file is immutable (read-only even for root)",
       "06-failure-message-immutable-layout.png",
       [](const std::string& dataHome, std::unique_ptr<ImmutableFile>& flag) {
         fs::create_directories(dataHome + "/ORVAKSearchTools/Picture");
         WriteFile(dataHome + "/ORVAKSearchTools/WndLayoutInfo.xml", "",
                   fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         flag = std::make_unique<ImmutableFile>(dataHome + "/ORVAKSearchTools/WndLayoutInfo.xml");
         return flag->IsSet();
       }},
  };
  int index = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string dataHome = folder_->File("data" + std::to_string(index++));
    std::unique_ptr<ImmutableFile> flag;
    if (!test.prepare(dataHome, flag)) {
      std::cout << "[ skipped  ] " << test.what << ": not possible on this file system"
                << std::endl;
      continue;
    }
    screen_->ParkPointer();
    const pid_t program = StartProgram(dataHome);
    bool mainWindowSeen = false;
    const auto box = WaitForWindow(
        [&](const QRect& geometry) {
          const bool isMain = IsMainWindow(geometry);
          mainWindowSeen = mainWindowSeen || isMain;
          return !isMain && geometry.width() > 1 && geometry.height() > 1;
        },
        program);
    ASSERT_TRUE(box) << "no message box titled Tarvelo appeared";
    EXPECT_FALSE(mainWindowSeen);
    // The box holds text (dark on light) and the engine was never started.
    const QImage boxImage = screen_->Grab().copy(box->second);
    EXPECT_GT(CountDarkPixels(boxImage), 100) << "the message box looks empty";
    SaveArtefact(boxImage, test.artefact);
    EXPECT_EQ(NamespaceUdpSockets(program), 0) << "the engine started although the skin failed";

    // Return presses the box's OK button; the program ends with status 1 without a window.
    EXPECT_EQ(screen_->XDoTool({"windowfocus", "--sync", box->first, "key", "Return"}).status, 0);
    EXPECT_EQ(lab_->Wait(program, kExitTimeout), 1);
    EXPECT_TRUE(screen_->VisibleWindows("Tarvelo").empty());
    EXPECT_FALSE(fs::exists(folder_->File("runtime/Tarvelo.lock")));
    EXPECT_TRUE(Calls().empty());
  }
}

TEST_F(WindowE2E, LiveListGoodbyeReturnLateDeviceDetailsSortMenuAndCopy) {
  StartDevices();
  const pid_t program = StartProgram(folder_->File("data"));
  const auto main = WaitForMainWindow(program);
  ASSERT_TRUE(main) << "no 328x245 window titled Tarvelo appeared";
  const QRect place = main->second;
  screen_->ParkPointer();
  auto at = [&](QPoint point) { return place.topLeft() + point; };
  using Looks = std::vector<RowLook>;
  constexpr RowLook kN = RowLook::kNormal;
  constexpr RowLook kG = RowLook::kGone;
  auto rowsOf = [](const Frame& frame) { return ReadListRows(frame.window.copy(kListInside)); };
  auto looksOf = [&](const Frame& frame) { return RowLooks(rowsOf(frame)); };
  auto describe = [&](const Frame& frame) {
    std::ostringstream text;
    text << Describe(frame) << ", row looks:";
    for (const RowLook look : looksOf(frame)) {
      text << ' ' << RowLookName(look);
    }
    return text.str();
  };
  // A point of a row's host name on the screen, and the picture of a row's text (all columns).
  auto onRow = [&](const ListRow& row) {
    return at(kListInside.topLeft() + QPoint(40, (row.top + row.bottom) / 2));
  };
  auto rowImage = [](const Frame& frame, const ListRow& row) {
    return frame.window.copy(kListInside)
        .copy(0, row.top, kListInside.width(), row.bottom - row.top + 1);
  };
  Frame frame;

  // The cycle ends with the three devices listed, newest on top, and their number in the wait
  // text's place.
  ASSERT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return now.refresh == ButtonLook::kNormal && looksOf(now) == Looks{kN, kN, kN};
      },
      kCycleTimeout))
      << describe(frame);
  const Frame found = frame;
  const std::vector<ListRow> rows = rowsOf(found);

  // The middle row (device 1) tells the device's details in its tooltip, one per line.
  const std::optional<Popup> details = Hover(onRow(rows[1]));
  ASSERT_TRUE(details) << "no tooltip came up over a row";
  const int detailLines = PopupLines(details->image);
  EXPECT_GE(detailLines, 4) << "the tooltip does not hold the device's details";
  SaveDocumentScreenshot(Around(place, details->window.place), "device-details.png");
  screen_->ParkPointer();
  EXPECT_TRUE(WaitForPopupGone(*details)) << "the tooltip stayed after the pointer left";

  // Device 1 says goodbye: its row stays, in grey, the others keep the rows' colour, and the
  // number of devices found drops. Its tooltip says that it has left, in one line more.
  Announce(1, "ssdp:byebye");
  EXPECT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return looksOf(now) == Looks{kN, kG, kN} && now.waitText != found.waitText;
      },
      kStateTimeout))
      << describe(frame);
  EXPECT_EQ(frame.refresh, ButtonLook::kNormal) << "a goodbye started a new search";
  SaveDocumentScreenshot(frame.window, "device-gone.png");
  if (const std::optional<Popup> gone = Hover(onRow(rows[1]))) {
    EXPECT_EQ(PopupLines(gone->image), detailLines + 1)
        << "the tooltip of a device that has left does not say so";
    SaveArtefact(gone->image, "device-gone-details.png");
    screen_->ParkPointer();
    EXPECT_TRUE(WaitForPopupGone(*gone));
  } else {
    ADD_FAILURE() << "no tooltip came up over the grey row";
  }

  // It announces itself again: the row is back as it was, and so is the number found.
  Announce(1, "ssdp:alive");
  EXPECT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return looksOf(now) == Looks{kN, kN, kN} && now.waitText == found.waitText;
      },
      kStateTimeout))
      << describe(frame);
  if (rowsOf(frame).size() == rows.size()) {
    EXPECT_EQ(rowImage(frame, rowsOf(frame)[1]), rowImage(found, rows[1]))
        << "the device's row did not come back as it was";
  }

  // A device switched on after the cycle is listed on top at once, above the three, without a
  // Refresh (which would have started a cycle and disabled the button).
  lab_->AddDeviceAddresses(DeviceAddress(kDevices), 1);
  Announce(kDevices, "ssdp:alive");
  EXPECT_TRUE(WaitForFrame(
      place, frame,
      [&](const Frame& now) {
        return looksOf(now) == Looks{kN, kN, kN, kN};
      },
      kStateTimeout))
      << describe(frame);
  EXPECT_EQ(frame.refresh, ButtonLook::kNormal) << "the late device came with a new search";
  EXPECT_NE(frame.waitText, found.waitText) << "the number of devices found stayed";
  const Frame latest = frame;
  const std::vector<ListRow> four = rowsOf(latest);
  ASSERT_EQ(four.size(), 4u);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    EXPECT_EQ(rowImage(latest, four[row + 1]), rowImage(found, rows[row]))
        << "row " << row << " of the three did not move one down";
  }

  // A click on the address column's title sorts by address, which here is oldest device first:
  // the order turns round, and the title shows an arrow. A second click reverses the order.
  const auto turnedRound = [&](const Frame& now, bool reversed) {
    const std::vector<ListRow> sorted = rowsOf(now);
    if (sorted.size() != four.size()) {
      return false;
    }
    for (std::size_t row = 0; row < four.size(); ++row) {
      const std::size_t from = reversed ? four.size() - 1 - row : row;
      if (rowImage(now, sorted[row]) != rowImage(latest, four[from])) {
        return false;
      }
    }
    return true;
  };
  for (const bool reversed : {true, false}) {
    SCOPED_TRACE(reversed ? "first click on the address title" : "second click");
    // Two clicks on one spot within Qt's double-click interval (400 ms) would be a double click.
    std::this_thread::sleep_for(600ms);
    screen_->Click(at(kAddressTitle));
    screen_->ParkPointer();
    EXPECT_TRUE(WaitForFrame(
        place, frame, [&](const Frame& now) { return turnedRound(now, reversed); }, kStateTimeout))
        << describe(frame);
    EXPECT_NE(frame.window.copy(kListHeader), latest.window.copy(kListHeader))
        << "the sorted column's title shows no arrow";
  }

  // The rows of devices 1 and 0, wherever the sorting left them.
  const Frame sorted = frame;
  auto find = [&](const ListRow& row) {
    for (const ListRow& candidate : rowsOf(sorted)) {
      if (rowImage(sorted, candidate) == rowImage(latest, row)) {
        return candidate;
      }
    }
    ADD_FAILURE() << "a device's row is gone from the list";
    return row;
  };
  const ListRow device1 = find(four[2]);
  const ListRow device0 = find(four[3]);

  // A right click on device 1's row opens its menu; Copy IP Address, chosen with the keyboard,
  // puts the address on the clipboard and in the primary selection, and runs nothing.
  const std::vector<MappedWindow> beforeMenu = screen_->MappedWindows();
  screen_->Click(onRow(device1), 1, 3);
  const std::optional<Popup> menu = WaitForPopup(beforeMenu);
  ASSERT_TRUE(menu) << "no menu came up on a right click";
  EXPECT_GE(PopupLines(menu->image), 5) << "the menu lacks commands";
  SaveDocumentScreenshot(Around(place, menu->window.place), "device-menu.png");
  ASSERT_EQ(screen_->XDoTool({"key", "Down", "Down", "Down", "Return"}).status, 0);
  EXPECT_TRUE(WaitForPopupGone(*menu)) << "the menu stayed after its command";
  std::string copied;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        copied = screen_->Selection("clipboard");
        return copied == DeviceAddress(1);
      },
      kStateTimeout))
      << "the clipboard holds \"" << copied << "\"";
  EXPECT_EQ(screen_->Selection("primary"), DeviceAddress(1));
  EXPECT_TRUE(Calls().empty()) << "Copy IP Address ran a command";

  // Ctrl+C copies the address of the selected row: device 0's.
  screen_->Click(onRow(device0));
  screen_->ParkPointer();
  ASSERT_EQ(screen_->XDoTool({"key", "ctrl+c"}).status, 0);
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        copied = screen_->Selection("clipboard");
        return copied == DeviceAddress(0);
      },
      kStateTimeout))
      << "the clipboard holds \"" << copied << "\"";
  EXPECT_EQ(screen_->Selection("primary"), DeviceAddress(0));

  ASSERT_EQ(screen_->XDoTool({"key", "Escape"}).status, 0);
  EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0);
}

TEST_F(WindowE2E, EmptyListHintAfterACycleWithoutDevicesAndWarningWhenPort67IsHeld) {
  constexpr QRgb kHintColour = qRgb(0x5a, 0x64, 0x70);
  constexpr QRgb kWarningColour = qRgb(0xff, 0xe0, 0x8a);
  const std::string dataHome = folder_->File("data");
  Frame frame;
  // The pixels of the warning's colour in the list, and the rectangle they fill.
  auto warningArea = [&](const Frame& now) {
    const QImage list = now.window.copy(kListInside);
    QRect area;
    for (int y = 0; y < list.height(); ++y) {
      for (int x = 0; x < list.width(); ++x) {
        if ((list.pixel(x, y) & 0xffffff) == (kWarningColour & 0xffffff)) {
          area |= QRect(x, y, 1, 1);
        }
      }
    }
    return area;
  };

  // No device in the lab: while the search runs the list is plainly empty; once the cycle has
  // ended it says, in grey, what to check. No line warns of a search that is off.
  {
    SCOPED_TRACE("no device answers");
    const pid_t program = StartProgram(dataHome);
    const auto main = WaitForMainWindow(program);
    ASSERT_TRUE(main) << "no 328x245 window titled Tarvelo appeared";
    const QRect place = main->second;
    screen_->ParkPointer();
    ASSERT_TRUE(WaitForFrame(
        place, frame, [&](const Frame& now) { return now.refresh != ButtonLook::kUnknown; },
        kWindowTimeout))
        << "the window did not paint its buttons";
    EXPECT_EQ(frame.refresh, ButtonLook::kDisabled);
    EXPECT_EQ(CountNear(frame.window.copy(kListInside), kHintColour, 24), 0)
        << "the hint shows while the search runs";
    EXPECT_TRUE(WaitForFrame(
        place, frame,
        [&](const Frame& now) {
          return now.refresh == ButtonLook::kNormal &&
                 CountNear(now.window.copy(kListInside), kHintColour, 24) > 50;
        },
        kCycleTimeout))
        << "no hint after the cycle: " << Describe(frame);
    for (const ListRow& row : ReadListRows(frame.window.copy(kListInside))) {
      EXPECT_NE(row.look, RowLook::kNormal) << "text in the rows' colour at " << row.top;
    }
    EXPECT_TRUE(warningArea(frame).isEmpty()) << "a search is said to be off";
    SaveDocumentScreenshot(frame.window, "no-device-hint.png");
    ASSERT_EQ(screen_->XDoTool({"key", "Escape"}).status, 0);
    EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0);
  }

  // Another socket holds UDP port 67 in the engine's namespace: the broadcast search cannot bind
  // it, and an amber line at the foot of the list says so from the start, across the list.
  {
    SCOPED_TRACE("port 67 held by another socket");
    std::unique_ptr<testsupport::UdpSocket> holder;
    {
      const auto inside = lab_->EnterEngine();
      holder = std::make_unique<testsupport::UdpSocket>("0.0.0.0", 67);
    }
    const pid_t program = StartProgram(dataHome);
    const auto main = WaitForMainWindow(program);
    ASSERT_TRUE(main) << "no 328x245 window titled Tarvelo appeared";
    const QRect place = main->second;
    screen_->ParkPointer();
    EXPECT_TRUE(WaitForFrame(
        place, frame,
        [&](const Frame& now) {
          return now.refresh == ButtonLook::kDisabled && warningArea(now).width() > 200;
        },
        kStateTimeout))
        << "no warning line: " << Describe(frame);
    const QRect area = warningArea(frame);
    EXPECT_GE(area.width(), kListInside.width() - 20) << "the line does not span the list";
    EXPECT_LE(area.height(), 24) << "the warning is more than a line";
    EXPECT_GE(area.bottom(), kListInside.height() - 20) << "the line is not at the list's foot";
    SaveDocumentScreenshot(frame.window, "warning-search-off.png");
    ASSERT_EQ(screen_->XDoTool({"key", "Escape"}).status, 0);
    EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0);
  }
}

}  // namespace

namespace {

// Announces a made-up device of a new identity and address with every datagram, a few thousand a
// second, from the devices' side of the lab, until destroyed.
class AnnouncementFlood {
 public:
  explicit AnnouncementFlood(const testsupport::LabNetwork& lab) {
    const auto inside = lab.EnterDevices();
    socket_ = std::make_unique<testsupport::UdpSocket>("0.0.0.0", 0);
    thread_ = std::thread([this] { Run(); });
  }
  ~AnnouncementFlood() {
    stop_ = true;
    thread_.join();
  }
  AnnouncementFlood(const AnnouncementFlood&) = delete;
  AnnouncementFlood& operator=(const AnnouncementFlood&) = delete;

 private:
  void Run() {
    for (unsigned number = 1; !stop_; ++number) {
      const std::string name = "fake" + std::to_string(number);
      const std::string message =
          "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
          "LOCATION: http://10.100." +
          std::to_string((number >> 8) & 0xff) + "." + std::to_string(number & 0xff) +
          ":80/desc.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
          "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/" +
          name + "/HomeNas/1\r\nUSN: uuid:" + name + "::upnp:rootdevice\r\n\r\n";
      try {
        socket_->SendTo("239.143.255.250", 1900, message);
      } catch (const std::exception&) {
        // A full send buffer drops the datagram, as a busy network would.
      }
      if (number % 20 == 0) {
        std::this_thread::sleep_for(5ms);
      }
    }
  }

  std::unique_ptr<testsupport::UdpSocket> socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace

// Someone on the network announces made-up devices as fast as they can: the window still fills
// its list and answers the close button, during the cycle and after it.
TEST_F(WindowE2E, TheWindowClosesWhileAFloodOfMadeUpDevicesGoesOn) {
  for (const auto click : {3s, 14s}) {
    SCOPED_TRACE("click after " + std::to_string(click.count()) + " s");
    const pid_t program = StartProgram(folder_->File("data"));
    const auto main = WaitForMainWindow(program);
    ASSERT_TRUE(main) << "the window did not show";
    const auto shown = Clock::now();
    AnnouncementFlood flood(*lab_);
    Frame frame;
    EXPECT_TRUE(WaitForFrame(
        main->second, frame, [](const Frame& now) { return now.rows > 3; }, kStateTimeout))
        << "the made-up devices were not listed: " << Describe(frame);
    std::this_thread::sleep_until(shown + click);
    screen_->Click(main->second.topLeft() + kCloseButton.center());
    EXPECT_EQ(lab_->Wait(program, kExitTimeout), 0) << "the program did not end after the click";
    EXPECT_TRUE(screen_->VisibleWindows("Tarvelo").empty());
  }
}
