// Deployment of the skin into a temporary working folder: which files appear where, with which
// bytes, which layout document each system language gets, and how a folder or file in the way
// stops the start.

#include "app/SkinDeployment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>

#include "ScopedEnvironment.h"
#include "ScopedPermissionChecks.h"
#include "TemporaryDirectory.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScopedEnvironment;

// A deployed file, where the store and the controls look for it, and its resource.
struct SkinFile {
  const char* path;
  const char* type;
  int id;
};
constexpr char kLayout[] = "ORVAKSearchTools/WndLayoutInfo.xml";
// The layout file as an English system gets it.
constexpr SkinFile kLayoutFile = {kLayout, "XML", 150};
constexpr SkinFile kImageFiles[] = {
    {"ORVAKSearchTools/Picture/SearchDevice_BlackGround.bmp", "BMP", 158},
    {"ORVAKSearchTools/Picture/SearchDevice_BlackGround.png", "PNG", 146},
    {"ORVAKSearchTools/Picture/Brush.png", "PNG", 139},
    {"ORVAKSearchTools/Picture/logo.png", "PNG", 144},
    {"ORVAKSearchTools/Picture/headerbackground.png", "PNG", 147},
    {"ORVAKSearchTools/Picture/headerclip.png", "PNG", 148},
    {"ORVAKSearchTools/Picture/close.png", "PNG", 141},
    {"ORVAKSearchTools/Picture/ButtonMax.png", "PNG", 140},
    // The twins of twice the size come after the nine files of the window.
    {"ORVAKSearchTools/Picture/SearchDevice_BlackGround@2x.png", "PNG", 1146},
    {"ORVAKSearchTools/Picture/Brush@2x.png", "PNG", 1139},
    {"ORVAKSearchTools/Picture/logo@2x.png", "PNG", 1144},
    {"ORVAKSearchTools/Picture/headerbackground@2x.png", "PNG", 1147},
    {"ORVAKSearchTools/Picture/headerclip@2x.png", "PNG", 1148},
    {"ORVAKSearchTools/Picture/close@2x.png", "PNG", 1141},
    {"ORVAKSearchTools/Picture/ButtonMax@2x.png", "PNG", 1140},
};
// The eight images of the window come first in kImageFiles.
constexpr std::size_t kWindowImageCount = 8;

QByteArray ResourceBytes(int id, const char* type) {
  QFile resource(QStringLiteral(":/skin/%1/%2").arg(QLatin1String(type)).arg(id));
  return resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
}

// Compares whole files without printing a quarter megabyte of bitmap on a mismatch.
::testing::AssertionResult HasBytes(const std::string& path, const QByteArray& expected) {
  if (expected.isEmpty()) {
    return ::testing::AssertionFailure() << "the expected resource is empty or missing";
  }
  const std::string actual = testsupport::ReadFile(path);
  if (!fs::is_regular_file(path)) {
    return ::testing::AssertionFailure() << path << " is not a file";
  }
  if (actual != expected.toStdString()) {
    return ::testing::AssertionFailure() << path << " has " << actual.size() << " bytes, not the "
                                         << expected.size() << " bytes of its resource";
  }
  return ::testing::AssertionSuccess();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The three locale variables that decide the system language; an absent value unsets one.
struct Locale {
  std::optional<std::string> all;
  std::optional<std::string> messages;
  std::optional<std::string> lang;
};

class ScopedLocale {
 public:
  explicit ScopedLocale(const Locale& locale)
      : all_("LC_ALL", locale.all),
        messages_("LC_MESSAGES", locale.messages),
        lang_("LANG", locale.lang) {}

 private:
  ScopedEnvironment all_;
  ScopedEnvironment messages_;
  ScopedEnvironment lang_;
};

// A fresh working base folder and an English system for every test.
class SkinDeploymentTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return base_.File(relative); }

  testsupport::TemporaryDirectory base_;
  ScopedEnvironment dataHome_{"XDG_DATA_HOME", base_.Path()};
  ScopedLocale locale_{{"en_US.UTF-8", std::nullopt, std::nullopt}};
};

