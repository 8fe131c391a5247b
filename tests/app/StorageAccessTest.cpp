// "My Storage" as a sequence: what it asks of the desktop and in which order, that it touches
// only the device's own windows and mounts, that it runs one click at a time off the caller's
// thread, and what it falls back to when a part of the desktop is missing or fails.

#include "app/StorageAccess.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "PrivateXServer.h"
#include "ScopedEnvironment.h"

using namespace std::chrono_literals;
using testsupport::LogCapture;
using testsupport::PrivateXServer;
using testsupport::ScopedEnvironment;

namespace {

GvfsMount Mount(const char* name, GvfsMountItems items, bool visible = true) {
  GvfsMount mount;
  mount.dbusId = ":1.8";
  mount.objectPath = QStringLiteral("/org/gtk/vfs/mount/") + name;
  mount.displayName = name;
  mount.userVisible = visible;
  mount.items = std::move(items);
  return mount;
}

// The device 10.231.50.2 and its neighbour 10.231.50.20 as GVFS and the kernel list them.
const std::vector<GvfsMount> kGvfsMounts = {
    Mount("browse2", SmbServerItems("10.231.50.2"), false),
    Mount("public20", {{"type", "smb-share"}, {"server", "10.231.50.20"}, {"share", "public"}}),
    Mount(
        "public2",
        {{"type", "smb-share"}, {"server", "10.231.50.2"}, {"share", "public"}, {"user", "guest"}}),
    Mount("browse20", SmbServerItems("10.231.50.20"), false),
    Mount("ftp2", {{"type", "ftp"}, {"host", "10.231.50.2"}, {"port", "2121"}}),
};
const QByteArray kMountTable =
    "50 26 0:60 / /mnt/two rw - cifs //10.231.50.2/share rw\n"
    "51 26 0:61 / /mnt/twenty rw - cifs //10.231.50.20/share rw\n"
    "52 26 0:62 / /mnt/it's\\040\"odd\";\\040rm\\040-rf\\040`id` rw - smb3 //10.231.50.2/s rw\n";

// Records every request in order instead of carrying it out; each answer can be set.
class FakeStorageSystem : public StorageSystem {
 public:
  std::optional<int> CloseFileManagerWindows(const QString& address) override {
    Record("close windows " + address);
    // A test may hold the first sequence here to click again meanwhile.
    std::unique_lock<std::mutex> guard(mutex);
    ++inside;
    maxInside = std::max(maxInside, inside);
    released.wait(guard, [this] { return !hold; });
    --inside;
    return display ? std::optional<int>(1) : std::nullopt;
  }
  bool HasSessionBus() override { return bus; }
  std::optional<std::vector<GvfsMount>> ListGvfsMounts(QString* error) override {
    Record("list GVFS mounts");
    *error = "no tracker";
    return gvfsMounts;
  }
  QString UnmountGvfs(const GvfsMount& mount) override {
    Record("unmount " + mount.objectPath);
    return unmountFailure;
  }
  QString MountGvfs(const GvfsMountItems& items) override {
    Record("mount " + items.value("type") + " " + items.value("server"));
    return {};
  }
  std::optional<QByteArray> ReadMountTable() override {
    Record("mount table");
    return mountTable;
  }
  CommandOutcome RunCommand(const QStringList& argv, std::chrono::milliseconds) override {
    Record("run " + argv.join('|'));
    return commandOutcome;
  }
  QString NewStartupId() override { return "id_TIME7"; }
  bool FileManagerServiceIsPreferred() override { return preferred; }
  QString ShowFolder(const QString& location, const QString& startupId) override {
    Record("show " + location + " " + startupId);
    return showFailure;
  }
  QString OpenWithPreferredApplication(const QString& location, const QString& startupId) override {
    Record("xdg-open " + location + " " + startupId);
    return openFailure;
  }

  void Record(const QString& event) {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(event.toStdString());
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(mutex);
    return events;
  }
  void Release() {
    std::lock_guard<std::mutex> guard(mutex);
    hold = false;
    released.notify_all();
  }

