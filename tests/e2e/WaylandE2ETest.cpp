// The real window on a Wayland desktop: the built program as a native Wayland client of a private,
// headless Weston, inside the network lab with simulated devices answering. What is checked is
// what a user of such a desktop sees: a window of the skin's size with its top corners cut (a
// Wayland compositor takes a window's mask for its input only, so the corners must be transparent
// pixels), the devices' rows drawn in its list, and that a second start, with the activation token
// a launcher gives it, ends at once while the first window stays.
//
// Weston, its screenshot client and the program all run inside the lab's engine namespace; they
// find each other through the compositor's socket file in a private runtime folder.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>

#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "NasSimulator.h"
#include "TemporaryDirectory.h"
#include "WindowLooks.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace e2e;

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
// The desktop's plain background, so that the window is told apart from it pixel by pixel.
constexpr QRgb kBackground = qRgb(0, 255, 0);
constexpr const char* kSocketName = "wl-tarvelo";

// Three devices that answer within a second of the search, so that the test stays short.
constexpr int kDevices = 3;
constexpr const char* kFirstDeviceAddress = "10.231.1.1";

constexpr auto kStartTimeout = 15s;
constexpr auto kExitTimeout = 10s;
constexpr auto kCommandTimeout = 10s;

bool WaylandToolsAvailable() {
  return !testsupport::FindProgram("weston").empty() &&
         !testsupport::FindProgram("weston-screenshooter").empty();
}

// True while a child process runs; one that has ended is not reaped here.
bool Running(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

// The rectangle of the screen whose pixels are not the background: the one window on it.
QRect WindowPlace(const QImage& screen) {
  int left = screen.width();
  int top = screen.height();
  int right = -1;
  int bottom = -1;
  for (int y = 0; y < screen.height(); ++y) {
    for (int x = 0; x < screen.width(); ++x) {
      if ((screen.pixel(x, y) & 0xffffff) != (kBackground & 0xffffff)) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

bool IsBackground(const QImage& image, int x, int y) {
  return (image.pixel(x, y) & 0xffffff) == (kBackground & 0xffffff);
}

class WaylandE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TARVELO_REQUIRE_LAB();
    if (!WaylandToolsAvailable()) {
      GTEST_SKIP() << "the Wayland test needs weston and weston-screenshooter";
    }
    ASSERT_EQ(::access(testsupport::BuiltProgram("tarvelo").c_str(), X_OK), 0)
        << "not built: " << testsupport::BuiltProgram("tarvelo");
    folder_ = std::make_unique<testsupport::TemporaryDirectory>();
    for (const char* name : {"home", "runtime", "data", "config", "shots"}) {
      fs::create_directory(folder_->File(name));
    }
    // Weston and Qt insist on a runtime folder only the user can enter.
    fs::permissions(folder_->File("runtime"), fs::perms::owner_all);
    std::ofstream(folder_->File("weston.ini")) << "[core]\nidle-time=0\n"
                                                  "[shell]\nbackground-color=0xff00ff00\n"
                                                  "panel-position=none\nlocking=false\n";
    lab_ = std::make_unique<testsupport::LabNetwork>();
    lab_->AddDeviceAddresses(kFirstDeviceAddress, kDevices);
    devices_ = std::make_unique<testsupport::NasSimulator>(
        *lab_, std::vector<std::string>{"--devices", std::to_string(kDevices), "--first-address",
                                        kFirstDeviceAddress, "--reply-delay", "100",
                                        "--reply-spread", "600"});
    StartCompositor();
  }

  void TearDown() override {
    if (lab_) {
      testsupport::EndNamespaceProcesses(lab_->EngineNamespace(), 2s);
      testsupport::ReapEndedChildren();
    }
  }

  std::string RuntimeFolder() const { return folder_->File("runtime"); }

  // Headless Weston with the CPU renderer (screenshots need one) and its debug protocol, which
  // lets the screenshot client in; the desktop shell on a plain background.
  void StartCompositor() {
    const std::vector<std::string> argv{testsupport::FindProgram("weston"),
                                        "--backend=headless-backend.so",
                                        std::string("--socket=") + kSocketName,
                                        "--idle-time=0",
                                        "--use-pixman",
                                        "--debug",
                                        "--width=" + std::to_string(kScreenWidth),
                                        "--height=" + std::to_string(kScreenHeight),
                                        "--config=" + folder_->File("weston.ini"),
                                        "--log=" + folder_->File("weston.log")};
    compositor_ =
        testsupport::StartInNamespace(*lab_, lab_->EngineNamespace(), argv,
                                      {"XDG_RUNTIME_DIR=" + RuntimeFolder(),
                                       "HOME=" + folder_->File("home"), "PATH=/usr/bin:/bin"},
                                      folder_->File("weston.err"));
    const std::string socket = RuntimeFolder() + "/" + kSocketName;
    const bool listening = testsupport::WaitUntil(
        [&] {
          struct stat status {};
          return (::stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) ||
                 !Running(compositor_);
        },
        kStartTimeout);
    ASSERT_TRUE(listening && Running(compositor_))
        << "Weston did not start:\n"
        << testsupport::ReadFile(folder_->File("weston.log"));
  }

  // The program as a native Wayland client, with a clean environment. WAYLAND_DEBUG makes the
  // client library trace every request on standard error, which goes to `errorLog`.
  pid_t StartProgram(const std::string& errorLog, const std::vector<std::string>& extra) {
    std::vector<std::string> environment{
        "WAYLAND_DISPLAY=" + std::string(kSocketName),
        "QT_QPA_PLATFORM=wayland",
        "XDG_RUNTIME_DIR=" + RuntimeFolder(),
        "HOME=" + folder_->File("home"),
        "XDG_DATA_HOME=" + folder_->File("data"),
        "XDG_CONFIG_HOME=" + folder_->File("config"),
        "PATH=/usr/bin:/bin",
        "LANG=C.UTF-8",
        "LC_ALL=C.UTF-8",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder_->File("no-session-bus")};
    environment.insert(environment.end(), extra.begin(), extra.end());
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) {
        environment.push_back(std::string(name) + "=" + value);
      }
    }
    return testsupport::StartInNamespace(*lab_, lab_->EngineNamespace(),
                                         {testsupport::BuiltProgram("tarvelo")}, environment,
                                         errorLog);
  }

  // The whole screen, as the compositor shows it; a null image when the screenshot failed.
  QImage Screenshot() const {
    const std::string shots = folder_->File("shots");
    for (const auto& entry : fs::directory_iterator(shots)) {
      fs::remove(entry.path());
    }
    // The client writes its picture into the folder it runs in.
    const testsupport::CommandResult result = testsupport::RunInNamespace(
        *lab_, lab_->EngineNamespace(),
        {"/bin/sh", "-c", "cd \"$1\" && exec weston-screenshooter", "sh", shots},
        {"WAYLAND_DISPLAY=" + std::string(kSocketName), "XDG_RUNTIME_DIR=" + RuntimeFolder(),
         "PATH=/usr/bin:/bin"},
        kCommandTimeout, folder_->File("screenshooter.err"));
    if (result.status != 0) {
      return {};
    }
    for (const auto& entry : fs::directory_iterator(shots)) {
      return QImage(QString::fromStdString(entry.path().string()));
    }
    return {};
  }

  // Members are destroyed in reverse order: the simulator, then the lab (which ends every program
  // still running in it), and the temporary folder last.
  std::unique_ptr<testsupport::TemporaryDirectory> folder_;
  std::unique_ptr<testsupport::LabNetwork> lab_;
  std::unique_ptr<testsupport::NasSimulator> devices_;
  pid_t compositor_ = -1;
};

