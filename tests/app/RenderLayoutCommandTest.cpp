// The preview of a layout as skin authors see it: the shipped English layout built offscreen
// from the deployed skin, and the command's usage errors.

#include "app/RenderLayoutCommand.h"

#include <cstdio>

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "app/SkinDeployment.h"
#include "platform/WorkingFolder.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

QImage Picture(const char* name) {
  return QImage(MakeLayoutPath(QString::fromUtf16(kPictureFolder) + "\\" + name))
      .convertToFormat(QImage::Format_ARGB32);
}

TEST(RenderLayoutTest, TheShippedLayoutLooksLikeItsSkin) {
  TemporaryDirectory folder;
  const ScopedEnvironment data("XDG_DATA_HOME", folder.Path());
  const ScopedEnvironment language("LC_ALL", "en_US.UTF-8");
  ASSERT_TRUE(DeploySkinFiles());
  const QImage image = RenderLayout(MakeLayoutPath(QString::fromUtf16(kLayoutFile)), 201, "Standard")
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
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout, "--out", out}, stdoutFile,
                                   stderrFile),
            0);
  EXPECT_EQ(QImage(QString::fromStdString(out)).size(), QSize(328, 245));
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout, "--out", folder.File("no/such/x.png")},
                                   stdoutFile, stderrFile),
            1);
  // A document without the dialog, or one that cannot be read to its end, gives no image.
  EXPECT_EQ(RunRenderLayoutCommand({"--render-layout", layout, "--out", out, "--dialog", "7"},
                                   stdoutFile, stderrFile),
            1);
  QStringList problems;
  EXPECT_TRUE(RenderLayout(QString::fromStdString(folder.File("missing.xml")), 201, "Standard",
                           &problems)
                  .isNull());
  EXPECT_EQ(problems.size(), 2) << problems.join('\n').toStdString();
  std::fclose(stdoutFile);
  std::fclose(stderrFile);
}

}  // namespace
