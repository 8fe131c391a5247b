// The preview of a layout as skin authors see it: the shipped English layout built offscreen
// from the deployed skin, also by the built program at device pixel ratios above 1, and the
// command's usage errors.

#include "app/RenderLayoutCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include "HostileFiles.h"
#include "HostileLayouts.h"
#include "LabNetwork.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "TestImages.h"
#include "app/SkinDeployment.h"
#include "platform/WorkingFolder.h"

namespace {

using testsupport::ChannelDistance;
using testsupport::Over;
using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

QImage Picture(const char* name) {
  return QImage(MakeLayoutPath(QString::fromUtf16(kPictureFolder) + "\\" + name))
      .convertToFormat(QImage::Format_ARGB32);
}

// Runs the built `tarvelo --render-layout LAYOUT --out OUT` with QT_SCALE_FACTOR set to `scale`
// (the command opens no socket, so it may run outside the network lab); its exit status.
int RenderWithBuiltProgram(const std::string& layout, const std::string& out,
                           const std::string& scale) {
  std::vector<std::string> argv = {testsupport::BuiltProgram("tarvelo"), "--render-layout", layout,
                                   "--out", out};
  std::vector<char*> arguments;
  for (std::string& argument : argv) {
    arguments.push_back(argument.data());
  }
  arguments.push_back(nullptr);
  std::string scaleVariable = "QT_SCALE_FACTOR=" + scale;
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).rfind("QT_SCALE_FACTOR=", 0) != 0) {
      environment.push_back(*entry);
    }
  }
  environment.push_back(scaleVariable.data());
  environment.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return -1;
  }
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid ? testsupport::DecodeExitStatus(status) : -1;
}

// The largest difference of one colour channel between the rendered pixels of `area` (device
// pixels) and `expected` for each of them.
template <typename Expected>
int LargestDifference(const QImage& image, const QRect& area, Expected&& expected) {
  int largest = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      largest = std::max(
          largest, ChannelDistance(image.pixel(x, y), expected(x - area.left(), y - area.top())));
    }
  }
  return largest;
}

TEST(RenderLayoutTest, TheShippedLayoutLooksLikeItsSkin) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.Path());
  const ScopedEnvironment language("LC_ALL", "en_US.UTF-8");
  ASSERT_TRUE(DeploySkinFiles());
  const QImage image =
      RenderLayout(MakeLayoutPath(QString::fromUtf16(kLayoutFile)), 201, "Standard")
          .convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(328, 245));

  // The top corners are cut by the window shape; the bottom ones are not.
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(327, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(4, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(5, 0)), 255);
  EXPECT_EQ(qAlpha(image.pixel(0, 244)), 255);

  // The background image where no control stands.
  const QImage background = Picture("SearchDevice_BlackGround.png");
  EXPECT_EQ(image.pixel(164, 240), background.pixel(164, 240));
  // The Log In button shows the normal cell of its strip over the background.
  const QImage buttons = Picture("ButtonMax.png");
  EXPECT_EQ(image.pixel(18 + 10, 210 + 12), buttons.pixel(10, 12));
  EXPECT_EQ(image.pixel(228 + 10, 210 + 20), buttons.pixel(10, 20));
  // The logo's opaque middle, and the list, which is not the background.
  const QImage logo = Picture("logo.png");
  EXPECT_EQ(image.pixel(7 + 8, 7 + 8), logo.pixel(8, 8));
  EXPECT_NE(image.pixel(160, 120), background.pixel(160, 120));
  // The list's border in the border colour 126,157,185.
  EXPECT_EQ(image.pixel(10, 120), qRgb(126, 157, 185));
}

TEST(RenderLayoutTest, TheCommandWritesAnImageOrSaysWhatIsMissing) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.Path());
  ASSERT_TRUE(DeploySkinFiles());
  const std::string layout = MakeLayoutPath(QString::fromUtf16(kLayoutFile)).toStdString();
  const std::string out = folder.File("preview.png");
  std::FILE* stdoutFile = std::tmpfile();
  std::FILE* stderrFile = std::tmpfile();
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout}, stdoutFile, stderrFile), 2);
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout, "--out", out, "--search"},
                                   stdoutFile, stderrFile),
            2);
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", "--help"}, stdoutFile, stderrFile), 0);
  EXPECT_EQ(
      RunRenderLayoutCommand({"--render-layout", layout, "--out", out}, stdoutFile, stderrFile), 0);
  EXPECT_EQ(QImage(QString::fromStdString(out)).size(), QSize(328, 245));
  EXPECT_EQ(
      RunRenderLayoutCommand({"--render-layout", layout, "--out", folder.File("no/such/x.png")},
                             stdoutFile, stderrFile),
      1);
  // A document without the dialog, or one that cannot be read to its end, gives no image.
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout, "--out", out, "--dialog", "7"},
                                   stdoutFile, stderrFile),
            1);
  QStringList problems;
  EXPECT_TRUE(
      RenderLayout(QString::fromStdString(folder.File("missing.xml")), 201, "Standard", &problems)
          .isNull());
  EXPECT_EQ(problems.size(), 2) << problems.join('\n').toStdString();
  std::fclose(stdoutFile);
  std::fclose(stderrFile);
}

