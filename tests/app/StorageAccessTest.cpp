// "My Storage": which mounts and windows of a device are found, the exact commands that drop
// them, and that the commands and the file manager really start without a shell.

#include "app/StorageAccess.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PrivateXServer.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"

using namespace std::chrono_literals;
using testsupport::PrivateXServer;
using testsupport::ReadFile;
using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

namespace {

// Records every request in order instead of carrying it out.
class FakeStorageSystem : public StorageSystem {
 public:
  QString MountInfoPath() override {
    Record("mountinfo");
    return mountInfoPath;
  }
  std::optional<QByteArray> ListGvfsMounts() override {
    Record("gio mount -l");
    return gvfsListing;
  }
  bool StartDetached(const QStringList& argv) override {
    Record("start " + argv.join(QLatin1Char(' ')).toStdString());
    std::lock_guard<std::mutex> guard(mutex);
    commands.push_back(argv);
    return true;
  }
  void Pause(std::chrono::milliseconds duration) override {
    Record("pause " + std::to_string(duration.count()));
  }
  int CloseFileManagerWindows(const QString& address) override {
    Record("close windows " + address.toStdString());
    return 0;
  }
  void OpenLocation(const QString& location) override { Record("open " + location.toStdString()); }

  void Record(const std::string& event) {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(event);
  }

  QString mountInfoPath;
  std::optional<QByteArray> gvfsListing;
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<QStringList> commands;
};

// Installs a fake for one test and always puts the real system back.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetStorageSystem(&fake); }
  void TearDown() override {
    EXPECT_TRUE(StorageAccess::Instance().WaitForOpeningThreads(10s));
    SetStorageSystem(nullptr);
  }
  void WriteMountInfo(const std::string& text) {
    std::ofstream(directory.File("mountinfo"), std::ios::binary) << text;
    fake.mountInfoPath = QString::fromStdString(directory.File("mountinfo"));
  }

  TemporaryDirectory directory;
  FakeStorageSystem fake;
};

// Two devices and their neighbours as the kernel lists them: one mount of 192.168.1.2, one of
// 192.168.1.25 with a space in its mount point, one of another device, an NFS and a FUSE mount of
// 192.168.1.2 that are not shares, and a newer share whose recycled mount id is lower.
const char kMountInfo[] =
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "50 26 0:60 / /mnt/two rw,relatime - cifs //192.168.1.2/share rw,vers=3.1.1\n"
    "51 26 0:61 / /mnt/other rw shared:4 - cifs //192.168.1.3/public rw\n"
    "52 26 0:62 / /mnt/twenty\\040five rw shared:7 master:2 - smb3 //192.168.1.25/media rw\n"
    "53 26 0:63 / /mnt/nfs rw - nfs 192.168.1.2:/export rw\n"
    "54 26 0:64 / /mnt/fuse rw - fuse.sshfs user@192.168.1.2:/ rw\n"
    "30 26 0:65 / /mnt/reused rw - cifs //192.168.1.29/x rw\n";

const char kGioListing[] =
    "Drive(0): QEMU HARDDISK\n"
    "  Type: GProxyDrive (GProxyVolumeMonitorUDisks2)\n"
    "  Volume(0): data\n"
    "    Mount(0): data -> file:///media/data\n"
    "Volume(0): share on 192.168.1.2 -> smb://192.168.1.2/volume/\n"
    "Mount(0): share on 192.168.1.2 -> smb://192.168.1.2/share/\n"
    "  Type: GDaemonMount\n"
    "Mount(1): media on 192.168.1.21 -> smb://192.168.1.21/media/\n"
    "Mount(2): public on 192.168.1.3 -> smb://192.168.1.3/public/\n"
    "Mount(3): a -> b on 192.168.1.2 -> smb://192.168.1.2/a%20-%3E%20b/\n";

