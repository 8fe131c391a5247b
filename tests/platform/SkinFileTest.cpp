// Reading skin files: only regular files are read, never more than the cap whatever size the file
// reports, and images Qt would refuse silently are refused with a reason.

#include "platform/SkinFile.h"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <QFile>
#include <QImage>

#include "HostileFiles.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "platform/WorkingFolder.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

QString Q(const std::string& text) { return QString::fromStdString(text); }

void WriteBytes(const std::string& path, const QByteArray& bytes) {
  QFile file(Q(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

TEST(SkinFileTest, ReadsRegularFilesUpToTheCapAndRefusesEverythingElse) {
  TemporaryDirectory folder;
  WriteBytes(folder.File("ten.txt"), "0123456789");
  WriteBytes(folder.File("empty.txt"), "");
  ASSERT_EQ(::symlink(folder.File("ten.txt").c_str(), folder.File("link.txt").c_str()), 0);
  ASSERT_TRUE(testsupport::MakeFifo(folder.File("fifo")));
  struct Case {
    std::string path;
    qint64 limit;
    bool read;
    const char* problemMentions;  // when not read
  };
  const Case cases[] = {
      {folder.File("ten.txt"), 10, true, ""},
      {folder.File("empty.txt"), 10, true, ""},
      {folder.File("link.txt"), 10, true, ""},  // a link to a regular file is followed
      {folder.File("ten.txt"), 9, false, "larger than 9 bytes"},
      {folder.File("fifo"), 10, false, "FIFO"},  // must not block
      {"/dev/zero", kMaxSkinFileSize, false, "character device"},
      {folder.Path(), 10, false, "folder"},
      {folder.File("missing"), 10, false, "does not exist"},
      // Files of /proc report size 0 and have content: the cap holds all the same.
      {"/proc/self/status", 16, false, "larger than 16 bytes"},
      {"/proc/self/status", kMaxSkinFileSize, true, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.path + " limit " + std::to_string(test.limit));
    const SkinFileContent content = ReadSkinFile(Q(test.path), test.limit);
    EXPECT_EQ(content.read, test.read) << content.problem.toStdString();
    if (test.read) {
      EXPECT_TRUE(content.problem.isEmpty());
      EXPECT_LE(content.bytes.size(), test.limit);
    } else {
      EXPECT_TRUE(content.bytes.isEmpty());
      EXPECT_TRUE(content.problem.contains(test.problemMentions)) << content.problem.toStdString();
    }
  }
  EXPECT_EQ(ReadSkinFile(Q(folder.File("link.txt"))).bytes, "0123456789");
  EXPECT_FALSE(ReadSkinFile(Q("/proc/self/status")).bytes.isEmpty());
}

TEST(SkinFileTest, LinksBelowTheBaseFolderMustStayInIt) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.File("data"));
  ASSERT_EQ(::mkdir(folder.File("data").c_str(), 0700), 0);
  WriteBytes(folder.File("outside.txt"), "secret");
  WriteBytes(folder.File("data/inside.txt"), "skin");
  ASSERT_EQ(::symlink("../outside.txt", folder.File("data/out.txt").c_str()), 0);
  ASSERT_EQ(::symlink("inside.txt", folder.File("data/in.txt").c_str()), 0);
  // A folder link leading out counts as well.
  ASSERT_EQ(::symlink(folder.Path().c_str(), folder.File("data/up").c_str()), 0);

  EXPECT_EQ(ReadSkinFile(Q(folder.File("data/in.txt"))).bytes, "skin");
  for (const char* name : {"data/out.txt", "data/up/outside.txt"}) {
    const SkinFileContent content = ReadSkinFile(Q(folder.File(name)));
    EXPECT_FALSE(content.read) << name;
    EXPECT_TRUE(content.problem.contains("symbolic link")) << content.problem.toStdString();
  }
  // Outside the base folder a path is the caller's choice (a document named on the command line).
  EXPECT_EQ(ReadSkinFile(Q(folder.File("outside.txt"))).bytes, "secret");
}

TEST(SkinFileTest, PathsInsideTheBaseFolderOnTheirText) {
  const struct {
    const char* path;
    const char* base;
    bool inside;
  } cases[] = {
      {"/base/ORVAK/Picture/logo.png", "/base", true},
      {"/base", "/base", true},
      {"/base/", "/base", true},
      {"/base/./a//b.png", "/base", true},
      {"/base/A/../B/c.png", "/base", true},
      {"/base/../etc/passwd", "/base", false},
      {"/base/A/../../base/c.png", "/base", true},
      {"/base/../../../..", "/base", false},
      {"/basement/a.png", "/base", false},  // a sibling whose name begins like the folder
      {"/base.png", "/base", false},
      {"/x/a.png", "/", true},
      {"/base/a.png", "", false},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(LiesInsideFolder(test.path, test.base), test.inside)
        << test.path << " in " << test.base;
  }
}

TEST(SkinFileTest, ImagesThatCannotBeLoadedSayWhy) {
  TemporaryDirectory folder;
  QImage small(4, 3, QImage::Format_ARGB32);
  small.fill(Qt::red);
  ASSERT_TRUE(small.save(Q(folder.File("small.png"))));
  WriteBytes(folder.File("text.png"), "this is no image");
  const std::string huge = testsupport::PngHeaderClaiming(30000, 30000);
  WriteBytes(folder.File("huge.png"), QByteArray::fromStdString(huge));
  ASSERT_TRUE(testsupport::MakeFifo(folder.File("fifo.png")));

  const LoadedSkinImage loaded = LoadSkinImage(Q(folder.File("small.png")));
  EXPECT_EQ(loaded.image.size(), QSize(4, 3));
  EXPECT_TRUE(loaded.problem.isEmpty());

  const std::pair<const char*, const char*> refused[] = {
      {"text.png", "not an image"},
      {"huge.png", "30000 x 30000"},
      {"fifo.png", "FIFO"},
      {"missing.png", "does not exist"},
  };
  for (const auto& [name, mentions] : refused) {
    const LoadedSkinImage image = LoadSkinImage(Q(folder.File(name)));
    EXPECT_TRUE(image.image.isNull()) << name;
    EXPECT_TRUE(image.problem.contains(mentions)) << name << ": " << image.problem.toStdString();
  }
}

}  // namespace