// On an account where the window never ran nothing is deployed: the picture is still the real one,
// drawn from the program's own skin, and a skin author's folder comes before everything. The
// preview deploys nothing.
TEST(RenderLayoutTest, ANewAccountSeesTheProgramsOwnSkinAndTheAuthorsImagesComeFirst) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.File("data"));
  const std::string layout = folder.File("layout.xml");
  ASSERT_TRUE(WriteResourceToFile(kLayoutEnglish, QString::fromUtf16(kXmlResource),
                                  QString::fromStdString(layout)));
  const QImage logo = QImage::fromData(BuiltInSkinImage("logo.png"));
  ASSERT_FALSE(logo.isNull());
  const std::string authorFolder = folder.File("mine");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(authorFolder)));
  QImage ownLogo(logo.size(), QImage::Format_ARGB32);
  ownLogo.fill(qRgb(255, 0, 255));
  ASSERT_TRUE(ownLogo.save(QString::fromStdString(authorFolder + "/logo.png")));

  const struct {
    std::vector<std::string> extra;
    QRgb logoMiddle;
  } cases[] = {
      {{}, logo.pixel(8, 8)},
      {{"--skin-dir", authorFolder}, qRgb(255, 0, 255)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.extra.empty() ? "own skin" : "author's folder");
    const std::string out = folder.File("preview.png");
    std::vector<std::string> arguments = {"--render-layout", layout, "--out", out};
    arguments.insert(arguments.end(), test.extra.begin(), test.extra.end());
    std::FILE* stderrFile = std::tmpfile();
    EXPECT_EQ(RunRenderLayoutCommand(arguments, stdout, stderrFile), 0);
    EXPECT_EQ(testsupport::ReadStream(stderrFile), "");
    std::fclose(stderrFile);
    const QImage image = QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(328, 245));
    // The window shape cuts the corners; the logo and the background are drawn.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(image.pixel(7 + 8, 7 + 8), test.logoMiddle);
    const QImage background = QImage::fromData(BuiltInSkinImage("SearchDevice_BlackGround.png"));
    EXPECT_EQ(image.pixel(164, 240), background.pixel(164, 240));
  }
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder.File("data"))));
}

TEST(RenderLayoutTest, TheBuiltProgramRendersTheDevicePixelsOfTheScaleFromTheLargeImages) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.Path());
  const ScopedEnvironment language("LC_ALL", "en_US.UTF-8");
  ASSERT_TRUE(DeploySkinFiles());
  const std::string layout = MakeLayoutPath(QString::fromUtf16(kLayoutFile)).toStdString();
  const QImage background = Picture("SearchDevice_BlackGround@2x.png");
  const QImage buttons = Picture("ButtonMax@2x.png");
  const QImage close = Picture("close@2x.png");
  const QImage logo = Picture("logo@2x.png");
  ASSERT_EQ(background.size(), QSize(656, 490));

  const std::string twice = folder.File("twice.png");
  ASSERT_EQ(RenderWithBuiltProgram(layout, twice, "2"), 0);
  const QImage image = QImage(QString::fromStdString(twice)).convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(656, 490));

  // The top corners are cut by the logical window shape, two device rows per logical row:
  // 10, 6, 4 and 2 device pixels; the bottom corners are not.
  const int cut[] = {10, 10, 6, 6, 4, 4, 2, 2, 0};
  for (int y = 0; y < 9; ++y) {
    SCOPED_TRACE(y);
    for (const int x : {cut[y] - 1, 655 - cut[y] + 1}) {
      if (cut[y] > 0) {
        EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x;
      }
    }
    EXPECT_EQ(qAlpha(image.pixel(cut[y], y)), 255);
    EXPECT_EQ(qAlpha(image.pixel(655 - cut[y], y)), 255);
  }
  EXPECT_EQ(qAlpha(image.pixel(0, 489)), 255);
  EXPECT_EQ(qAlpha(image.pixel(655, 489)), 255);

  // Where no control stands, the large background itself.
  EXPECT_EQ(LargestDifference(image, QRect(300, 470, 60, 20),
                              [&](int x, int y) { return background.pixel(300 + x, 470 + y); }),
            0);
  // The close button (300, 10) and the logo (7, 7) are their large images over the large
  // background, device pixel for device pixel.
  EXPECT_LE(LargestDifference(image, QRect(600, 20, 22, 22),
                              [&](int x, int y) {
                                return Over(close.pixel(x, y), background.pixel(600 + x, 20 + y));
                              }),
            1);
  EXPECT_LE(LargestDifference(image, QRect(14, 14, 32, 32),
                              [&](int x, int y) {
                                return Over(logo.pixel(x, y), background.pixel(14 + x, 14 + y));
                              }),
            1);
  // The Log In button (18, 210) shows the normal cell of the large strip above and left of its
  // caption.
  const auto button = [&](int x, int y) {
    return Over(buttons.pixel(x, y), background.pixel(36 + x, 420 + y));
  };
  EXPECT_LE(LargestDifference(image, QRect(36, 420, 158, 10), button), 1);
  EXPECT_LE(LargestDifference(image, QRect(36, 420, 30, 46), button), 1);

  // At ratio 1.5 the image has the device size of the scale, with the corners still cut and
  // the background drawn from the large image (resampled, so close to it, not equal).
  const std::string oneAndAHalf = folder.File("one-and-a-half.png");
  ASSERT_EQ(RenderWithBuiltProgram(layout, oneAndAHalf, "1.5"), 0);
  const QImage scaled =
      QImage(QString::fromStdString(oneAndAHalf)).convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(scaled.size(), QSize(492, 368));
  EXPECT_EQ(qAlpha(scaled.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(scaled.pixel(491, 0)), 0);
  EXPECT_EQ(qAlpha(scaled.pixel(246, 0)), 255);
  EXPECT_EQ(qAlpha(scaled.pixel(0, 20)), 255);
}