TEST_F(SkinDeploymentTest, WritesTheLayoutAndEveryImageWithTheBytesOfTheirResources) {
  ASSERT_TRUE(DeploySkinFiles());

  EXPECT_TRUE(HasBytes(Path(kLayout), ResourceBytes(150, "XML")));
  for (const SkinFile& image : kImageFiles) {
    EXPECT_TRUE(HasBytes(Path(image.path), ResourceBytes(image.id, image.type)));
  }
  // Nothing else is left in the working folder.
  EXPECT_EQ(Entries(base_.Path()), std::set<std::string>{"ORVAKSearchTools"});
  EXPECT_EQ(Entries(Path("ORVAKSearchTools")),
            (std::set<std::string>{"Picture", "WndLayoutInfo.xml"}));
  EXPECT_EQ(Entries(Path("ORVAKSearchTools/Picture")).size(), std::size(kImageFiles));
}

TEST_F(SkinDeploymentTest, TheLocaleChoosesTheLayoutDocument) {
  struct Case {
    const char* scenario;
    Locale locale;
    int resource;
  };
  const std::optional<std::string> unset;
  const Case cases[] = {
      {"English", {"en_US.UTF-8", unset, unset}, 150},
      {"British English", {"en_GB.UTF-8", unset, unset}, 150},
      {"Spanish (Peru) is not in the language table", {"es_PE.UTF-8", unset, unset}, 150},
      {"French (Monaco) is not in the language table", {"fr_MC.UTF-8", unset, unset}, 150},
      {"Swedish has no layout of its own", {"sv_SE.UTF-8", unset, unset}, 150},
      {"the C locale", {"C", unset, unset}, 150},
      {"no locale variable at all", {unset, unset, unset}, 150},
      {"Chinese (Taiwan)", {"zh_TW.UTF-8", unset, unset}, 151},
      {"Chinese (Hong Kong) reads the traditional script", {"zh_HK.UTF-8", unset, unset}, 151},
      {"Chinese (Macao) reads the traditional script", {"zh_MO.UTF-8", unset, unset}, 151},
      {"Chinese (PRC)", {"zh_CN.UTF-8", unset, unset}, 149},
      {"Chinese (Singapore)", {"zh_SG.UTF-8", unset, unset}, 149},
      {"Japanese", {"ja_JP.UTF-8", unset, unset}, 159},
      {"German", {"de_DE.UTF-8", unset, unset}, 160},
      {"German (Austria)", {"de_AT.UTF-8", unset, unset}, 160},
      {"French", {"fr_FR.UTF-8", unset, unset}, 161},
      {"French (Canada)", {"fr_CA.UTF-8", unset, unset}, 161},
      {"Russian", {"ru_RU.UTF-8", unset, unset}, 162},
      {"Korean", {"ko_KR.UTF-8", unset, unset}, 163},
      {"Korean (Johab)", {"ko_KR.JOHAB", unset, unset}, 163},
      {"Portuguese (Brazil)", {"pt_BR.UTF-8", unset, unset}, 164},
      {"Portuguese (Portugal)", {"pt_PT.UTF-8", unset, unset}, 164},
      {"Spanish (Spain)", {"es_ES.UTF-8", unset, unset}, 165},
      {"Spanish (Mexico)", {"es_MX.UTF-8", unset, unset}, 165},
      {"Italian (Switzerland)", {"it_CH.UTF-8", unset, unset}, 166},
      {"Dutch (Belgium)", {"nl_BE.UTF-8", unset, unset}, 169},
      {"Polish", {"pl_PL.UTF-8", unset, unset}, 175},
      {"Danish", {"da_DK.UTF-8", unset, unset}, 176},
      {"LC_MESSAGES when LC_ALL is unset", {unset, "zh_TW.UTF-8", "en_US.UTF-8"}, 151},
      {"LC_ALL before LC_MESSAGES", {"en_US.UTF-8", "zh_TW.UTF-8", "ja_JP.UTF-8"}, 150},
      {"empty variables count as unset", {"", "", "ja_JP.UTF-8"}, 159},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const testsupport::TemporaryDirectory base;
    const ScopedEnvironment dataHome("XDG_DATA_HOME", base.Path());
    const ScopedLocale locale(test.locale);
    ASSERT_TRUE(DeploySkinFiles());
    EXPECT_TRUE(HasBytes(base.File(kLayout), ResourceBytes(test.resource, "XML")));
  }
}