TEST(MountInfoTest, ParsesFieldsEscapesAndOptionalFields) {
  struct Case {
    const char* line;
    bool parsed;
    int mountId;
    QString mountPoint, fsType, source;
  };
  const Case cases[] = {
      {"36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", true, 36,
       "/mnt2", "ext3", "/dev/root"},
      {"40 26 0:50 / /mnt/nas\\040share rw - cifs //192.168.1.2/my\\040share rw", true, 40,
       "/mnt/nas share", "cifs", "//192.168.1.2/my share"},
      {"41 26 0:51 / /m/a\\011b\\012c\\134d rw shared:5 master:3 propagate_from:1 - smb3 //h/s rw",
       true, 41, "/m/a\tb\nc\\d", "smb3", "//h/s"},
      // A backslash without three octal digits after it stands for itself.
      {"42 26 0:52 / /m/x\\9\\04 rw - tmpfs none rw", true, 42, "/m/x\\9\\04", "tmpfs", "none"},
      // A mount point named "-" is not the separator.
      {"43 26 0:53 / - rw - tmpfs tmpfs rw", true, 43, "-", "tmpfs", "tmpfs"},
      {"garbage", false, 0, {}, {}, {}},
      {"1 2 0:1 / /m rw no separator here", false, 0, {}, {}, {}},
      {"1 2 0:1 / /m rw - cifs", false, 0, {}, {}, {}},
      {"x 2 0:1 / /m rw - cifs //h/s rw", false, 0, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::vector<MountInfoEntry> entries = ParseMountInfo(QByteArray(c.line) + "\n");
    ASSERT_EQ(entries.size(), c.parsed ? 1u : 0u);
    if (c.parsed) {
      EXPECT_EQ(entries[0].mountId, c.mountId);
      EXPECT_EQ(entries[0].mountPoint, c.mountPoint);
      EXPECT_EQ(entries[0].fsType, c.fsType);
      EXPECT_EQ(entries[0].source, c.source);
    }
  }
}

TEST_F(StorageTest, SharesOfTheAddressAreUnmountedNewestFirst) {
  WriteMountInfo(kMountInfo);
  struct Case {
    QString address;
    QStringList mountPoints;  // newest first
  };
  const Case cases[] = {
      // 192.168.1.2 is also part of 192.168.1.25 and 192.168.1.29.
      {"192.168.1.2", {"/mnt/reused", "/mnt/twenty five", "/mnt/two"}},
      {"192.168.1.3", {"/mnt/other"}},
      {"192.168.1.4", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address.toStdString());
    const std::vector<MappedDrive> drives = CollectMappedDrives(c.address);
    QStringList found;
    for (const MappedDrive& drive : drives) {
      found.append(drive.localName);
      EXPECT_TRUE(drive.remoteName.startsWith("//" + c.address)) << drive.remoteName.toStdString();
      EXPECT_TRUE(drive.secondText.isEmpty() && drive.thirdText.isEmpty());
      EXPECT_EQ(drive.number, 0);
    }
    EXPECT_EQ(found, c.mountPoints);

    fake.commands.clear();
    DeleteMappedDrives(c.address);
    std::vector<QStringList> expected;
    for (const QString& mountPoint : c.mountPoints) {
      expected.push_back({"umount", mountPoint});
    }
    EXPECT_EQ(fake.commands, expected);
  }
}

TEST_F(StorageTest, MissingMountTableUnmountsNothing) {
  fake.mountInfoPath = QString::fromStdString(directory.File("absent"));
  EXPECT_TRUE(CollectMappedDrives("192.168.1.2").empty());
  DeleteMappedDrives("192.168.1.2");
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(StorageTest, GvfsMountsOfTheAddressAreUnmountedByLocation) {
  fake.gvfsListing = QByteArray(kGioListing);
  EXPECT_TRUE(DeleteConnections("192.168.1.2"));
  const std::vector<QStringList> expected = {
      {"gio", "mount", "-u", "smb://192.168.1.2/share/"},
      {"gio", "mount", "-u", "smb://192.168.1.21/media/"},
      {"gio", "mount", "-u", "smb://192.168.1.2/a%20-%3E%20b/"},
  };
  EXPECT_EQ(fake.commands, expected);

  fake.commands.clear();
  fake.gvfsListing.reset();
  EXPECT_FALSE(DeleteConnections("192.168.1.2"));
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(StorageTest, NamesWithShellCharactersStayOneArgument) {
  const QString odd = "it's \"odd\"; rm -rf $HOME `id` | x";
  WriteMountInfo(
      "60 26 0:70 / /mnt/it's\\040\"odd\";\\040rm\\040-rf\\040$HOME\\040`id`\\040|\\040x "
      "rw - cifs //192.168.1.2/s rw\n");
  fake.gvfsListing = "Mount(0): s on 192.168.1.2 -> smb://192.168.1.2/" + odd.toUtf8() + "\n";
  DeleteConnections("192.168.1.2");
  DeleteMappedDrives("192.168.1.2");
  const std::vector<QStringList> expected = {
      {"gio", "mount", "-u", "smb://192.168.1.2/" + odd},
      {"umount", "/mnt/" + odd},
  };
  EXPECT_EQ(fake.commands, expected);
}

TEST_F(StorageTest, OpenStorageClosesDeletesAndOpensInThatOrder) {
  WriteMountInfo(kMountInfo);
  fake.gvfsListing = QByteArray(kGioListing);
  OpenStorage("192.168.1.3");
  ASSERT_TRUE(StorageAccess::Instance().WaitForOpeningThreads(10s));
  const std::vector<std::string> expected = {
      "close windows 192.168.1.3",
      "gio mount -l",
      "start gio mount -u smb://192.168.1.3/public/",
      "pause 100",
      "mountinfo",
      "start umount /mnt/other",
      "pause 100",
      "open smb://192.168.1.3/",
  };
  EXPECT_EQ(fake.events, expected);
  EXPECT_EQ(StorageAccess::Instance().targetPath, "smb://192.168.1.3/");

  // Without an address there is nothing to match, and nothing of the machine is touched.
  fake.events.clear();
  OpenStorage("");
  ASSERT_TRUE(StorageAccess::Instance().WaitForOpeningThreads(10s));
  EXPECT_TRUE(fake.events.empty());
}

TEST(FileManagerWindowTest, KnownFileManagersShowingTheDeviceMatch) {
  struct Case {
    const char *instance, *className, *title, *address;
    bool matches;
  };
  const Case cases[] = {
      {"org.gnome.Nautilus", "org.gnome.Nautilus", "smb://192.168.1.2/share", "192.168.1.2", true},
      {"nautilus", "Nautilus", "\\\\192.168.1.2", "192.168.1.2", true},
      {"dolphin", "dolphin", "share — smb://192.168.1.25/ — Dolphin", "192.168.1.2", true},
      {"Thunar", "thunar", "smb://192.168.1.2/", "192.168.1.2", true},
      {"nemo", "Nemo", "smb://192.168.1.2/", "192.168.1.2", true},
      {"caja", "Caja", "smb://192.168.1.2/", "192.168.1.2", true},
      {"pcmanfm", "Pcmanfm", "smb://192.168.1.2/", "192.168.1.2", true},
      {"pcmanfm-qt", "pcmanfm-qt", "smb://192.168.1.2/", "192.168.1.2", true},
      // Not a file manager, or a file manager elsewhere.
      {"xterm", "XTerm", "smb://192.168.1.2/", "192.168.1.2", false},
      {"Nautilus-extra", "NAUTILUS", "smb://192.168.1.2/", "192.168.1.2", false},
      {"nautilus", "Nautilus", "smb://192.168.1.3/", "192.168.1.2", false},
      {"nautilus", "Nautilus", "192.168.1.2", "192.168.1.2", false},
      {"nautilus", "Nautilus", "smb://192.168.1.2/", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.instance) + " / " + c.title);
    EXPECT_EQ(IsFileManagerWindowOf(c.instance, c.className, c.title, c.address), c.matches);
  }
}

TEST(CloseExplorerWindowsTest, WithoutDisplayNothingHappens) {
  for (const std::optional<std::string>& display : {std::optional<std::string>(), {""}}) {
    ScopedEnvironment environment("DISPLAY", display);
    EXPECT_EQ(CloseExplorerWindows("192.168.1.2"), 0);
  }
}

// Writes an executable shell script that stores its arguments, NUL-separated, followed by where
// its three standard streams lead, in `record`. It writes a side file first and renames it, so a
// record that exists is complete.
void WriteRecordingScript(const std::string& path, const std::string& record) {
  std::ofstream(path) << "#!/bin/sh\n"
                      << "streams=\"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
                         "$(readlink /proc/$$/fd/2)\"\n"
                      << "for argument in \"$@\"; do printf '%s\\0' \"$argument\"; done > '"
                      << record << ".part'\n"
                      << "printf '%s' \"$streams\" >> '" << record << ".part'\n"
                      << "mv '" << record << ".part' '" << record << "'\n";
  ::chmod(path.c_str(), 0755);
}

// Polls for a file that another process writes; empty when it did not appear in time.
std::string AwaitFile(const std::string& path) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (::access(path.c_str(), F_OK) == 0) {
      return ReadFile(path);
    }
    std::this_thread::sleep_for(20ms);
  }
  return {};
}

