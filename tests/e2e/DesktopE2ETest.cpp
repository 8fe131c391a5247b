// My Storage on a real desktop, as a user meets it: the built program in a private desktop
// session (Xvfb, a session bus with GVFS, openbox) inside the network lab, a real Samba server
// and simulated devices on the device side, and a real file manager, once pcmanfm and once
// Thunar, as the user's default. The test clicks My Storage twice for 10.231.50.2 and checks what
// the user would see and what GVFS holds: a window of the file manager showing the device's
// shares, then a fresh one in place of the old, every GVFS mount of the device unmounted in
// between, and the window and mounted share of the neighbouring device 10.231.50.20 untouched.
//
// Everything of the desktop runs inside the lab's engine namespace, because the program's engine
// broadcasts and multicasts as soon as its window opens, and the file managers and GVFS must
// reach the devices. Screenshots after each My Storage, and the program's log, are kept in
// e2e-artefacts/ of the build folder.
//
// A second, smaller scenario runs the program alone on such a desktop with openbox: where its
// window opens and that the window manager cannot resize or maximise it.

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QRect>

#include "DesktopSession.h"
#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "NasSimulator.h"
#include "SambaServer.h"
#include "TemporaryDirectory.h"
#include "WindowLooks.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ClientWindow;
// The window's layout and the looks of its controls, read alike by the window test.
using namespace e2e;

// The device whose storage is opened, and a neighbour whose address begins with the same digits:
// nothing of the neighbour may be touched.
constexpr const char* kDevice = "10.231.50.2";
constexpr const char* kNeighbour = "10.231.50.20";
// The neighbour answers the search at once and the device 1.5 s later, so the device is the one
// heard last and the program lists it on top.
constexpr const char* kDeviceReplyDelayMs = "1500";

// Where the pointer waits between clicks: the screen's bottom right corner, off the program's
// window, so that no button of it shows its hover look.
constexpr QPoint kParkingSpot(1015, 760);

// Generous bounds for a slow, shared machine; the polls end as soon as the state is reached.
constexpr auto kWindowTimeout = 30s;
constexpr auto kCycleTimeout = 40s;
constexpr auto kStateTimeout = 10s;
constexpr auto kOpenTimeout = 45s;

struct FileManager {
  const char* name;         // the program, and its WM_CLASS instance
  const char* desktopFile;  // its desktop entry, for mimeapps.list
};
const FileManager kPcmanfm{"pcmanfm", "pcmanfm.desktop"};
const FileManager kThunar{"thunar", "thunar.desktop"};

// ---------------------------------------------------------------------------------------------
// Programs of the machine.

std::vector<std::string> MissingPrograms() {
  std::vector<std::string> missing;
  for (const char* name :
       {"smbd", "openbox", "pcmanfm", "thunar", "dbus-daemon", "Xvfb", "xdotool", "gdbus", "gio"}) {
    if (testsupport::FindProgram(name).empty()) {
      missing.emplace_back(name);
    }
  }
  if (::access("/usr/libexec/gvfsd", X_OK) != 0) {
    missing.emplace_back("/usr/libexec/gvfsd");
  }
  return missing;
}

// A test binary whose every test skipped for want of a desktop program reports "skipped" (77) to
// CTest instead of "passed"; the lab's own listener does the same for a run without root.
void ExitAsSkipped() {
  std::fflush(nullptr);
  std::_Exit(77);
}

class SkippedWithoutDesktopPrograms : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    if (!MissingPrograms().empty() && unit.skipped_test_count() > 0 &&
        unit.successful_test_count() == 0 && unit.failed_test_count() == 0) {
      std::atexit(&ExitAsSkipped);
    }
  }
};

const bool skippedListenerInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkippedWithoutDesktopPrograms);
  return true;
}();

// Checks `condition` until it holds or `timeout` passes. Each check here runs a program or reads
// the screen, so the checks are spaced instead of back to back on a machine shared with others.
bool Poll(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
          std::chrono::milliseconds interval = 100ms) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(interval);
  }
}

// ---------------------------------------------------------------------------------------------
// What the desktop shows.

