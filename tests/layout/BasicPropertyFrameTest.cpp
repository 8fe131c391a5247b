#include "layout/BasicPropertyFrame.h"

#include <functional>
#include <limits>
#include <string>
#include <utility>

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>

#include "TemporaryDirectory.h"
#include "TestImages.h"

namespace {

using testsupport::PositionImage;
using testsupport::SaveImage;
using testsupport::TemporaryDirectory;

constexpr QRgb kParentColor = 0xFF102030;

// A parent window that paints itself in one colour, and a skinned child on it.
class ColourWidget : public QWidget {
 public:
  explicit ColourWidget(QRgb color) : color_(color) {}
  void SetColor(QRgb color) { color_ = color; }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgba(color_)); }

 private:
  QRgb color_;
};

class TestCtrl : public QWidget, public CBasicPropertyFrame {
 public:
  using QWidget::QWidget;
};

// Paints the background steps of `ctrl` into a buffer that starts out in `start`.
QImage Paint(CBasicPropertyFrame& frame, QWidget* parent, QWidget* self, QSize size,
             QRgb start = 0xFF000000) {
  QImage buffer(size, QImage::Format_ARGB32_Premultiplied);
  buffer.fill(QColor::fromRgba(start));
  QPainter painter(&buffer);
  frame.PaintBackground(parent, self, painter);
  painter.end();
  return buffer;
}

// Paints the background steps of `frame` (without a window) into a buffer of `size` logical
// pixels at device pixel ratio `ratio`, filled with `start` before.
QImage PaintAtRatio(const CBasicPropertyFrame& frame, QSize size, qreal ratio, QRgb start) {
  QImage buffer(size * ratio, QImage::Format_ARGB32_Premultiplied);
  buffer.setDevicePixelRatio(ratio);
  buffer.fill(QColor::fromRgba(start));
  QPainter painter(&buffer);
  const_cast<CBasicPropertyFrame&>(frame).PaintBackground(nullptr, nullptr, painter);
  painter.end();
  return buffer.convertToFormat(QImage::Format_ARGB32);
}

TEST(BasicPropertyFrameTest, DefaultsOfAFreshRecord) {
  const CBasicPropertyFrame frame;
  EXPECT_EQ(frame.paintMode, 0);
  EXPECT_EQ(frame.borderColor, 0xFFFFFFFFu);
  EXPECT_EQ(frame.bgColor, 0xFFFFFFFFu);
  EXPECT_EQ(frame.textColor, 0xFF000000u);
  EXPECT_FALSE(frame.bgImage.has_value());
  EXPECT_EQ(frame.statusCount, 1);
  EXPECT_EQ(frame.cellWidth, 0);
  EXPECT_EQ(frame.currentCell, 0);
  EXPECT_TRUE(frame.drawnText.isNull());
  EXPECT_FALSE(frame.cachedBackground.has_value());
  EXPECT_EQ(frame.resizeHook, 0);
  // The default family is the simplified Chinese system font, drawn by its installed substitute.
  EXPECT_EQ(frame.fontFamily, "宋体");
  EXPECT_TRUE(frame.fontUsable);
  EXPECT_EQ(frame.textFont.family(), "WenQuanYi Zen Hei");
  EXPECT_EQ(frame.textFont.pixelSize(), 12);
}

TEST(BasicPropertyFrameTest, ColoursBecomeOpaqueArgb) {
  EXPECT_EQ(ColorRefToArgb(0x00F7F5F4), 0xFFF4F5F7u);
  EXPECT_EQ(ColorRefToArgb(0x00694106), 0xFF064169u);
  EXPECT_EQ(ColorRefToArgb(0), 0xFF000000u);
  // Only the three colour bytes count.
  EXPECT_EQ(ColorRefToArgb(0xAB123456), 0xFF563412u);

  CBasicPropertyFrame frame;
  frame.SetBGColor(0x00B99D7E);
  frame.SetTextColor(0x00F7F5F4);
  EXPECT_EQ(frame.bgColor, 0xFF7E9DB9u);
  EXPECT_EQ(frame.textColor, 0xFFF4F5F7u);
}