TEST_F(WaylandE2E, NativeWindowWithCutCornersRowsAndASecondStartWithAToken) {
  const auto started = Clock::now();
  const std::string firstErrors = folder_->File("first.err");
  const pid_t program = StartProgram(firstErrors, {"WAYLAND_DEBUG=1"});

  // The devices' rows in a window of the skin's size: the window is found as what is not the
  // desktop's background, and its rows are counted as the X11 test counts them.
  QImage screen;
  QRect place;
  int rows = 0;
  const bool drawn = testsupport::WaitUntil(
      [&] {
        screen = Screenshot();
        if (screen.isNull()) {
          return false;
        }
        place = WindowPlace(screen);
        if (place.size() != QSize(kWindowWidth, kWindowHeight)) {
          return false;
        }
        rows = CountRows(screen.copy(place).copy(kRowsArea));
        return rows == kDevices;
      },
      kStartTimeout);
  if (!screen.isNull()) {
    SaveArtefact(screen, "wayland-window.png");
  }
  ASSERT_TRUE(drawn) << "window at " << place.x() << ',' << place.y() << ' ' << place.width() << 'x'
                     << place.height() << " with " << rows << " rows; program "
                     << (Running(program) ? "running" : "gone") << "; its errors:\n"
                     << testsupport::ReadFile(firstErrors).substr(0, 4000);

  // A native client: its requests went over the Wayland connection as an xdg-shell top-level
  // (through XWayland there would be none).
  EXPECT_NE(testsupport::ReadFile(firstErrors).find("xdg_toplevel@"), std::string::npos)
      << "no xdg_toplevel request in the program's Wayland trace";

  // The top corners are cut: the background shows through the first pixels of the top row and
  // down the first rows of the side, and not at the bottom corners, which are square.
  const QImage window = screen.copy(place.adjusted(-1, -1, 1, 1));
  const int right = window.width() - 2;
  const int bottom = window.height() - 2;
  EXPECT_TRUE(IsBackground(window, 1, 1)) << "the top left corner is drawn square";
  EXPECT_TRUE(IsBackground(window, right, 1)) << "the top right corner is drawn square";
  EXPECT_FALSE(IsBackground(window, 1, bottom));
  EXPECT_FALSE(IsBackground(window, right, bottom));
  EXPECT_FALSE(IsBackground(window, window.width() / 2, 1));

  // A second start, as a launcher makes it with an activation token: it hands the token over and
  // ends at once with status 0; the first window stays, and no second window appears.
  const auto second = Clock::now();
  const pid_t again =
      StartProgram(folder_->File("second.err"), {"XDG_ACTIVATION_TOKEN=e2e-launcher-token"});
  EXPECT_EQ(testsupport::WaitForChild(again, kExitTimeout), 0)
      << testsupport::ReadFile(folder_->File("second.err"));
  EXPECT_LT(Clock::now() - second, 5s) << "the second start did not end quickly";
  EXPECT_TRUE(Running(program)) << "the first window ended";
  const QImage after = Screenshot();
  ASSERT_FALSE(after.isNull());
  EXPECT_EQ(WindowPlace(after), place) << "the screen shows another window or none";

  EXPECT_LT(Clock::now() - started, 20s) << "the Wayland test took too long";
}

}  // namespace