// True when `text` holds the address as a whole token: not preceded or followed by a letter, a
// digit, '.' or '-', so that 10.231.50.2 is not found in 10.231.50.20.
bool HoldsAddress(const std::string& text, const std::string& address) {
  const auto partOfToken = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
  };
  for (std::size_t at = text.find(address); at != std::string::npos;
       at = text.find(address, at + 1)) {
    const std::size_t end = at + address.size();
    if ((at == 0 || !partOfToken(text[at - 1])) &&
        (end == text.size() || !partOfToken(text[end]))) {
      return true;
    }
  }
  return false;
}

std::string Hex(unsigned long id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", id);
  return text;
}

std::string Describe(const ClientWindow& window) {
  return Hex(window.id) + " " + window.instance + "/" + window.className + " \"" + window.title +
         "\" (process " + std::to_string(window.pid) + ")";
}

std::string Describe(const std::vector<ClientWindow>& windows) {
  std::string text;
  for (const ClientWindow& window : windows) {
    text += "\n  " + Describe(window);
  }
  return text.empty() ? " none" : text;
}

// True when the window's WM_CLASS instance names the program. Thunar's depends on how it was
// started: "thunar" from the command line, "Thunar" when D-Bus activates /usr/bin/Thunar.
bool BelongsTo(const ClientWindow& window, const FileManager& manager) {
  return strcasecmp(window.instance.c_str(), manager.name) == 0;
}

// The file manager's windows that show the address.
std::vector<ClientWindow> WindowsShowing(const std::vector<ClientWindow>& windows,
                                         const FileManager& manager, const std::string& address) {
  std::vector<ClientWindow> found;
  for (const ClientWindow& window : windows) {
    if (BelongsTo(window, manager) && HoldsAddress(window.title, address)) {
      found.push_back(window);
    }
  }
  return found;
}

bool HasWindow(const std::vector<ClientWindow>& windows, unsigned long id) {
  return std::any_of(windows.begin(), windows.end(),
                     [&](const ClientWindow& window) { return window.id == id; });
}

QImage ToImage(const testsupport::ScreenPixels& screen) {
  QImage image(screen.width, screen.height, QImage::Format_RGB32);
  for (int y = 0; y < screen.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < screen.width; ++x) {
      line[x] = 0xff000000u | screen.pixels[static_cast<std::size_t>(y * screen.width + x)];
    }
  }
  return image;
}

// ---------------------------------------------------------------------------------------------
// The program on the desktop.

// Starts the program in the session, its diagnostic log written to `logPath`.
pid_t StartTarvelo(testsupport::DesktopSession& desktop, const std::string& logPath) {
  std::vector<std::string> environment = desktop.Environment();
  // A sanitizer build's settings apply to the program as to the test itself.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) {
      environment.push_back(std::string(name) + "=" + value);
    }
  }
  return desktop.Start({testsupport::BuiltProgram("tarvelo"), "--log", logPath}, environment,
                       "tarvelo.out");
}

// The program's window and where its client area lies on the screen (openbox's frame, if any,
// left out).
struct ProgramWindow {
  unsigned long id = 0;
  QRect place;
};

std::optional<ProgramWindow> WaitForTarveloWindow(testsupport::DesktopSession& desktop, pid_t pid) {
  std::optional<ProgramWindow> found;
  Poll(
      [&] {
        for (const ClientWindow& window : desktop.ClientWindows()) {
          const auto place = desktop.Place(window.id);
          if (window.instance == "tarvelo" && place && place->width == kWindowWidth &&
              place->height == kWindowHeight) {
            found =
                ProgramWindow{window.id, QRect(place->x, place->y, kWindowWidth, kWindowHeight)};
            return true;
          }
        }
        return !desktop.Running(pid);
      },
      kWindowTimeout);
  return found;
}

// ---------------------------------------------------------------------------------------------
// What GVFS holds.

// One mount of GVFS's mount tracker, as `gdbus` prints it: the backend that serves it (its bus
// name and object path tell one mount from another), its stable name ("smb-server:server=HOST",
// "smb-share:server=HOST,share=NAME") and what that name says.
struct GvfsMount {
  std::string owner;
  std::string path;
  std::string stableName;
  std::string type;
  std::string server;

  bool SameAs(const GvfsMount& other) const { return owner == other.owner && path == other.path; }
};

std::string Describe(const std::vector<GvfsMount>& mounts) {
  std::string text;
  for (const GvfsMount& mount : mounts) {
    text += "\n  " + mount.stableName + " (" + mount.owner + " " + mount.path + ")";
  }
  return text.empty() ? " none" : text;
}

