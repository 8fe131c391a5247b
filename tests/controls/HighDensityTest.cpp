// Skinned controls on devices with two device pixels to a logical one (and other ratios): the
// same logical rectangles as at ratio 1, filled from the images' twins of twice the size where
// there is one that fits, and from the original images otherwise.

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include "TemporaryDirectory.h"
#include "TestImages.h"
#include "controls/BasicCtrl.h"
#include "controls/Buttons.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "controls/TaskListCtrl.h"

namespace {

using testsupport::ChannelDistance;
using testsupport::Over;
using testsupport::PositionImage;
using testsupport::TemporaryDirectory;

// The controls' fill colour, and the same colour as the layout gives it (0x00BBGGRR).
constexpr QRgb kFill = 0xFF0A1F35;
constexpr std::uint32_t kFillColorRef = 0x00351F0A;
constexpr int kOriginalTag = 0;
constexpr int kTwinTag = 255;

QString SkinPicture(const char* name) {
  return QStringLiteral(TARVELO_SOURCE_DIR "/res/skin/") + QLatin1String(name);
}

class HighDensityTest : public ::testing::Test {
 protected:
  QString Save(const QImage& image, const std::string& name) {
    return testsupport::SaveImage(folder_, image, name);
  }

  // Saves `twin` as the twin of the image at `path`.
  static void SaveTwin(const QString& path, const QImage& twin) {
    EXPECT_TRUE(twin.save(HighDensityPath(path)));
  }

  TemporaryDirectory folder_;
};

TEST_F(HighDensityTest, StateCellsComeFromTheTwinOnlyWhereItFitsAndTheDeviceIsDense) {
  // Strips of four 10 x 6 cells, drawn at (2, 1) in a 14 x 8 control.
  const QImage original = PositionImage(QSize(40, 6), kOriginalTag);
  enum class Twin { Fits, Missing, WrongSize };
  struct Case {
    const char* scenario;
    Twin twin;
    qreal ratio;
    bool expectTwin;
  };
  const Case cases[] = {
      {"a twin at ratio 2", Twin::Fits, 2, true},
      {"a twin at ratio 1", Twin::Fits, 1, false},
      {"no twin at ratio 2", Twin::Missing, 2, false},
      {"a twin of the wrong size at ratio 2", Twin::WrongSize, 2, false},
  };
  int index = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const QString path = Save(original, "strip" + std::to_string(index++) + ".png");
    if (test.twin == Twin::Fits) {
      SaveTwin(path, PositionImage(QSize(80, 12), kTwinTag));
    } else if (test.twin == Twin::WrongSize) {
      SaveTwin(path, PositionImage(QSize(80, 13), kTwinTag));
    }

    CStandardButton button;
    button.resize(14, 8);
    button.paintMode = kPaintFill;
    button.SetBGColor(kFillColorRef);
    button.SetBGImage(path, 4, 2, 1);
    CShowImageCtrl image;
    image.resize(14, 8);
    image.paintMode = kPaintFill;
    image.SetBGColor(kFillColorRef);
    image.SetBGImage(path, 4, 2, 1);
    image.currentCell = 0;

    struct Drawn {
      const char* what;
      QImage pixels;
      int cell;
    };
    button.setEnabled(false);
    const Drawn drawn[] = {
        {"disabled button",
         DrawBuffer(button.size(), test.ratio,
                    [&](QPainter& painter) { button.DrawButton(painter); }),
         3},
        {"image control",
         DrawBuffer(image.size(), test.ratio, [&](QPainter& painter) { image.DrawCtrl(painter); }),
         0},
    };
    const int ratio = static_cast<int>(test.ratio);
    for (const Drawn& result : drawn) {
      SCOPED_TRACE(result.what);
      const QImage pixels = result.pixels.convertToFormat(QImage::Format_ARGB32);
      ASSERT_EQ(pixels.size(), QSize(14, 8) * ratio);
      // The cell covers the logical rectangle (2, 1, 10, 6), whatever the ratio.
      for (int y = 0; y < 8 * ratio; ++y) {
        for (int x = 0; x < 14 * ratio; ++x) {
          const int logicalX = x / ratio;
          const int logicalY = y / ratio;
          QRgb expected = kFill;
          if (logicalX >= 2 && logicalX < 12 && logicalY >= 1 && logicalY < 7) {
            expected = test.expectTwin
                           ? qRgb(result.cell * 20 + x - 4, y - 2, kTwinTag)
                           : qRgb(result.cell * 10 + logicalX - 2, logicalY - 1, kOriginalTag);
          }
          ASSERT_EQ(pixels.pixel(x, y), expected) << x << ',' << y;
        }
      }
    }
  }
}