TEST(BasicPropertyFrameTest, ImagesAreCutIntoStateCells) {
  TemporaryDirectory folder;
  const QString strip = SaveImage(folder, QImage(316, 23, QImage::Format_ARGB32), "strip.png");
  struct Case {
    QString path;
    int count;
    int width;
    int statusCount;
    int cellWidth;
  };
  const Case cases[] = {
      {strip, 4, 316, 4, 79},
      {strip, 0, 316, 1, 316},
      {strip, -2, 316, 1, 316},
      // 316 is not a multiple of 3: the last column is never part of a cell.
      {strip, 3, 316, 3, 105},
      {QString::fromStdString(folder.File("missing.png")), 4, 0, 4, 0},
      {QString::fromStdString(folder.Path()), 1, 0, 1, 0},
      {QString(), 2, 0, 2, 0},
  };
  for (const Case& test : cases) {
    CBasicPropertyFrame frame;
    frame.SetBGImage(test.path, test.count, 3, 4);
    EXPECT_TRUE(frame.bgImage.has_value());
    EXPECT_EQ(frame.imageWidth, test.width) << test.path.toStdString();
    EXPECT_EQ(frame.imageHeight, test.width > 0 ? 23 : 0);
    EXPECT_EQ(frame.statusCount, test.statusCount);
    EXPECT_EQ(frame.cellWidth, test.cellWidth);
    EXPECT_EQ(frame.imageX, 3);
    EXPECT_EQ(frame.imageY, 4);
  }
  CBasicPropertyFrame frame;
  frame.SetBGImage(strip, 4, 0, 0);
  EXPECT_EQ(frame.StateCellRect(0), QRect(0, 0, 79, 23));
  EXPECT_EQ(frame.StateCellRect(3), QRect(237, 0, 79, 23));
  EXPECT_TRUE(frame.StateCellRect(4).isNull());
  EXPECT_TRUE(frame.StateCellRect(-1).isNull());
  // Loading a missing file afterwards leaves no image of the earlier one.
  frame.SetBGImage(QString::fromStdString(folder.File("missing.png")), 4, 0, 0);
  EXPECT_TRUE(frame.StateCellRect(0).isNull());
}

TEST(BasicPropertyFrameTest, FontsOfFamiliesThatDoNotDrawAreFailed) {
  struct Case {
    QString family;
    int size;
    bool usable;
    QString drawnBy;
  };
  const Case cases[] = {
      {"Tahoma", 12, true, "Liberation Sans"},
      {"Tahoma", 21, true, "Liberation Sans"},
      {"宋体", 12, true, "WenQuanYi Zen Hei"},
      {"NoSuchFontFamily", 12, false, ""},
      {"", 12, false, ""},
      {"Tahoma", 0, false, "Liberation Sans"},
      {"Tahoma", -3, false, "Liberation Sans"},
  };
  for (const Case& test : cases) {
    CBasicPropertyFrame frame;
    frame.SetFont(test.family, test.size);
    EXPECT_EQ(frame.fontUsable, test.usable) << test.family.toStdString() << ' ' << test.size;
    EXPECT_EQ(frame.fontFamily, test.family);
    if (!test.drawnBy.isEmpty()) {
      EXPECT_EQ(frame.textFont.family(), test.drawnBy);
    }
    if (test.usable) {
      EXPECT_EQ(frame.textFont.pixelSize(), test.size);
      EXPECT_EQ(frame.textFont.style(), QFont::StyleNormal);
      EXPECT_EQ(frame.textFont.weight(), QFont::Normal);
    }
  }
}

TEST(BasicPropertyFrameTest, TextAndToolTip) {
  CBasicPropertyFrame frame;
  frame.SetText("Log In", 0, 6);
  EXPECT_EQ(frame.drawnText, "Log In");
  EXPECT_EQ(frame.textOffsetX, 0);
  EXPECT_EQ(frame.textOffsetY, 6);
  frame.SetText(QString(), -1, 2);
  EXPECT_TRUE(frame.drawnText.isEmpty());
  EXPECT_FALSE(frame.drawnText.isNull());
  EXPECT_EQ(frame.textOffsetX, -1);

  QWidget control;
  frame.SetToolTip("Close Button", &control);
  EXPECT_EQ(control.toolTip(), "Close Button");
  EXPECT_EQ(frame.toolTipText, "Close Button");
  frame.SetToolTip("no window", nullptr);
  EXPECT_EQ(frame.toolTipText, "no window");
}