  bool display = true;
  bool bus = true;
  bool preferred = true;
  std::optional<std::vector<GvfsMount>> gvfsMounts = kGvfsMounts;
  std::optional<QByteArray> mountTable = kMountTable;
  CommandOutcome commandOutcome{true, true, 0, {}, {}};
  QString unmountFailure, showFailure, openFailure;

  std::mutex mutex;
  std::condition_variable released;
  bool hold = false;
  int inside = 0;
  int maxInside = 0;
  std::vector<std::string> events;
};

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetStorageSystem(&fake); }
  void TearDown() override {
    fake.Release();
    EXPECT_TRUE(StorageAccess::Instance().WaitUntilIdle(10s));
    SetStorageSystem(nullptr);
  }
  // Runs one click to its end; whether it opened anything.
  bool Click(const QString& address) {
    std::atomic<int> opened{-1};
    OpenStorage(address, [&](const QString&, bool result) { opened = result ? 1 : 0; });
    EXPECT_TRUE(StorageAccess::Instance().WaitUntilIdle(10s));
    return opened == 1;
  }

  FakeStorageSystem fake;
  LogCapture log;
};

TEST_F(StorageTest, ClosesUnmountsAndOpensOnlyTheDevicesOwn) {
  EXPECT_TRUE(Click("10.231.50.2"));
  const std::vector<std::string> expected = {
      "close windows 10.231.50.2",
      "list GVFS mounts",
      "unmount /org/gtk/vfs/mount/browse2",
      "unmount /org/gtk/vfs/mount/public2",
      "unmount /org/gtk/vfs/mount/ftp2",
      "mount table",
      "run umount|/mnt/it's \"odd\"; rm -rf `id`",
      "run umount|/mnt/two",
      "mount smb-server 10.231.50.2",
      "show smb://10.231.50.2/ id_TIME7",
  };
  EXPECT_EQ(fake.Events(), expected);
  EXPECT_EQ(StorageAccess::Instance().targetPath, "smb://10.231.50.2/");
  EXPECT_EQ(log.CountContaining("My Storage: unmounted GVFS mount \"browse2\" (smb-server)"), 1u);

  // Without an address there is nothing to match, and nothing of the machine is touched.
  std::atomic<bool> called{false};
  OpenStorage("", [&](const QString&, bool) { called = true; });
  EXPECT_TRUE(StorageAccess::Instance().WaitUntilIdle(10s));
  EXPECT_EQ(fake.Events().size(), expected.size());
  EXPECT_FALSE(called);
}

// A device chooses the text of its address: only a plain dotted IPv4 address is ever opened.
TEST_F(StorageTest, OnlyADottedIPv4AddressIsOpened) {
  // The grammar of an address is the engine's own check (tested with the parsers); what is left
  // here is the way from the window's text to it.
  const std::pair<const char*, bool> addresses[] = {
      {"10.231.3.9", true},      {"", false},           {"evil.example/phish?x=", false},
      {"10.0.0.1 && id", false}, {"１０.0.0.1", false},  // full-width digits, which Latin-1 has not
      {"10.0.0.1\u00e9", false},                         // a Latin-1 letter after the address
  };
  for (const auto& [address, valid] : addresses) {
    SCOPED_TRACE(address);
    EXPECT_EQ(IsDottedIPv4(QString::fromUtf8(address)), valid);
  }
  // My Storage refuses the others without touching anything, and says that nothing opened.
  const std::size_t before = fake.Events().size();
  EXPECT_FALSE(Click("evil.example/phish?x="));
  EXPECT_FALSE(Click("10.0.0.1 && id"));
  EXPECT_EQ(fake.Events().size(), before);
  EXPECT_EQ(log.CountContaining("is not an IPv4 address: nothing opened"), 2u);
}