// The mounts in a printed list of mount records, in order: each record begins with the backend's
// bus name, object path, display name and stable name.
std::vector<GvfsMount> ParseMounts(const std::string& text) {
  static const std::regex kRecord(
      R"re(\('(:[0-9.]+)', (?:objectpath )?'([^']*)', (?:'[^']*'|"[^"]*"), '([^']*)')re");
  std::vector<GvfsMount> mounts;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kRecord);
       it != std::sregex_iterator(); ++it) {
    GvfsMount mount;
    mount.owner = (*it)[1];
    mount.path = (*it)[2];
    mount.stableName = (*it)[3];
    mount.type = mount.stableName.substr(0, mount.stableName.find(':'));
    const std::size_t server = mount.stableName.find("server=");
    if (server != std::string::npos) {
      const std::size_t begin = server + 7;
      mount.server = mount.stableName.substr(begin, mount.stableName.find(',', begin) - begin);
    }
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::vector<GvfsMount> MountsOf(const std::vector<GvfsMount>& mounts, const std::string& server,
                                const std::string& type = std::string()) {
  std::vector<GvfsMount> found;
  std::copy_if(mounts.begin(), mounts.end(), std::back_inserter(found), [&](const GvfsMount& m) {
    return m.server == server && (type.empty() || m.type == type);
  });
  return found;
}

bool Holds(const std::vector<GvfsMount>& mounts, const GvfsMount& mount) {
  return std::any_of(mounts.begin(), mounts.end(),
                     [&](const GvfsMount& other) { return other.SameAs(mount); });
}

// A signal of the mount tracker, as `gdbus monitor` records it.
struct TrackerSignal {
  bool mounted = false;  // Mounted, else Unmounted
  GvfsMount mount;
};

std::vector<TrackerSignal> ParseSignals(const std::string& text) {
  std::vector<TrackerSignal> recorded;
  for (const std::string& line : testsupport::SplitLines(text)) {
    const bool unmounted = line.find("MountTracker.Unmounted ") != std::string::npos;
    const bool mounted = line.find("MountTracker.Mounted ") != std::string::npos;
    const std::vector<GvfsMount> mounts = ParseMounts(line);
    if ((mounted || unmounted) && !mounts.empty()) {
      recorded.push_back({mounted, mounts.front()});
    }
  }
  return recorded;
}

// ---------------------------------------------------------------------------------------------

class DesktopE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    const std::vector<std::string> missing = MissingPrograms();
    if (!missing.empty()) {
      GTEST_SKIP() << "the desktop end-to-end test needs " << missing.front();
    }
    ASSERT_EQ(::access(testsupport::BuiltProgram("tarvelo").c_str(), X_OK), 0)
        << "not built: " << testsupport::BuiltProgram("tarvelo");
    cells_ = std::make_unique<ButtonCells>();
    // Services and launchers that the desktop's programs detach come back to this process when
    // their parents end, and are reaped here instead of staying behind as zombies.
    testsupport::BecomeSubreaper();
    folder_ = std::make_unique<testsupport::TemporaryDirectory>();
    // Samba serves the shares as the guest account, which must be able to pass through.
    fs::permissions(folder_->Path(), fs::perms::others_exec | fs::perms::group_exec,
                    fs::perm_options::add);
    for (const char* name : {"samba", "desktop"}) {
      fs::create_directory(folder_->File(name));
    }
    lab_ = std::make_unique<testsupport::LabNetwork>();
    lab_->AddDeviceAddresses(kDevice, 1);
    lab_->AddDeviceAddresses(kNeighbour, 1);
    // One simulated device per address; both simulators hear every search, since broadcast and
    // multicast datagrams reach every socket bound to their port.
    devices_.push_back(std::make_unique<testsupport::NasSimulator>(
        *lab_, std::vector<std::string>{"--devices", "1", "--first-address", kNeighbour}));
    devices_.push_back(std::make_unique<testsupport::NasSimulator>(
        *lab_, std::vector<std::string>{"--devices", "1", "--first-address", kDevice,
                                        "--reply-delay", kDeviceReplyDelayMs}));
    samba_ = std::make_unique<testsupport::SambaServer>(
        *lab_, folder_->File("samba"), std::vector<std::string>{kDevice, kNeighbour});
    desktop_ = std::make_unique<testsupport::DesktopSession>(*lab_, folder_->File("desktop"));
    // The mount tracker's signals, recorded from the start, tell what was unmounted and mounted
    // in which order.
    signalLog_ = folder_->File("desktop/tracker-signals.log");
    desktop_->Start({"gdbus", "monitor", "--session", "--dest", "org.gtk.vfs.Daemon"},
                    "tracker-signals.log");
  }

  void TearDown() override {
    if (desktop_ && !artefactPrefix_.empty()) {
      if (HasFailure()) {
        SaveScreenshot(artefactPrefix_ + "-at-failure.png");
        SaveLogs(artefactPrefix_ + "-logs");
      }
      SaveProgramLog(artefactPrefix_ + "-tarvelo-log.txt");
    }
    // The desktop first (it ends everything in the engine namespace), then the device side.
    desktop_.reset();
    devices_.clear();
    samba_.reset();
    if (lab_) {
      testsupport::EndNamespaceProcesses(lab_->DeviceNamespace());
    }
    testsupport::ReapEndedChildren();
    lab_.reset();
  }

  // Makes `manager` the user's default for folders and smb:// locations, as a desktop's settings
  // would.
  void ChooseFileManager(const FileManager& manager) {
    std::ofstream file(desktop_->ConfigHome() + "/mimeapps.list", std::ios::trunc);
    file << "[Default Applications]\n"
         << "inode/directory=" << manager.desktopFile << "\n"
         << "x-scheme-handler/smb=" << manager.desktopFile << "\n";
    ASSERT_TRUE(file.good());
  }

  std::vector<GvfsMount> Mounts() {
    const testsupport::CommandResult result = desktop_->Run(
        {"gdbus", "call", "--session", "--dest", "org.gtk.vfs.Daemon", "--object-path",
         "/org/gtk/vfs/mounttracker", "--method", "org.gtk.vfs.MountTracker.ListMounts2", "false"});
    EXPECT_EQ(result.status, 0) << "the mount tracker did not answer";
    return ParseMounts(result.output);
  }

  std::vector<TrackerSignal> Signals() { return ParseSignals(testsupport::ReadFile(signalLog_)); }

  // Mounts a location anonymously, as the user would with `gio mount`.
  void Mount(const std::string& location) {
    const testsupport::CommandResult result = desktop_->Run({"gio", "mount", "-a", location});
    EXPECT_EQ(result.status, 0) << "gio mount " << location << " failed";
  }

  // Waits for a window of the file manager showing the address, other than `previous` (a
  // watched window): one with another identifier, or one under the same identifier once the
  // previous window was destroyed.
  std::optional<ClientWindow> WaitForNewWindow(const FileManager& manager,
                                               const std::string& address,
                                               const std::optional<ClientWindow>& previous,
                                               std::chrono::milliseconds timeout) {
    std::optional<ClientWindow> found;
    Poll(
        [&] {
          for (const ClientWindow& window :
               WindowsShowing(desktop_->ClientWindows(), manager, address)) {
            if (!previous || window.id != previous->id || desktop_->Destroyed(previous->id)) {
              found = window;
              return true;
            }
          }
          return false;
        },
        timeout);
    return found;
  }

  // Opens a location in a file manager of its own, as the user would from a terminal. pcmanfm
  // sometimes crashes on a cold start; it is started once more then.
  ClientWindow OpenWindow(const FileManager& manager, const std::string& location,
                          const std::string& address) {
    for (int attempt = 1; attempt <= 2; ++attempt) {
      const pid_t pid =
          desktop_->Start({manager.name, location}, std::string(manager.name) + "-own.log");
      std::optional<ClientWindow> window;
      Poll(
          [&] {
            const std::vector<ClientWindow> windows =
                WindowsShowing(desktop_->ClientWindows(), manager, address);
            if (!windows.empty()) {
              window = windows.front();
            }
            return window || !desktop_->Running(pid);
          },
          kWindowTimeout);
      if (window) {
        desktop_->Watch(window->id);
        return *window;
      }
      std::cout << "[ retry    ] " << manager.name << " " << location << " ended without a window"
                << std::endl;
    }
    throw std::runtime_error(std::string(manager.name) + " showed no window of " + location);
  }

  pid_t StartProgram() {
    programLog_ = folder_->File("desktop/tarvelo-log.txt");
    return StartTarvelo(*desktop_, programLog_);
  }

  std::optional<ProgramWindow> WaitForProgramWindow(pid_t pid) {
    return WaitForTarveloWindow(*desktop_, pid);
  }

  QImage Screen() { return ToImage(desktop_->Grab()); }
  QImage Screen(const QRect& area) {
    return ToImage(desktop_->Grab({area.x(), area.y(), area.width(), area.height()}));
  }

  // Brings the program's window to the front (a file manager's window may lie over it) and
  // clicks a point of it.
  void ClickInWindow(const ProgramWindow& window, QPoint point) {
    EXPECT_EQ(
        desktop_->Run({"xdotool", "windowactivate", "--sync", std::to_string(window.id)}).status,
        0);
    const QPoint at = window.place.topLeft() + point;
    EXPECT_EQ(desktop_
                  ->Run({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()),
                         "click", "1"})
                  .status,
              0);
    EXPECT_EQ(desktop_
                  ->Run({"xdotool", "mousemove", std::to_string(kParkingSpot.x()),
                         std::to_string(kParkingSpot.y())})
                  .status,
              0);
  }

  ButtonLook Look(const ProgramWindow& window, const QRect& button) {
    return cells_->Classify(Screen(button.translated(window.place.topLeft())));
  }

  // A screenshot of the whole desktop, once it has stopped changing (a window that just mapped
  // may still be drawing its contents).
  void SaveScreenshot(const std::string& name) {
    QImage previous;
    Poll(
        [&] {
          QImage now = Screen();
          const bool same = now == previous;
          previous = std::move(now);
          return same;
        },
        kStateTimeout, 300ms);
    SaveArtefact(previous, name);
  }

  void SaveProgramLog(const std::string& name) {
    if (programLog_.empty()) {
      return;
    }
    const std::string path = ArtefactPath(name);
    std::ofstream(path, std::ios::trunc) << testsupport::ReadFile(programLog_);
    std::cout << "[ artefact ] " << path << std::endl;
  }

  // The desktop's programs' own output and smbd's, for a failure's post-mortem.
  void SaveLogs(const std::string& name) {
    const fs::path target = ArtefactPath(name);
    fs::remove_all(target);
    fs::create_directories(target);
    for (const fs::path folder : {folder_->File("desktop"), folder_->File("samba")}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() == ".log") {
          fs::copy_file(entry.path(), target / entry.path().filename(),
                        fs::copy_options::overwrite_existing);
        }
      }
    }
    std::cout << "[ artefact ] " << target.string() << std::endl;
  }

  // The whole scenario with `manager` as the user's file manager; `other` shows the neighbour.
  void OpenDeviceTwice(const FileManager& manager, const FileManager& other);

  std::unique_ptr<ButtonCells> cells_;
  std::unique_ptr<testsupport::TemporaryDirectory> folder_;
  std::unique_ptr<testsupport::LabNetwork> lab_;
  std::vector<std::unique_ptr<testsupport::NasSimulator>> devices_;
  std::unique_ptr<testsupport::SambaServer> samba_;
  std::unique_ptr<testsupport::DesktopSession> desktop_;
  std::string signalLog_;
  std::string programLog_;
  std::string artefactPrefix_;
};