TEST(RunHiddenCommandTest, ArgumentsArriveUnchangedAndNothingIsLeftToReap) {
  TemporaryDirectory directory;
  WriteRecordingScript(directory.File("record-args"), directory.File("record"));
  const QStringList arguments = {
      "plain", "two words", "it's \"quoted\"", "a;b && c | d", "$HOME `id` $(id)",
      "*",     "",          "line\nbreak"};

  const auto start = std::chrono::steady_clock::now();
  RunHiddenCommand(QStringList{QString::fromStdString(directory.File("record-args"))} + arguments);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

  std::string expected;
  for (const QString& argument : arguments) {
    expected += argument.toStdString() + '\0';
  }
  expected += "/dev/null /dev/null /dev/null";
  EXPECT_EQ(AwaitFile(directory.File("record")), expected);

  // A program that does not exist is simply not started.
  RunHiddenCommand({QString::fromStdString(directory.File("missing"))});

  // The started program was never this process's child to wait for, or has been reaped already.
  int result = 0;
  int error = 0;
  for (int attempt = 0; attempt < 250; ++attempt) {
    result = ::waitpid(-1, nullptr, WNOHANG);
    error = errno;
    if (result != 0) {
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, ECHILD);
}

TEST(OpenServerInExplorerTest, TheFileManagerIsAskedForTheServerLocation) {
  TemporaryDirectory directory;
  WriteRecordingScript(directory.File("xdg-open"), directory.File("record"));
  const char* path = std::getenv("PATH");
  ScopedEnvironment environment("PATH", directory.Path() + ":" + (path != nullptr ? path : ""));

  StorageAccess::Instance().OpenServerInExplorer("192.168.1.7");
  EXPECT_EQ(StorageAccess::Instance().targetPath, "smb://192.168.1.7/");
  ASSERT_TRUE(StorageAccess::Instance().WaitForOpeningThreads(10s));
  EXPECT_EQ(AwaitFile(directory.File("record")),
            std::string("smb://192.168.1.7/\0/dev/null /dev/null /dev/null", 48));
}

}  // namespace