TEST_F(StorageTest, MissingOrFailingPartsOfTheDesktopAreLoggedAndSkipped) {
  struct Case {
    const char* name;
    std::function<void(FakeStorageSystem&)> setUp;
    std::vector<std::string> expected;  // after the window step
    bool opened;
    const char* logged;
    std::optional<std::string> waylandDisplay = std::nullopt;
  };
  const Case cases[] = {
      {"a Wayland session without an X display: the log says why no window is closed",
       [](FakeStorageSystem& f) {
         f.display = false;
         f.gvfsMounts.emplace();
         f.mountTable = "";
       },
       {"list GVFS mounts", "mount table", "mount smb-server 10.231.50.20",
        "show smb://10.231.50.20/ id_TIME7"},
       true,
       "My Storage: Wayland session without an X display, file-manager windows of 10.231.50.20 "
       "cannot be closed",
       "wayland-9"},
      {"an X display in a Wayland session reaches only X11 windows",
       [](FakeStorageSystem& f) {
         f.gvfsMounts.emplace();
         f.mountTable = "";
       },
       {"list GVFS mounts", "mount table", "mount smb-server 10.231.50.20",
        "show smb://10.231.50.20/ id_TIME7"},
       true,
       "My Storage: Wayland session, only X11 file-manager windows of 10.231.50.20 looked for",
       "wayland-9"},
      {"no display, no session bus",
       [](FakeStorageSystem& f) {
         f.display = false;
         f.bus = false;
         f.mountTable.reset();
       },
       {"mount table", "xdg-open smb://10.231.50.20/ id_TIME7"},
       true,
       "My Storage: no session bus, GVFS mounts of 10.231.50.20 not looked for"},
      {"GVFS cannot be listed; the file manager service is not the user's",
       [](FakeStorageSystem& f) {
         f.gvfsMounts.reset();
         f.mountTable = "";
         f.preferred = false;
       },
       {"list GVFS mounts", "mount table", "mount smb-server 10.231.50.20",
        "xdg-open smb://10.231.50.20/ id_TIME7"},
       true,
       "My Storage: GVFS mounts cannot be listed: no tracker"},
      {"a mount only root may remove stays, the reason is logged",
       [](FakeStorageSystem& f) {
         f.gvfsMounts.emplace();
         f.commandOutcome = {true, true, 32, "umount: /mnt/twenty: must be superuser\n", {}};
       },
       {"list GVFS mounts", "mount table", "run umount|/mnt/twenty",
        "mount smb-server 10.231.50.20", "show smb://10.231.50.20/ id_TIME7"},
       true,
       "My Storage: umount /mnt/twenty failed (exit status 32): umount: /mnt/twenty: must be "
       "superuser"},
      {"the file manager service fails, xdg-open fails too",
       [](FakeStorageSystem& f) {
         f.gvfsMounts.emplace();
         f.mountTable = "";
         f.showFailure = "org.freedesktop.DBus.Error.NoReply: no reply";
         f.openFailure = "xdg-open: no application is set up to open it";
       },
       {"list GVFS mounts", "mount table", "mount smb-server 10.231.50.20",
        "show smb://10.231.50.20/ id_TIME7", "xdg-open smb://10.231.50.20/ id_TIME7"},
       false,
       "My Storage: smb://10.231.50.20/ not opened: xdg-open: no application is set up to open "
       "it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedEnvironment wayland("WAYLAND_DISPLAY", c.waylandDisplay);
    FakeStorageSystem fresh;
    c.setUp(fresh);
    SetStorageSystem(&fresh);
    log.Clear();
    EXPECT_EQ(Click("10.231.50.20"), c.opened);
    std::vector<std::string> events = fresh.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "close windows 10.231.50.20");
    events.erase(events.begin());
    EXPECT_EQ(events, c.expected);
    EXPECT_EQ(log.CountContaining(c.logged), 1u) << log.Contents();
  }
  SetStorageSystem(&fake);
}