void DesktopE2E::OpenDeviceTwice(const FileManager& manager, const FileManager& other) {
  const std::string prefix = std::string("desktop-") + manager.name;
  artefactPrefix_ = prefix;
  ChooseFileManager(manager);

  // The neighbour's share is mounted and shown in a window of the other file manager.
  const std::string neighbourShare = std::string("smb://") + kNeighbour + "/public/";
  Mount(neighbourShare);
  const std::vector<GvfsMount> neighbourMounts = MountsOf(Mounts(), kNeighbour, "smb-share");
  ASSERT_EQ(neighbourMounts.size(), 1u)
      << "the neighbour's share is not mounted:" << Describe(Mounts());
  const GvfsMount neighbourMount = neighbourMounts.front();
  const ClientWindow neighbourWindow = OpenWindow(other, neighbourShare, kNeighbour);
  std::cout << "[ measured ] the neighbour's window: " << Describe(neighbourWindow) << std::endl;
  // Checks that the neighbour kept its window (the same X window, never destroyed) and its
  // mounted share.
  const auto expectNeighbourUntouched = [&](const char* when) {
    SCOPED_TRACE(when);
    const std::vector<ClientWindow> windows = desktop_->ClientWindows();
    EXPECT_TRUE(HasWindow(windows, neighbourWindow.id) && !desktop_->Destroyed(neighbourWindow.id))
        << "the neighbour's window " << Describe(neighbourWindow)
        << " was closed; windows now:" << Describe(windows);
    const std::vector<GvfsMount> mounts = Mounts();
    EXPECT_TRUE(Holds(mounts, neighbourMount))
        << "the neighbour's share was unmounted; mounts now:" << Describe(mounts);
  };

  // The program lists both devices; the device, heard last, is on top.
  const pid_t program = StartProgram();
  const std::optional<ProgramWindow> window = WaitForProgramWindow(program);
  ASSERT_TRUE(window) << "no 328x245 window of the program appeared; windows:"
                      << Describe(desktop_->ClientWindows());
  QImage screen;
  const bool listed = Poll(
      [&] {
        screen = Screen(window->place);
        return CountRows(screen.copy(kRowsArea)) == 2 &&
               Enabled(cells_->Classify(screen.copy(kRefreshButton)));
      },
      kCycleTimeout);
  ASSERT_TRUE(listed) << "the search did not end with both devices listed (rows: "
                      << CountRows(screen.copy(kRowsArea)) << ")";
  ClickInWindow(*window, kFirstRow);
  ASSERT_TRUE(Poll([&] { return Enabled(Look(*window, kStorageButton)); }, kStateTimeout))
      << "My Storage did not come on when the device's row was chosen";

  // First My Storage: a window of the file manager shows the device, and GVFS holds the
  // device's server mount.
  auto started = Clock::now();
  ClickInWindow(*window, kStorageButton.center());
  const std::optional<ClientWindow> first =
      WaitForNewWindow(manager, kDevice, std::nullopt, kOpenTimeout);
  ASSERT_TRUE(first) << "no " << manager.name << " window showing " << kDevice
                     << " appeared; windows:" << Describe(desktop_->ClientWindows());
  std::cout << "[ measured ] first My Storage: " << Describe(*first) << " after "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
            << " ms" << std::endl;
  desktop_->Watch(first->id);
  SaveScreenshot(prefix + "-1-opened.png");
  EXPECT_TRUE(
      Poll([&] { return !MountsOf(Mounts(), kDevice, "smb-server").empty(); }, kStateTimeout))
      << "GVFS holds no server mount of the device:" << Describe(Mounts());
  expectNeighbourUntouched("after the first My Storage");

  // One of the device's shares is mounted as well, so that My Storage has a share mount to
  // drop besides the server's.
  Mount(std::string("smb://") + kDevice + "/media/");
  const std::vector<GvfsMount> before = MountsOf(Mounts(), kDevice);
  ASSERT_FALSE(MountsOf(before, kDevice, "smb-share").empty()) << Describe(before);
  const std::size_t signalsBefore = Signals().size();

  // Second My Storage: the old window is closed, every mount of the device is dropped, and a
  // new window shows the device's shares again.
  started = Clock::now();
  ClickInWindow(*window, kStorageButton.center());
  const std::optional<ClientWindow> second =
      WaitForNewWindow(manager, kDevice, first, kOpenTimeout);
  EXPECT_TRUE(second) << "no new " << manager.name << " window showing " << kDevice
                      << " appeared; windows:" << Describe(desktop_->ClientWindows());
  if (second) {
    std::cout
        << "[ measured ] second My Storage: " << Describe(*second) << " after "
        << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()
        << " ms" << std::endl;
  }
  EXPECT_TRUE(Poll([&] { return desktop_->Destroyed(first->id); }, kStateTimeout))
      << "the old window " << Describe(*first) << " is still open";
  SaveScreenshot(prefix + "-2-reopened.png");

  // Every mount of the device that GVFS held before the click was unmounted, and that before the
  // device's server was mounted anew.
  EXPECT_TRUE(
      Poll([&] { return !MountsOf(Mounts(), kDevice, "smb-server").empty(); }, kStateTimeout))
      << "GVFS holds no server mount of the device after the second My Storage:"
      << Describe(Mounts());
  // The monitor writes a signal down a moment after the tracker sent it.
  std::vector<TrackerSignal> all;
  std::vector<TrackerSignal> since;
  std::vector<TrackerSignal>::const_iterator remounted;
  Poll(
      [&] {
        all = Signals();
        since.assign(all.begin() + static_cast<std::ptrdiff_t>(signalsBefore), all.end());
        remounted = std::find_if(since.cbegin(), since.cend(), [](const TrackerSignal& s) {
          return s.mounted && s.mount.server == kDevice && s.mount.type == "smb-server";
        });
        return remounted != since.cend();
      },
      kStateTimeout);
  EXPECT_NE(remounted, since.cend()) << "the tracker reported no new server mount of the device";
  for (const GvfsMount& mount : before) {
    const bool unmountedFirst = std::any_of(since.cbegin(), remounted, [&](const TrackerSignal& s) {
      return !s.mounted && s.mount.SameAs(mount);
    });
    EXPECT_TRUE(unmountedFirst) << mount.stableName << " (" << mount.owner << " " << mount.path
                                << ") was not unmounted before the device was mounted anew";
  }
  expectNeighbourUntouched("after the second My Storage");
  const bool neighbourShareDropped = std::any_of(
      all.begin(), all.end(),
      [&](const TrackerSignal& s) { return !s.mounted && s.mount.SameAs(neighbourMount); });
  EXPECT_FALSE(neighbourShareDropped) << "the neighbour's share was unmounted on the way";
}

