// Which mounts and windows belong to a device: hosts of GVFS locations and mount descriptions,
// kernel share sources, and the titles real file managers give their windows, always against a
// device whose address is the start of another's (.2 and .20).

#include <gtest/gtest.h>

#include "platform/FileManagerWindows.h"
#include "platform/GvfsMounts.h"
#include "platform/HostMatch.h"
#include "platform/MountTable.h"

namespace {

constexpr char kDevice[] = "10.231.50.2";

TEST(HostMatchTest, HostsOfLocationsAndSourcesAreExact) {
  struct Case {
    QString host;  // as extracted
    bool device;   // whether it is kDevice
  };
  const Case cases[] = {
      {UriHost("smb://10.231.50.2/"), true},
      {UriHost("smb://10.231.50.2"), true},
      {UriHost("smb://10.231.50.2/public/docs/a%20b"), true},
      {UriHost("smb://guest@10.231.50.2:445/public/"), true},
      {UriHost("smb://WORKGROUP;guest@10.231.50.2/"), true},
      {UriHost("smb://10.231.50.2?x=1"), true},
      {UriHost("sftp://10.231.50.2:2222/home"), true},
      {UriHost("smb://10.231.50.20/public/"), false},
      {UriHost("smb://10.231.50.2x/"), false},
      {UriHost("smb://110.231.50.2/"), false},
      {UriHost("smb://host/10.231.50.2/"), false},
      {UriHost("smb://evil@host/?10.231.50.2"), false},
      {UriHost("10.231.50.2"), false},
      {UriHost("smb://[fe80::2]/"), false},
      {ShareSourceHost("//10.231.50.2/public"), true},
      {ShareSourceHost("//10.231.50.2/my share/sub"), true},
      {ShareSourceHost("\\\\10.231.50.2\\public"), true},
      {ShareSourceHost("//10.231.50.2"), true},
      {ShareSourceHost("//10.231.50.20/public"), false},
      {ShareSourceHost("10.231.50.2:/export"), false},
      {ShareSourceHost("user@10.231.50.2:/"), false},
      {HostOnly("guest@10.231.50.2:445"), true},
      {HostOnly("[10.231.50.2]"), true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(SameHost(cases[i].host, kDevice), cases[i].device) << cases[i].host.toStdString();
  }
  EXPECT_EQ(UriHost("smb://[fe80::2]:445/"), "fe80::2");
  EXPECT_TRUE(SameHost("NAS.local", "nas.LOCAL"));
  EXPECT_FALSE(SameHost("", ""));
}

TEST(HostMatchTest, GvfsMountsBelongByTheirServerOrHostItem) {
  struct Case {
    GvfsMountItems items;
    bool device;
  };
  const Case cases[] = {
      {SmbServerItems(kDevice), true},
      {{{"type", "smb-share"}, {"server", "10.231.50.2"}, {"share", "public"}, {"user", "x"}},
       true},
      {{{"type", "ftp"}, {"host", "10.231.50.2"}, {"port", "2121"}}, true},
      {{{"type", "smb-share"}, {"server", "10.231.50.20"}, {"share", "10.231.50.2"}}, false},
      {{{"type", "smb-server"}, {"server", "10.231.50.2x"}}, false},
      {{{"type", "trash"}}, false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    GvfsMount mount;
    mount.items = cases[i].items;
    EXPECT_EQ(SameHost(mount.Host(), kDevice), cases[i].device);
  }
}

TEST(HostMatchTest, FileManagerTitlesHoldTheAddressAsAWholeToken) {
  struct Case {
    const char *instance, *className, *title;
    bool device;
  };
  const Case cases[] = {
      // The titles the file managers give the server's root and a share's root.
      {"pcmanfm", "Pcmanfm", "smb://10.231.50.2/", true},
      {"Thunar", "Thunar", "Windows shares on 10.231.50.2 - Thunar", true},
      {"Thunar", "Thunar", "public on 10.231.50.2 - Thunar", true},
      {"org.gnome.Nautilus", "org.gnome.Nautilus", "Windows shares on 10.231.50.2", true},
      {"nemo", "Nemo", "public on 10.231.50.2", true},
      {"caja", "Caja", "Windows shares on 10.231.50.2", true},
      {"pcmanfm-qt", "pcmanfm-qt", "Windows shares on 10.231.50.2", true},
      {"dolphin", "dolphin", "10.231.50.2 — Dolphin", true},
      {"nautilus", "Nautilus", "\\\\10.231.50.2\\public", true},
      {"nautilus", "Nautilus", "Freigaben auf 10.231.50.2", true},
      {"nautilus", "Nautilus", "10.231.50.2 上的共享", true},
      // Another device's windows, look-alikes, and views titled with the share name alone.
      {"pcmanfm", "Pcmanfm", "smb://10.231.50.20/", false},
      {"Thunar", "Thunar", "Windows shares on 10.231.50.20 - Thunar", false},
      {"nemo", "Nemo", "public on 110.231.50.2", false},
      {"caja", "Caja", "10.231.50.2x", false},
      {"caja", "Caja", "10.231.50.2.backup", false},
      {"caja", "Caja", "host-10.231.50.2", false},
      {"dolphin", "dolphin", "public — Dolphin", false},
      // Not a file manager.
      {"xterm", "XTerm", "smb://10.231.50.2/", false},
      {"nautilus-extra", "NautilusExtra", "smb://10.231.50.2/", false},
      {"NAUTILUS", "NAUTILUS", "smb://10.231.50.2/", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.instance) + " / " + c.title);
    EXPECT_EQ(IsFileManagerWindowOf(c.instance, c.className, c.title, kDevice), c.device);
  }
  EXPECT_FALSE(IsFileManagerWindowOf("pcmanfm", "Pcmanfm", "smb://10.231.50.2/", ""));
}

TEST(MountTableTest, ParsesFieldsEscapesAndOptionalFields) {
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

TEST(MountTableTest, SharesOfTheDeviceNewestFirst) {
  // The device, its neighbour .20, shares of other kinds and a newer share whose recycled mount
  // identifier is lower.
  const QByteArray table =
      "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
      "50 26 0:60 / /mnt/two rw,relatime - cifs //10.231.50.2/share rw,vers=3.1.1\n"
      "52 26 0:62 / /mnt/twenty rw shared:7 - smb3 //10.231.50.20/media rw\n"
      "53 26 0:63 / /mnt/nfs rw - nfs 10.231.50.2:/export rw\n"
      "54 26 0:64 / /mnt/fuse rw - fuse.sshfs user@10.231.50.2:/ rw\n"
      "30 26 0:65 / /mnt/new\\040one rw - smb3 //10.231.50.2/x rw\n";
  QStringList found;
  for (const MountInfoEntry& entry : ShareMountsOf(table, kDevice)) {
    found << entry.mountPoint;
  }
  EXPECT_EQ(found, (QStringList{"/mnt/new one", "/mnt/two"}));
  EXPECT_TRUE(ShareMountsOf(table, "").empty());
}

}  // namespace