TEST(LanguageCodeTest, EachCodeHasItsDocumentAndHongKongAndMacaoReadTraditionalChinese) {
  struct Code {
    int code;
    int resource;
    std::vector<std::uint16_t> ids;
  };
  const Code codes[] = {
      {1, 150, {0, 1033, 2057, 3081, 10250, 6156, 21514, 1053, 1044, 65535}},
      {2, 149, {2052, 3076, 4100, 5124}},
      {3, 151, {1028}},
      {4, 159, {1041}},
      {5, 160, {1031, 2055, 3079, 4103, 5127}},
      {6, 161, {1036, 2060, 3084, 4108, 5132}},
      {7, 162, {1049}},
      {8, 163, {1042, 2066}},
      {9, 164, {1046, 2070}},
      {10,
       165,
       {1034, 2058, 3082, 4106, 5130, 6154, 7178, 8202, 9226, 11274, 12298, 13322, 14346, 15370,
        16394, 17418, 18442, 19466, 20490}},
      {11, 166, {1040, 2064}},
      {12, 169, {1043, 2067}},
      {13, 175, {1045}},
      {14, 176, {1030}},
  };
  std::set<QString> resources;
  for (const Code& entry : codes) {
    for (const std::uint16_t id : entry.ids) {
      SCOPED_TRACE("language identifier " + std::to_string(id));
      EXPECT_EQ(LanguageCodeFromLangId(id), entry.code);
      // Hong Kong and Macao keep code 2 but are shown the traditional script of code 3.
      const bool traditional = id == 3076 || id == 5124;
      EXPECT_EQ(DisplayLanguageCode(id), traditional ? 3 : entry.code);
      EXPECT_EQ(LayoutResourceForLanguageId(id), traditional ? 151 : entry.resource);
    }
    EXPECT_EQ(LayoutResourceForLanguage(entry.code), entry.resource) << "code " << entry.code;
    resources.insert(QString::number(entry.resource));
  }
  for (const int unknownCode : {0, 15, -1}) {
    EXPECT_EQ(LayoutResourceForLanguage(unknownCode), 150) << "code " << unknownCode;
  }
  // Every document the program carries is the document of a language code.
  const QStringList carried = QDir(QStringLiteral(":/skin/XML")).entryList();
  EXPECT_EQ(std::set<QString>(carried.begin(), carried.end()), resources);
}

TEST_F(SkinDeploymentTest, EveryStartOverwritesWhatTheUserChanged) {
  {
    // The Russian document is longer than the English one, so a later English start shows
    // whether the file is truncated before it is written.
    const ScopedLocale russian({"ru_RU.UTF-8", std::nullopt, std::nullopt});
    ASSERT_TRUE(DeploySkinFiles());
  }
  ASSERT_GT(ResourceBytes(162, "XML").size(), ResourceBytes(150, "XML").size());
  std::ofstream(Path(kLayout), std::ios::binary | std::ios::app) << "<!-- edited by the user -->";
  WriteText(Path("ORVAKSearchTools/Picture/Brush.png"), "x");
  fs::remove(Path("ORVAKSearchTools/Picture/logo.png"));

  ASSERT_TRUE(DeploySkinFiles());
  EXPECT_TRUE(HasBytes(Path(kLayout), ResourceBytes(150, "XML")));
  for (const SkinFile& image : kImageFiles) {
    EXPECT_TRUE(HasBytes(Path(image.path), ResourceBytes(image.id, image.type)));
  }
}