TEST_F(DesktopE2E, MyStorageInPcmanfmReopensTheDeviceAndLeavesItsNeighbourAlone) {
  OpenDeviceTwice(kPcmanfm, kThunar);
}

TEST_F(DesktopE2E, MyStorageInThunarReopensTheDeviceAndLeavesItsNeighbourAlone) {
  OpenDeviceTwice(kThunar, kPcmanfm);
}

// ---------------------------------------------------------------------------------------------
// Where the window opens, and that it keeps one size, under a window manager: the program alone
// in a private desktop session with openbox, no device answering.

class WindowPlacementE2E : public ::testing::Test {
 protected:
  // The session's screen.
  static constexpr QRect kScreen{0, 0, 1024, 768};

  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    for (const char* name : {"openbox", "dbus-daemon", "Xvfb", "xdotool"}) {
      if (testsupport::FindProgram(name).empty()) {
        GTEST_SKIP() << "the placement test needs " << name;
      }
    }
    ASSERT_EQ(::access(testsupport::BuiltProgram("tarvelo").c_str(), X_OK), 0)
        << "not built: " << testsupport::BuiltProgram("tarvelo");
    testsupport::BecomeSubreaper();
    folder_ = std::make_unique<testsupport::TemporaryDirectory>();
    lab_ = std::make_unique<testsupport::LabNetwork>();
    desktop_ = std::make_unique<testsupport::DesktopSession>(*lab_, folder_->Path());
    settings_ = desktop_->ConfigHome() + "/tarvelo/tarvelo.conf";
  }

  void TearDown() override {
    desktop_.reset();
    testsupport::ReapEndedChildren();
    lab_.reset();
  }

  void Xdotool(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(desktop_->Run(argv).status, 0) << "xdotool " << arguments.front();
  }

  // Starts the program with the pointer at `pointer` and returns its window once it has settled
  // where it opened.
  std::optional<ProgramWindow> Open(QPoint pointer) {
    Xdotool({"mousemove", std::to_string(pointer.x()), std::to_string(pointer.y())});
    program_ = StartTarvelo(*desktop_, folder_->File("tarvelo-log.txt"));
    std::optional<ProgramWindow> window = WaitForTarveloWindow(*desktop_, program_);
    if (window) {
      // The place once two readings in a row agree: the window manager may still move it.
      QPoint previous(-1, -1);
      Poll(
          [&] {
            const auto place = desktop_->Place(window->id);
            const QPoint now = place ? QPoint(place->x, place->y) : QPoint(-1, -1);
            const bool settled = now == previous;
            previous = now;
            return settled;
          },
          kStateTimeout, 200ms);
      window->place.moveTopLeft(previous);
    }
    return window;
  }

  // Closes the window with Escape, as a user would, and waits for the program to end.
  void Close(const ProgramWindow& window) {
    Xdotool({"windowactivate", "--sync", std::to_string(window.id), "key", "Escape"});
    EXPECT_TRUE(Poll([&] { return !desktop_->Running(program_); }, kStateTimeout))
        << "Escape did not close the window";
  }

  std::optional<QRect> Place(const ProgramWindow& window) {
    const auto place = desktop_->Place(window.id);
    if (!place) {
      return std::nullopt;
    }
    return QRect(place->x, place->y, place->width, place->height);
  }

  std::unique_ptr<testsupport::TemporaryDirectory> folder_;
  std::unique_ptr<testsupport::LabNetwork> lab_;
  std::unique_ptr<testsupport::DesktopSession> desktop_;
  std::string settings_;
  pid_t program_ = -1;
};