// Hostile documents and images through the built program: every run ends by itself with its
// documented status; what the window leaves out or cuts is said, and the image is still made.
TEST(RenderLayoutTest, HostileDocumentsAndImagesEndWithAMessageAndTheirStatus) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.File("data"));
  const ScopedEnvironment language("LC_ALL", "en_US.UTF-8");
  ASSERT_TRUE(DeploySkinFiles());
  const auto write = [&](const std::string& name, const QByteArray& bytes) {
    QFile file(QString::fromStdString(folder.File(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return folder.File(name);
  };
  write("data/huge.png", QByteArray::fromStdString(testsupport::PngHeaderClaiming(30000, 30000)));
  ASSERT_TRUE(testsupport::MakeFifo(folder.File("data/fifo.png")));
  ASSERT_TRUE(testsupport::MakeFifo(folder.File("fifo.xml")));
  // Images the window loads from a path: the background, a control's image and its twin.
  const QByteArray hostileImages =
      hostile::Layout(hostile::Ctrl(1, "ShowImageCtrl", "\\fifo.png") +
                          hostile::Ctrl(2, "ShowImageCtrl", "\\huge.png"),
                      "0,0,328,245", "\\fifo.png");

  struct Case {
    const char* scenario;
    std::string file;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"40,000 controls", write("many.xml", hostile::ManyControls(40000)), 0,
       "38976 controls beyond the first 1024 were left out"},
      {"a text of a megabyte",
       write("text.xml", hostile::Layout(hostile::Ctrl(1, "ShowTextCtrl", "", QString(1 << 20, 'm'),
                                                       "0,30,300,200"))),
       0, "cut to 4096"},
      // Images are the window's to report: what counts here is that the FIFO and the oversized
      // image neither hang nor fail the picture.
      {"images that cannot be loaded", write("images.xml", hostileImages), 0, ""},
      {"a FIFO as the document", folder.File("fifo.xml"), 1, "is a FIFO, not a regular file"},
      {"/dev/zero as the document", "/dev/zero", 1, "is a character device"},
      {"a dialog of 30000 x 30000", write("huge.xml", hostile::Layout("", "0,0,30000,30000")), 1,
       "larger than 4096 x 4096"},
      {"a missing document", folder.File("missing.xml"), 1, "does not exist"},
      {"a folder as the document", folder.Path(), 1, "is a folder"},
      {"a document that is not XML", write("plain.xml", "plain text"), 1, "not an XML document"},
  };
  const std::string out = folder.File("out.png");
  const std::string err = folder.File("err.txt");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    ::unlink(out.c_str());
    const hostile::ToolRun run =
        hostile::RunLayoutTool({"--render-layout", test.file, "--out", out}, "/dev/null", err);
    ASSERT_TRUE(run.ended) << "the preview did not end";
    EXPECT_EQ(run.status, test.status) << run.err;
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
    if (test.status == 0) {
      EXPECT_EQ(QImage(QString::fromStdString(out)).size(), QSize(328, 245));
    } else {
      // A failure always says why.
      EXPECT_EQ(run.err.rfind("tarvelo: ", 0), 0u) << run.err;
      EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out)));
    }
  }

  // A FIFO in the place of the window's shape bitmap: the corners stay, and the preview says why.
  const std::string shape =
      MakeLayoutPath(QString::fromUtf16(kPictureFolder) + "\\SearchDevice_BlackGround.bmp")
          .toStdString();
  ASSERT_EQ(::unlink(shape.c_str()), 0);
  ASSERT_TRUE(testsupport::MakeFifo(shape));
  const hostile::ToolRun run = hostile::RunLayoutTool(
      {"--render-layout", MakeLayoutPath(QString::fromUtf16(kLayoutFile)).toStdString(), "--out",
       out},
      "/dev/null", err);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("no window shape"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("FIFO"), std::string::npos) << run.err;
}

}  // namespace