TEST(BasicPropertyFrameTest, MoveByAnchorForEveryModePair) {
  // The child at (10, 50)-(318, 191), the parent grown by dx 10 and dy 5.
  struct Case {
    int horizontal;
    int vertical;
    QRect moved;  // left, top, right, bottom as x, y, width, height
  };
  const Case cases[] = {
      {1, 1, QRect(10, 50, 308, 141)}, {1, 2, QRect(10, 55, 308, 141)},
      {1, 3, QRect(10, 50, 308, 146)}, {2, 1, QRect(20, 50, 308, 141)},
      {2, 2, QRect(20, 55, 308, 141)}, {2, 3, QRect(20, 50, 308, 146)},
      {3, 1, QRect(10, 50, 318, 141)}, {3, 2, QRect(10, 55, 318, 141)},
      {3, 3, QRect(10, 50, 318, 146)},
      // Any mode outside 1 to 3 leaves the child where it is.
      {0, 3, QRect(10, 50, 308, 141)}, {3, 4, QRect(10, 50, 308, 141)},
      {-1, 2, QRect(10, 50, 308, 141)},
  };
  QWidget parent;
  for (const Case& test : cases) {
    QWidget child(&parent);
    child.setGeometry(10, 50, 308, 141);
    CBasicPropertyFrame frame;
    frame.MoveByAnchor(&child, 10, 5, test.horizontal, test.vertical);
    EXPECT_EQ(child.geometry(), test.moved) << test.horizontal << ',' << test.vertical;
  }
  QWidget child(&parent);
  child.setGeometry(10, 50, 308, 141);
  CBasicPropertyFrame().MoveByAnchor(&child, 10, 5, 3, 3);
  EXPECT_EQ(child.geometry().x() + child.geometry().width(), 328);
  EXPECT_EQ(child.geometry().y() + child.geometry().height(), 196);
  // Shrinking past the left edge gives an empty window, not a negative size.
  CBasicPropertyFrame().MoveByAnchor(&child, -400, 0, 3, 1);
  EXPECT_EQ(child.width(), 0);
  CBasicPropertyFrame().MoveByAnchor(nullptr, 1, 1, 2, 2);
  // Far positions and large changes neither overflow nor wrap around.
  child.setGeometry(10, 50, 308, 141);
  CBasicPropertyFrame().MoveByAnchor(&child, std::numeric_limits<int>::max(),
                                     std::numeric_limits<int>::max(), 2, 3);
  EXPECT_GT(child.x(), 10);
  EXPECT_GT(child.height(), 141);
}