// The window test plays the window manager on a private X server. Xlib's macros (None, Bool,
// Status, ...) clash with Qt's names, so its headers come after everything that uses Qt.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

TEST(CloseExplorerWindowsTest, WindowManagerIsAskedToCloseTheDevicesFileManagerWindows) {
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
  const Window nautilus =
      makeWindow("org.gnome.Nautilus", "org.gnome.Nautilus", "smb://192.168.1.25/media", true);
  const Window thunar = makeWindow("thunar", "Thunar", "\\\\192.168.1.2", false);
  const Window terminal = makeWindow("xterm", "XTerm", "smb://192.168.1.2/", true);
  const Window elsewhere = makeWindow("dolphin", "dolphin", "smb://192.168.1.3/", true);
  const Window vanished = makeWindow("nemo", "Nemo", "smb://192.168.1.2/", true);
  XDestroyWindow(display, vanished);
  const long clients[] = {static_cast<long>(nautilus), static_cast<long>(vanished),
                          static_cast<long>(terminal), static_cast<long>(elsewhere),
                          static_cast<long>(thunar)};
  XChangeProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(clients), 5);
  XSync(display, False);

  {
    ScopedEnvironment environment("DISPLAY", server.Display());
    EXPECT_EQ(CloseExplorerWindows("192.168.1.2"), 2);
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
  EXPECT_EQ(asked, (std::vector<Window>{nautilus, thunar}));
  XCloseDisplay(display);
}

}  // namespace