TEST_F(WindowPlacementE2E, CentredFirstThenWhereClosedAlwaysOnTheScreenAndOfOneSize) {
  const QPoint centred((kScreen.width() - kWindowWidth) / 2,
                       (kScreen.height() - kWindowHeight) / 2);
  ASSERT_FALSE(fs::exists(settings_));

  // The first start, with nothing remembered, opens in the middle of the screen under the
  // pointer.
  std::optional<ProgramWindow> window = Open(QPoint(200, 600));
  ASSERT_TRUE(window) << "no 328x245 window of the program appeared";
  EXPECT_EQ(window->place.topLeft(), centred);

  // The window manager offers to move the window, but neither to resize nor to maximise it, and
  // a request to maximise leaves it as it is.
  const std::vector<std::string> actions =
      desktop_->AtomNames(window->id, "_NET_WM_ALLOWED_ACTIONS");
  const auto offers = [&](const char* action) {
    return std::find(actions.begin(), actions.end(), action) != actions.end();
  };
  EXPECT_TRUE(offers("_NET_WM_ACTION_MOVE")) << "openbox does not manage the window";
  for (const char* action :
       {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}) {
    EXPECT_FALSE(offers(action)) << "the window manager offers " << action;
  }
  desktop_->AddWindowStates(window->id, "_NET_WM_STATE_MAXIMIZED_VERT",
                            "_NET_WM_STATE_MAXIMIZED_HORZ");
  std::optional<QRect> place;
  EXPECT_FALSE(Poll(
      [&] {
        place = Place(*window);
        return !place || place->size() != QSize(kWindowWidth, kWindowHeight);
      },
      1500ms))
      << "a maximise request gave the window the size " << place->width() << "x" << place->height();

  // Moved and closed, it opens where it was closed, wherever the pointer is.
  const QPoint moved(90, 140);
  Xdotool({"windowmove", std::to_string(window->id), std::to_string(moved.x()),
           std::to_string(moved.y())});
  EXPECT_TRUE(Poll(
      [&] {
        place = Place(*window);
        return place && place->topLeft() == moved;
      },
      kStateTimeout))
      << "xdotool did not move the window";
  Close(*window);
  EXPECT_TRUE(fs::exists(settings_)) << "the place was not remembered";
  window = Open(QPoint(900, 700));
  ASSERT_TRUE(window) << "no window at the second start";
  EXPECT_EQ(window->place.topLeft(), moved);
  Close(*window);

  // A remembered place that is no longer on the screen (a screen unplugged, a smaller one) is
  // not used as it is: the window opens whole on the screen.
  struct Case {
    const char* what;
    QPoint remembered;
    QPoint expected;
  };
  const Case cases[] = {
      {"wholly off the screen", QPoint(3000, 2000), centred},
      {"partly over the right and bottom edges", QPoint(900, 700),
       QPoint(kScreen.width() - kWindowWidth, kScreen.height() - kWindowHeight)},
      {"partly over the left and top edges", QPoint(-100, -50), QPoint(0, 0)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    {
      std::ofstream file(settings_, std::ios::trunc);
      file << "[window]\nposition=@Point(" << test.remembered.x() << ' ' << test.remembered.y()
           << ")\n";
      ASSERT_TRUE(file.good());
    }
    window = Open(QPoint(512, 384));
    ASSERT_TRUE(window) << "no window";
    EXPECT_EQ(window->place.topLeft(), test.expected);
    EXPECT_TRUE(kScreen.contains(window->place));
    Close(*window);
  }
}

}  // namespace