// Gives the owner back every right below `folder`, so that a non-root run can remove it.
void MakeWritable(const fs::path& folder) {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(folder, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
}

TEST_F(SkinDeploymentTest, SomethingInTheWayFailsTheStartAndKeepsWhatWasWritten) {
  const std::string userText = "left by the user";
  const SkinFile& brush = kImageFiles[2];
  const SkinFile& firstTwin = kImageFiles[kWindowImageCount];
  struct Case {
    const char* scenario;
    bool needsPermissionChecks;
    std::function<void(const fs::path& base)> prepare;
    // Files written before the failure, with their resource's bytes.
    std::vector<SkinFile> written;
    // Paths that still hold the user's text.
    std::vector<std::string> kept;
    bool pictureFolder;  // whether the picture folder exists afterwards
  };
  const Case cases[] = {
      {"the tool folder exists as a file",
       false,
       [&](const fs::path& base) { WriteText(base / "ORVAKSearchTools", userText); },
       {},
       {"ORVAKSearchTools"},
       false},
      {"the picture folder exists as a file",
       false,
       [&](const fs::path& base) {
         fs::create_directory(base / "ORVAKSearchTools");
         WriteText(base / "ORVAKSearchTools/Picture", userText);
       },
       {},
       {"ORVAKSearchTools/Picture"},
       false},
      {"the tool folder is read-only",
       true,
       [&](const fs::path& base) {
         fs::create_directory(base / "ORVAKSearchTools");
         fs::permissions(base / "ORVAKSearchTools", fs::perms(0555));
       },
       {},
       {},
       false},
      {"the layout file is read-only",
       true,
       [&](const fs::path& base) {
         fs::create_directory(base / "ORVAKSearchTools");
         WriteText(base / kLayoutFile.path, userText);
         fs::permissions(base / kLayoutFile.path, fs::perms(0444));
       },
       {},
       {kLayoutFile.path},
       true},
      {"the third image is read-only",
       true,
       [&](const fs::path& base) {
         fs::create_directories(base / "ORVAKSearchTools/Picture");
         WriteText(base / brush.path, userText);
         fs::permissions(base / brush.path, fs::perms(0444));
       },
       {kLayoutFile, kImageFiles[0], kImageFiles[1]},
       {brush.path},
       true},
      {"the first image of twice the size is read-only",
       true,
       [&](const fs::path& base) {
         fs::create_directories(base / "ORVAKSearchTools/Picture");
         WriteText(base / firstTwin.path, userText);
         fs::permissions(base / firstTwin.path, fs::perms(0444));
       },
       // The nine files of the window are all written before it.
       {kLayoutFile, kImageFiles[0], kImageFiles[1], kImageFiles[2], kImageFiles[3], kImageFiles[4],
        kImageFiles[5], kImageFiles[6], kImageFiles[7]},
       {firstTwin.path},
       true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const testsupport::TemporaryDirectory base;
    const ScopedEnvironment dataHome("XDG_DATA_HOME", base.Path());
    test.prepare(base.Path());
    bool deployed = true;
    {
      const testsupport::ScopedPermissionChecks permissions;
      if (test.needsPermissionChecks && !permissions.Enforced()) {
        ADD_FAILURE() << "file permissions cannot be enforced on this thread";
        continue;
      }
      deployed = DeploySkinFiles();
    }
    MakeWritable(base.Path());
    EXPECT_FALSE(deployed);
    EXPECT_EQ(fs::is_directory(base.File("ORVAKSearchTools/Picture")), test.pictureFolder);
    for (const std::string& path : test.kept) {
      EXPECT_EQ(testsupport::ReadFile(base.File(path)), userText) << path;
    }
    std::set<std::string> present(test.kept.begin(), test.kept.end());
    for (const SkinFile& file : test.written) {
      EXPECT_TRUE(HasBytes(base.File(file.path), ResourceBytes(file.id, file.type)));
      present.insert(file.path);
    }
    // Nothing after the failure was written.
    for (const SkinFile& file : kImageFiles) {
      EXPECT_EQ(fs::exists(base.File(file.path)), present.count(file.path) == 1) << file.path;
    }
    EXPECT_EQ(fs::exists(base.File(kLayoutFile.path)), present.count(kLayoutFile.path) == 1);
  }
}

// Files and folders outside the data folder that a hostile entry in the skin points at.
struct Outside {
  Outside() {
    WriteText(folder.File("victim.txt"), "outside text");
    fs::create_directory(folder.File("victim-folder"));
    WriteText(folder.File("victim-folder/kept.txt"), "kept");
  }
  testsupport::TemporaryDirectory folder;
};

// Something put where the skin expects one of its files or folders, by the user or by a hostile
// program running as the user, before a start (perhaps a start as root).
struct HostileEntry {
  const char* what;
  std::function<void(const fs::path& at, const Outside& outside)> make;
};

const HostileEntry kLinkToOutsideFile = {
    "a link to a file outside", [](const fs::path& at, const Outside& outside) {
      fs::create_symlink(outside.folder.File("victim.txt"), at);
    }};
const HostileEntry kLinkToOutsideFolder = {
    "a link to a folder outside", [](const fs::path& at, const Outside& outside) {
      fs::create_directory_symlink(outside.folder.File("victim-folder"), at);
    }};
const HostileEntry kDanglingLink = {
    "a dangling link", [](const fs::path& at, const Outside& outside) {
      fs::create_symlink(outside.folder.File("created-through-the-link"), at);
    }};
const HostileEntry kFifo = {"a FIFO", [](const fs::path& at, const Outside&) {
                              ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0) << at;
                            }};

TEST_F(SkinDeploymentTest, HostileEntriesAtSkinFilesAreReplacedOrRefusedNeverFollowed) {
  enum class Outcome {
    kReplaced,  // the start goes on; the entry has become the skin's file
    kRefused,   // the start fails; the entry stays as it was
  };
  struct Case {
    HostileEntry entry;
    Outcome outcome;
    bool needsPermissionChecks;
  };
  const Case cases[] = {
      {kLinkToOutsideFile, Outcome::kReplaced, false},
      {kLinkToOutsideFolder, Outcome::kReplaced, false},
      {kDanglingLink, Outcome::kReplaced, false},
      {kFifo, Outcome::kReplaced, false},
      {{"a read-only file",
        [](const fs::path& at, const Outside&) {
          WriteText(at, "left by the user");
          fs::permissions(at, fs::perms(0444));
        }},
       Outcome::kRefused,
       true},
      {{"a folder",
        [](const fs::path& at, const Outside&) {
          fs::create_directory(at);
          WriteText(at / "inside.txt", "left by the user");
        }},
       Outcome::kRefused,
       false},
  };
  const SkinFile places[] = {kLayoutFile, kImageFiles[3]};  // the layout and logo.png
  for (const SkinFile& place : places) {
    for (const Case& test : cases) {
      SCOPED_TRACE(std::string(test.entry.what) + " at " + place.path);
      const testsupport::TemporaryDirectory base;
      const ScopedEnvironment dataHome("XDG_DATA_HOME", base.Path());
      const Outside outside;
      const fs::path at = base.File(place.path);
      fs::create_directories(at.parent_path());
      test.entry.make(at, outside);
      const std::map<std::string, std::string> outsideBefore =
          testsupport::FolderSnapshot(outside.folder.Path());
      const fs::file_type typeBefore = fs::symlink_status(at).type();
      const std::string linkBefore = fs::is_symlink(at) ? fs::read_symlink(at).string() : "";
      bool deployed = false;
      {
        const testsupport::ScopedPermissionChecks permissions;
        if (test.needsPermissionChecks && !permissions.Enforced()) {
          ADD_FAILURE() << "file permissions cannot be enforced on this thread";
          continue;
        }
        // A reader on the FIFO: should deployment open it after all, the write lands in the
        // pipe and the test fails instead of blocking.
        const int reader = typeBefore == fs::file_type::fifo
                               ? ::open(at.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                               : -1;
        deployed = DeploySkinFiles();
        if (reader >= 0) {
          ::close(reader);
        }
      }
      MakeWritable(base.Path());
      EXPECT_EQ(testsupport::FolderSnapshot(outside.folder.Path()), outsideBefore)
          << "something outside changed";
      if (test.outcome == Outcome::kReplaced) {
        EXPECT_TRUE(deployed);
        EXPECT_FALSE(fs::is_symlink(at));
        EXPECT_TRUE(HasBytes(at, ResourceBytes(place.id, place.type)));
      } else {
        EXPECT_FALSE(deployed);
        EXPECT_EQ(fs::symlink_status(at).type(), typeBefore);
        EXPECT_EQ(fs::is_symlink(at) ? fs::read_symlink(at).string() : "", linkBefore);
      }
      // No temporary file is left beside the target, whatever the outcome.
      for (const std::string& name : Entries(at.parent_path())) {
        EXPECT_NE(name.front(), '.') << name;
      }
    }
  }
}

TEST_F(SkinDeploymentTest, AnythingButARealFolderAtASkinFolderFailsTheStart) {
  const HostileEntry entries[] = {
      kLinkToOutsideFolder,
      kLinkToOutsideFile,
      kDanglingLink,
      kFifo,
      // A link to a folder inside the data folder would lead nowhere dangerous, but a link is
      // not checked for where it leads: it could be changed after the check.
      {"a link to a folder inside the data folder",
       [](const fs::path& at, const Outside&) {
         fs::create_directory(at.parent_path() / "elsewhere");
         fs::create_directory_symlink(at.parent_path() / "elsewhere", at);
       }},
  };
  for (const char* folder : {"ORVAKSearchTools", "ORVAKSearchTools/Picture"}) {
    for (const HostileEntry& entry : entries) {
      SCOPED_TRACE(std::string(entry.what) + " at " + folder);
      const testsupport::TemporaryDirectory base;
      const ScopedEnvironment dataHome("XDG_DATA_HOME", base.Path());
      const Outside outside;
      const fs::path at = base.File(folder);
      fs::create_directories(at.parent_path());
      entry.make(at, outside);
      const std::map<std::string, std::string> outsideBefore =
          testsupport::FolderSnapshot(outside.folder.Path());
      const std::map<std::string, std::string> insideBefore =
          testsupport::FolderSnapshot(base.Path());

      EXPECT_FALSE(DeploySkinFiles());
      EXPECT_EQ(testsupport::FolderSnapshot(outside.folder.Path()), outsideBefore)
          << "something outside changed";
      // Both folders are checked before the first file is written, and the entry is left as
      // the user made it.
      EXPECT_EQ(testsupport::FolderSnapshot(base.Path()), insideBefore);
    }
  }
}

TEST_F(SkinDeploymentTest, WriteResourceToFileCreatesNothingForAnUnknownResource) {
  struct Case {
    int id;
    const char* type;
    bool exists;
  };
  const Case cases[] = {
      {150, "XML", true},  {140, "PNG", true},
      {999, "PNG", false}, {158, "PNG", false},  // a BMP identifier asked for as PNG
      {150, "xml", false},                       // type names are case-sensitive
      {0, "", false},
  };
  for (const Case& test : cases) {
    const std::string path = Path("resource-" + std::string(test.type) + std::to_string(test.id));
    SCOPED_TRACE(path);
    EXPECT_EQ(
        WriteResourceToFile(test.id, QString::fromLatin1(test.type), QString::fromStdString(path)),
        test.exists);
    EXPECT_EQ(fs::exists(path), test.exists);
  }
  // A folder that does not exist is not created for the file.
  EXPECT_FALSE(WriteResourceToFile(150, "XML", QString::fromStdString(Path("missing/layout.xml"))));
  EXPECT_FALSE(fs::exists(Path("missing")));
}

TEST(SkinImagesTest, ImagesHaveTheSizesAndFormatsTheWindowExpects) {
  struct Image {
    const char* type;
    int id;
    int width;
    int height;
  };
  const Image images[] = {
      {"BMP", 158, 328, 245}, {"PNG", 146, 328, 245}, {"PNG", 139, 224, 14}, {"PNG", 144, 16, 16},
      {"PNG", 147, 249, 17},  {"PNG", 148, 1, 12},    {"PNG", 141, 44, 11},  {"PNG", 140, 316, 23},
  };
  for (const Image& expected : images) {
    SCOPED_TRACE(std::string(expected.type) + " " + std::to_string(expected.id));
    const QByteArray bytes = ResourceBytes(expected.id, expected.type);
    // Decoding with the format of the resource type proves the bytes are of that format.
    const QImage image = QImage::fromData(bytes, expected.type);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), expected.width);
    EXPECT_EQ(image.height(), expected.height);
  }
  // Each twin is exactly twice the size of its original, so that the controls take it.
  struct Twin {
    int id;
    int originalId;
  };
  for (const Twin& twin : {Twin{1146, 146}, Twin{1139, 139}, Twin{1144, 144}, Twin{1147, 147},
                           Twin{1148, 148}, Twin{1141, 141}, Twin{1140, 140}}) {
    SCOPED_TRACE(twin.id);
    const QImage image = QImage::fromData(ResourceBytes(twin.id, "PNG"), "PNG");
    const QImage original = QImage::fromData(ResourceBytes(twin.originalId, "PNG"), "PNG");
    ASSERT_FALSE(image.isNull());
    ASSERT_FALSE(original.isNull());
    EXPECT_EQ(image.size(), original.size() * 2);
    EXPECT_EQ(image.hasAlphaChannel(), original.hasAlphaChannel());
  }
  // The window-shape bitmap is a complete file with a 24-bit pixel format: "BM", then the bit
  // count at offset 28 of the file header and the information header.
  const QByteArray bmp = ResourceBytes(158, "BMP");
  ASSERT_GT(bmp.size(), 30);
  EXPECT_EQ(bmp.left(2), "BM");
  EXPECT_EQ(static_cast<unsigned char>(bmp[28]) | static_cast<unsigned char>(bmp[29]) << 8, 24);
}

}  // namespace