TEST_F(HighDensityTest, ShippedButtonsAndCloseButtonShowTheirLargeCellsAtRatioTwo) {
  struct Strip {
    const char* name;
    QSize cell;
  };
  for (const Strip& strip :
       {Strip{"ButtonMax.png", QSize(79, 23)}, Strip{"close.png", QSize(11, 11)}}) {
    SCOPED_TRACE(strip.name);
    const QImage twin = QImage(SkinPicture(strip.name).replace(".png", "@2x.png"))
                            .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(twin.size(), QSize(strip.cell.width() * 4, strip.cell.height()) * 2);
    CStandardButton button;
    button.resize(strip.cell);
    button.paintMode = kPaintFill;
    button.SetBGColor(kFillColorRef);
    button.SetBGImage(SkinPicture(strip.name), 4, 0, 0);
    ASSERT_FALSE(button.bgImage2x.isNull()) << "the shipped twin is not taken";

    // Normal, hover, pressed and disabled.
    for (int cell = 0; cell < 4; ++cell) {
      SCOPED_TRACE(cell);
      button.setEnabled(cell != 3);
      button.hoverTracking = cell == 1 ? 1 : 0;
      button.setDown(cell == 2);
      const QImage pixels = DrawBuffer(button.size(), 2, [&](QPainter& painter) {
                              button.DrawButton(painter);
                            }).convertToFormat(QImage::Format_ARGB32);
      ASSERT_EQ(pixels.size(), strip.cell * 2);
      for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
          const QRgb source = twin.pixel(cell * strip.cell.width() * 2 + x, y);
          const int distance = ChannelDistance(pixels.pixel(x, y), Over(source, kFill));
          // Opaque pixels are copied; see-through ones differ by the rounding of the blend.
          ASSERT_LE(distance, qAlpha(source) == 255 ? 0 : 1) << x << ',' << y;
        }
      }
    }
  }
}