TEST(BasicPropertyFrameTest, PaintModeStepsInTheirOrder) {
  TemporaryDirectory folder;
  // A 6 x 4 image: opaque red on the left half, transparent on the right half.
  QImage art(6, 4, QImage::Format_ARGB32);
  art.fill(Qt::transparent);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) {
      art.setPixel(x, y, 0xFFFF0000);
    }
  }
  const QString artPath = SaveImage(folder, art, "art.png");

  ColourWidget parent(kParentColor);
  parent.resize(40, 30);
  TestCtrl ctrl(&parent);
  ctrl.setGeometry(5, 5, 10, 8);
  ctrl.SetBGImage(artPath, 1, 0, 0);
  ctrl.SetBGColor(0x0000FF00);       // green fill
  ctrl.borderColor = 0xFF0000FF;     // blue border
  const QSize size(10, 8);
  constexpr QRgb kStart = 0xFF000000;

  ctrl.paintMode = 0;
  EXPECT_EQ(Paint(ctrl, &parent, &ctrl, size, kStart), Paint(ctrl, nullptr, nullptr, size, kStart));
  EXPECT_EQ(Paint(ctrl, &parent, &ctrl, size, kStart).pixel(5, 5), kStart);

  ctrl.paintMode = kPaintFill | kPaintBorder;
  QImage painted = Paint(ctrl, &parent, &ctrl, size);
  EXPECT_EQ(painted.pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(painted.pixel(9, 7), 0xFF0000FFu);
  EXPECT_EQ(painted.pixel(9, 3), 0xFF0000FFu);
  EXPECT_EQ(painted.pixel(1, 1), 0xFF00FF00u);

  ctrl.paintMode = kPaintBorder;
  painted = Paint(ctrl, &parent, &ctrl, size, kStart);
  EXPECT_EQ(painted.pixel(4, 0), 0xFF0000FFu);
  EXPECT_EQ(painted.pixel(4, 4), kStart);

  // The image at its natural size, not stretched: nothing of it beyond 6 x 4.
  ctrl.paintMode = kPaintImage;
  painted = Paint(ctrl, &parent, &ctrl, size, kStart);
  EXPECT_EQ(painted.pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(painted.pixel(4, 1), kStart);
  EXPECT_EQ(painted.pixel(7, 5), kStart);

  // Parent copy, then the image: the image's transparent pixels show the parent.
  ctrl.paintMode = kPaintParentCopy | kPaintImage;
  painted = Paint(ctrl, &parent, &ctrl, size, kStart);
  EXPECT_EQ(painted.pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(painted.pixel(4, 1), kParentColor);
  EXPECT_EQ(painted.pixel(9, 7), kParentColor);

  // The copy is taken once and kept: a parent that changes later is not picked up until the
  // owner replaces the copy.
  parent.SetColor(0xFFFFFF00);
  ctrl.paintMode = kPaintParentCopy;
  EXPECT_EQ(Paint(ctrl, &parent, &ctrl, size).pixel(4, 4), kParentColor);
  ctrl.cachedBackground.reset();
  EXPECT_EQ(Paint(ctrl, &parent, &ctrl, size).pixel(4, 4), 0xFFFFFF00u);
  // Without a parent there is nothing to copy.
  ctrl.cachedBackground.reset();
  EXPECT_EQ(Paint(ctrl, nullptr, &ctrl, size, kStart).pixel(4, 4), kStart);
  EXPECT_FALSE(ctrl.cachedBackground.has_value());
}

TEST(BasicPropertyFrameTest, ParentCopyTakesThePixelsUnderTheControl) {
  // A parent whose left and right halves differ; the control straddles the middle.
  class HalvesWidget : public QWidget {
   protected:
    void paintEvent(QPaintEvent*) override {
      QPainter painter(this);
      painter.fillRect(0, 0, 20, height(), QColor(0xFF112233));
      painter.fillRect(20, 0, width() - 20, height(), QColor(0xFF445566));
    }
  };
  HalvesWidget parent;
  parent.resize(40, 30);
  TestCtrl ctrl(&parent);
  ctrl.setGeometry(15, 10, 10, 5);
  ctrl.paintMode = kPaintParentCopy;
  const QImage painted = Paint(ctrl, &parent, &ctrl, QSize(10, 5));
  EXPECT_EQ(painted.pixel(4, 2), 0xFF112233u);
  EXPECT_EQ(painted.pixel(5, 2), 0xFF445566u);
}

TEST(BasicPropertyFrameTest, TwinPathsPutTheMarkBeforeTheSuffix) {
  const std::pair<QString, QString> cases[] = {
      {"/data/ORVAKSearchTools/Picture/ButtonMax.png",
       "/data/ORVAKSearchTools/Picture/ButtonMax@2x.png"},
      {"/data/skin.v2/logo.png", "/data/skin.v2/logo@2x.png"},
      {"/data/skin.v2/logo", "/data/skin.v2/logo@2x"},
      {"/data/archive.tar.png", "/data/archive.tar@2x.png"},
      {"close.png", "close@2x.png"},
  };
  for (const auto& [path, twin] : cases) {
    EXPECT_EQ(HighDensityPath(path), twin) << path.toStdString();
  }
}

TEST(BasicPropertyFrameTest, OnlyATwinOfExactlyTwiceTheSizeIsKept) {
  TemporaryDirectory folder;
  const QImage original = PositionImage(QSize(6, 4), 0);
  struct Case {
    const char* scenario;
    std::function<void(const QString& twinPath)> prepare;
    bool kept;
  };
  const Case cases[] = {
      {"twice the size", [](const QString& path) { PositionImage(QSize(12, 8), 255).save(path); },
       true},
      {"no twin", [](const QString&) {}, false},
      {"the same size", [](const QString& path) { PositionImage(QSize(6, 4), 255).save(path); },
       false},
      {"a column too wide",
       [](const QString& path) { PositionImage(QSize(13, 8), 255).save(path); }, false},
      {"three times the size",
       [](const QString& path) { PositionImage(QSize(18, 12), 255).save(path); }, false},
      {"not an image",
       [](const QString& path) {
         QFile file(path);
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         file.write("\x89PNG but not really");
       },
       false},
      {"a folder", [](const QString& path) { QDir().mkpath(path); }, false},
  };
  int index = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const QString path =
        SaveImage(folder, original, ("strip" + std::to_string(index++) + ".png").c_str());
    test.prepare(HighDensityPath(path));
    CBasicPropertyFrame frame;
    frame.SetBGImage(path, 2, 0, 0);
    EXPECT_EQ(frame.bgImage2x.isNull(), !test.kept);
    EXPECT_EQ(!LoadHighDensityImage(path, original.size()).isNull(), test.kept);
    // The original's size and cells do not depend on the twin.
    EXPECT_EQ(frame.imageWidth, 6);
    EXPECT_EQ(frame.cellWidth, 3);
    if (test.kept) {
      EXPECT_EQ(frame.bgImage2x.pixel(11, 7), qRgb(11, 7, 255));
      // Loading an image without a twin afterwards leaves no twin of the earlier one.
      frame.SetBGImage(SaveImage(folder, original, "alone.png"), 2, 0, 0);
      EXPECT_TRUE(frame.bgImage2x.isNull());
    }
  }
  // A twin without its original is a twin of nothing.
  PositionImage(QSize(12, 8), 255)
      .save(HighDensityPath(QString::fromStdString(folder.File("gone.png"))));
  CBasicPropertyFrame frame;
  frame.SetBGImage(QString::fromStdString(folder.File("gone.png")), 1, 0, 0);
  EXPECT_TRUE(frame.bgImage2x.isNull());
}

TEST(BasicPropertyFrameTest, TheImageStepTakesTheTwinOnlyOnDenseDevices) {
  TemporaryDirectory folder;
  const QString path = SaveImage(folder, PositionImage(QSize(6, 4), 0), "art.png");
  ASSERT_TRUE(PositionImage(QSize(12, 8), 255).save(HighDensityPath(path)));
  const QString alonePath = SaveImage(folder, PositionImage(QSize(6, 4), 0), "alone.png");
  constexpr QRgb kStart = 0xFF808080;
  const QSize size(10, 8);

  CBasicPropertyFrame frame;
  frame.paintMode = kPaintImage;
  frame.SetBGImage(path, 1, 0, 0);
  CBasicPropertyFrame alone;
  alone.paintMode = kPaintImage;
  alone.SetBGImage(alonePath, 1, 0, 0);

  // At ratio 1 the original, pixel for pixel.
  QImage painted = PaintAtRatio(frame, size, 1, kStart);
  EXPECT_EQ(painted.pixel(5, 3), qRgb(5, 3, 0));
  EXPECT_EQ(painted.pixel(6, 3), kStart);

  // At ratio 2 every device pixel of the same logical rectangle is the twin's, and nothing
  // beyond the rectangle is painted.
  painted = PaintAtRatio(frame, size, 2, kStart);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 12; ++x) {
      ASSERT_EQ(painted.pixel(x, y), qRgb(x, y, 255)) << x << ',' << y;
    }
  }
  EXPECT_EQ(painted.pixel(12, 0), kStart);
  EXPECT_EQ(painted.pixel(0, 8), kStart);

  // Without a twin the original is enlarged into the same rectangle.
  painted = PaintAtRatio(alone, size, 2, kStart);
  EXPECT_EQ(painted.pixel(11, 7), qRgb(5, 3, 0));
  EXPECT_EQ(painted.pixel(12, 7), kStart);

  // At ratio 1.5 the twin is resampled into the rectangle's 9 x 6 device pixels.
  painted = PaintAtRatio(frame, size, 1.5, kStart);
  EXPECT_EQ(qBlue(painted.pixel(4, 3)), 255);
  EXPECT_EQ(qBlue(painted.pixel(8, 5)), 255);
  EXPECT_EQ(painted.pixel(9, 5), kStart);
  EXPECT_EQ(painted.pixel(8, 6), kStart);

  // A twin replaced by one of another size is not drawn.
  frame.bgImage2x = PositionImage(QSize(10, 8), 255);
  painted = PaintAtRatio(frame, size, 2, kStart);
  EXPECT_EQ(painted.pixel(11, 7), qRgb(5, 3, 0));
}

}  // namespace