TEST_F(StorageTest, OneSequenceAtATimeAndOnlyTheLatestWaitingClick) {
  fake.gvfsMounts.emplace();
  fake.mountTable = "";
  fake.hold = true;
  std::mutex mutex;
  std::vector<std::string> finished;
  const auto record = [&](const QString& address, bool) {
    std::lock_guard<std::mutex> guard(mutex);
    finished.push_back(address.toStdString());
  };
  // The caller is never held up, even while a sequence waits on the desktop.
  const auto start = std::chrono::steady_clock::now();
  OpenStorage("10.231.50.2", record);
  // The next clicks come while the first sequence waits on the desktop.
  while (fake.Events().empty()) {
    std::this_thread::sleep_for(1ms);
  }
  OpenStorage("10.231.50.3", record);
  OpenStorage("10.231.50.4", record);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(StorageAccess::Instance().WaitUntilIdle(100ms));
  fake.Release();
  ASSERT_TRUE(StorageAccess::Instance().WaitUntilIdle(10s));

  EXPECT_EQ(finished, (std::vector<std::string>{"10.231.50.2", "10.231.50.4"}));
  EXPECT_EQ(fake.maxInside, 1);
  std::vector<std::string> closed;
  for (const std::string& event : fake.Events()) {
    if (event.rfind("close windows ", 0) == 0) {
      closed.push_back(event);
    }
  }
  EXPECT_EQ(closed,
            (std::vector<std::string>{"close windows 10.231.50.2", "close windows 10.231.50.4"}));
}

}  // namespace

// The window test plays the window manager on a private X server. Xlib's macros (None, Bool,
// Status, ...) clash with Qt's names, so its headers come after everything that uses Qt.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

TEST(CloseExplorerWindowsTest, WindowManagerIsAskedToCloseOnlyTheDevicesFileManagerWindows) {
  {
    ScopedEnvironment environment("DISPLAY", std::nullopt);
    EXPECT_EQ(CloseExplorerWindows("10.231.50.2"), 0);
  }
  const PrivateXServer server("320x240x24");
  if (server.Display().empty()) {
    GTEST_SKIP() << "Xvfb is not available";
  }
  ::Display* display = XOpenDisplay(server.Display().c_str());
  ASSERT_NE(display, nullptr);
  const Window root = DefaultRootWindow(display);
  // Client messages with the redirect mask reach the window manager, which is now this test.
  XSelectInput(display, root, SubstructureRedirectMask);
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  const auto makeWindow = [&](const char* instance, const char* className, const char* title,
                              bool utf8Title) {
    const Window window = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
    XClassHint hint{const_cast<char*>(instance), const_cast<char*>(className)};
    XSetClassHint(display, window, &hint);
    if (utf8Title) {
      XChangeProperty(display, window, netWmName, utf8String, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title), std::strlen(title));
    } else {
      XStoreName(display, window, title);
    }
    return window;
  };
  const Window thunar =
      makeWindow("thunar", "Thunar", "Windows shares on 10.231.50.2 - Thunar", true);
  const Window neighbour = makeWindow("pcmanfm", "Pcmanfm", "smb://10.231.50.20/", true);
  const Window pcmanfm = makeWindow("pcmanfm", "Pcmanfm", "smb://10.231.50.2/", false);
  const Window terminal = makeWindow("xterm", "XTerm", "smb://10.231.50.2/", true);
  const Window vanished = makeWindow("nemo", "Nemo", "smb://10.231.50.2/", true);
  XDestroyWindow(display, vanished);
  const long clients[] = {static_cast<long>(thunar), static_cast<long>(vanished),
                          static_cast<long>(terminal), static_cast<long>(neighbour),
                          static_cast<long>(pcmanfm)};
  XChangeProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(clients), 5);
  XSync(display, False);

  {
    ScopedEnvironment environment("DISPLAY", server.Display());
    EXPECT_EQ(CloseExplorerWindows("10.231.50.2"), 2);
  }

  XSync(display, False);
  const Atom closeWindow = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
  std::vector<Window> asked;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == ClientMessage && event.xclient.message_type == closeWindow) {
      asked.push_back(event.xclient.window);
    }
  }
  EXPECT_EQ(asked, (std::vector<Window>{thunar, pcmanfm}));
  XCloseDisplay(display);
}

}  // namespace