TEST_F(HighDensityTest, ListHeaderDrawsItsTwinsInTheSameLogicalPlaces) {
  // Background and separator in one colour each; their twins in others.
  constexpr QRgb kBackground = 0xFF204080;
  constexpr QRgb kBackgroundTwin = 0xFF30A050;
  constexpr QRgb kSeparator = 0xFF00FF00;
  constexpr QRgb kSeparatorTwin = 0xFFFF8000;
  const auto solid = [](QSize size, QRgb colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
  };
  const QString background = Save(solid(QSize(150, 40), kBackground), "background.png");
  SaveTwin(background, solid(QSize(300, 80), kBackgroundTwin));
  const QString separator = Save(solid(QSize(1, 10), kSeparator), "separator.png");
  SaveTwin(separator, solid(QSize(2, 20), kSeparatorTwin));

  QWidget dialog;
  auto* list = new CStandardListCtrl(&dialog);
  list->SetHeaderImages(background, separator);
  list->GetHeaderCtrl()->heightScale = 0.9f;
  list->InsertColumn(0, "Host", CStandardListCtrl::ColumnAlign::Left, 90);
  list->InsertColumn(1, "Model", CStandardListCtrl::ColumnAlign::Left, 110);
  list->setGeometry(0, 0, 300, 160);
  dialog.resize(320, 180);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QApplication::processEvents();

  CStandardHeaderCtrl* header = list->GetHeaderCtrl();
  const QSize size = header->viewport()->size();
  // The separator of the first column hangs from 4 pixels below the top at its right edge.
  const int separatorX = header->sectionPosition(0) + 90 - header->separatorOffset;
  for (const int ratio : {1, 2}) {
    SCOPED_TRACE(ratio);
    const QImage pixels = DrawBuffer(size, ratio, [&](QPainter& painter) {
                            header->DrawHeader(painter);
                          }).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(pixels.size(), size * ratio);
    const QRgb expectedBackground = ratio == 2 ? kBackgroundTwin : kBackground;
    const QRgb expectedSeparator = ratio == 2 ? kSeparatorTwin : kSeparator;
    EXPECT_EQ(pixels.pixel(150 * ratio, 2 * ratio), expectedBackground);
    EXPECT_EQ(pixels.pixel(40 * ratio, (size.height() - 1) * ratio), expectedBackground);
    // The separator fills its one logical column, rows 4 to 13, and nothing beside it.
    for (int y = 4 * ratio; y < 14 * ratio; ++y) {
      for (int x = separatorX * ratio; x < (separatorX + 1) * ratio; ++x) {
        EXPECT_EQ(pixels.pixel(x, y), expectedSeparator) << x << ',' << y;
      }
    }
    EXPECT_EQ(pixels.pixel(separatorX * ratio - 1, 6 * ratio), expectedBackground);
    EXPECT_EQ(pixels.pixel((separatorX + 1) * ratio, 6 * ratio), expectedBackground);
    EXPECT_EQ(pixels.pixel(separatorX * ratio, 4 * ratio - 1), expectedBackground);
    EXPECT_EQ(pixels.pixel(separatorX * ratio, 14 * ratio), expectedBackground);
  }
}

TEST_F(HighDensityTest, TaskListStatusIconsComeFromTheTwin) {
  QWidget dialog;
  CShowTaskListCtrl list(&dialog);
  list.setGeometry(0, 0, 300, 200);
  list.setColumnCount(3);
  list.setColumnWidth(0, 100);
  list.setColumnWidth(1, 100);
  list.setColumnWidth(2, 0);
  list.setRowCount(1);
  list.setItem(0, 2, new QTableWidgetItem(QStringLiteral("W")));  // icon cell 2
  dialog.resize(300, 200);
  dialog.show();
  list.show();
  QApplication::processEvents();

  const QString path = Save(PositionImage(QSize(56, 8), kOriginalTag), "icons.png");
  SaveTwin(path, PositionImage(QSize(112, 16), kTwinTag));
  list.SetBGImage(path, 7, 0, 0);
  ASSERT_FALSE(list.bgImage2x.isNull());

  const QImage once = list.RenderBuffer().convertToFormat(QImage::Format_ARGB32);
  const QImage twice = DrawBuffer(list.viewport()->size(), 2, [&](QPainter& painter) {
                         list.DrawList(painter);
                       }).convertToFormat(QImage::Format_ARGB32);
  // Find the icon's top-left corner at ratio 1 (the first pixel of cell 2), then check the
  // same logical place at ratio 2 for the twin's cell 2.
  QPoint corner(-1, -1);
  for (int y = 0; y < once.height() && corner.x() < 0; ++y) {
    for (int x = 0; x < once.width(); ++x) {
      if (once.pixel(x, y) == qRgb(16, 0, kOriginalTag)) {
        corner = QPoint(x, y);
        break;
      }
    }
  }
  ASSERT_GE(corner.x(), 0) << "no icon at ratio 1";
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(twice.pixel(corner.x() * 2 + x, corner.y() * 2 + y), qRgb(32 + x, y, kTwinTag))
          << x << ',' << y;
    }
  }
}

}  // namespace
