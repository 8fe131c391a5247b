#include "controls/BasicCtrl.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include "TemporaryDirectory.h"
#include "controls/BasicDialog.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"

namespace {

using testsupport::TemporaryDirectory;

constexpr QRgb kBlack = 0xFF000000;

// The drags that would have started.
std::vector<QWidget*> drags;
void RecordDrag(QWidget* window, QPoint) { drags.push_back(window); }

// True when any pixel inside `area` differs from `background`.
bool HasInk(const QImage& image, const QRect& area, QRgb background) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) != background) {
        return true;
      }
    }
  }
  return false;
}

// The bounding box of every pixel that differs from `background`.
QRect InkBounds(const QImage& image, QRgb background) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != background) {
        bounds |= QRect(x, y, 1, 1);
      }
    }
  }
  return bounds;
}

template <typename Ctrl>
std::unique_ptr<Ctrl> TextCtrl(QSize size, const QString& text, int offsetX, int offsetY) {
  auto ctrl = std::make_unique<Ctrl>();
  ctrl->resize(size);
  ctrl->paintMode = kPaintFill;
  ctrl->SetBGColor(0x00000000);
  ctrl->SetTextColor(0x00FFFFFF);
  ctrl->SetFont("Tahoma", 12);
  ctrl->SetText(text, offsetX, offsetY);
  return ctrl;
}

TEST(ShowCtrlsTest, TextStartsAtItsOffsetAndMinusOneMeansOne) {
  struct Case {
    int offsetX;
    int offsetY;
    QPoint origin;
  };
  const Case cases[] = {{0, 0, {0, 0}}, {-1, -1, {1, 1}}, {13, 2, {13, 2}}, {15, 1, {15, 1}}};
  for (const Case& test : cases) {
    auto ctrl = TextCtrl<CShowTextCtrl>(QSize(200, 40), "Device List", test.offsetX, test.offsetY);
    const QRect ink = InkBounds(ctrl->RenderBuffer(), kBlack);
    ASSERT_FALSE(ink.isEmpty());
    // Glyphs begin a pixel or two inside their cell; never before the origin.
    EXPECT_GE(ink.left(), test.origin.x()) << test.offsetX;
    EXPECT_LE(ink.left(), test.origin.x() + 3) << test.offsetX;
    EXPECT_GE(ink.top(), test.origin.y()) << test.offsetY;
    EXPECT_LE(ink.top(), test.origin.y() + 6) << test.offsetY;
  }
}

TEST(ShowCtrlsTest, LongTextWrapsAtTheLayoutWidthAndIsCutByTheEdge) {
  const QString text = "Searching new devices please wait a little longer";
  auto wide = TextCtrl<CShowTextImageCtrl>(QSize(400, 60), text, 13, 2);
  auto narrow = TextCtrl<CShowTextImageCtrl>(QSize(120, 60), text, 13, 2);
  const QRect wideInk = InkBounds(wide->RenderBuffer(), kBlack);
  const QRect narrowInk = InkBounds(narrow->RenderBuffer(), kBlack);
  EXPECT_LT(wideInk.height(), 16);
  EXPECT_GT(narrowInk.height(), 2 * 12);
  // The wrap width is the client width less twice the offset.
  EXPECT_LE(narrowInk.right(), 120 - 13);
  // A control only one line high cuts off the lines below.
  auto low = TextCtrl<CShowTextCtrl>(QSize(120, 15), text, 13, 2);
  EXPECT_LE(InkBounds(low->RenderBuffer(), kBlack).bottom(), 14);
}

TEST(ShowCtrlsTest, NoTextNoFontOrAnImageControlDrawNoText) {
  auto withoutFont = TextCtrl<CShowTextCtrl>(QSize(100, 20), "Text", 0, 0);
  withoutFont->SetFont("NoSuchFontFamily", 12);
  EXPECT_FALSE(HasInk(withoutFont->RenderBuffer(), QRect(0, 0, 100, 20), kBlack));
  auto empty = TextCtrl<CShowTextCtrl>(QSize(100, 20), "", 0, 0);
  EXPECT_FALSE(HasInk(empty->RenderBuffer(), QRect(0, 0, 100, 20), kBlack));
  auto image = TextCtrl<CShowImageCtrl>(QSize(100, 20), "Text", 0, 0);
  EXPECT_FALSE(HasInk(image->RenderBuffer(), QRect(0, 0, 100, 20), kBlack));
}

TEST(ShowCtrlsTest, ImageControlsShowCellZeroUnscaled) {
  TemporaryDirectory folder;
  QImage strip(40, 10, QImage::Format_RGB32);
  const QRgb cells[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
  for (int cell = 0; cell < 4; ++cell) {
    QPainter(&strip).fillRect(cell * 10, 0, 10, 10, QColor::fromRgb(cells[cell]));
  }
  const QString path = QString::fromStdString(folder.File("strip.png"));
  ASSERT_TRUE(strip.save(path));

  CShowImageCtrl image;
  image.resize(30, 20);
  image.paintMode = kPaintFill;
  image.SetBGColor(0);
  image.SetBGImage(path, 4, 0, 0);
  QImage painted = image.RenderBuffer();
  EXPECT_EQ(painted.pixel(5, 5), cells[0]);
  EXPECT_EQ(painted.pixel(15, 5), kBlack);  // only the leftmost quarter
  EXPECT_EQ(painted.pixel(5, 15), kBlack);  // unscaled

  // Without an image a text-and-image control shows its background and its text only.
  auto withoutImage = TextCtrl<CShowTextImageCtrl>(QSize(100, 20), "Device List", 13, 2);
  painted = withoutImage->RenderBuffer();
  EXPECT_FALSE(HasInk(painted, QRect(0, 0, 12, 20), kBlack));
  EXPECT_TRUE(HasInk(painted, QRect(13, 0, 87, 20), kBlack));
}

TEST(ShowCtrlsTest, PressesInTheParentsTopBandDragTheDialog) {
  drags.clear();
  SetWindowDragHook(RecordDrag);
  // On a borderless dialog, whose own band must not start a second drag for the same press.
  CBasicNoneBorderDlg dialog;
  dialog.resize(200, 100);
  CShowTextCtrl title(&dialog);
  title.setGeometry(30, 4, 100, 40);
  // Parent y = 4 + control y: 27 drags, 28 does not.
  QTest::mousePress(&title, Qt::LeftButton, {}, QPoint(5, 23));
  QTest::mouseRelease(&title, Qt::LeftButton, {}, QPoint(5, 23));
  QTest::mousePress(&title, Qt::LeftButton, {}, QPoint(5, 24));
  QTest::mouseRelease(&title, Qt::LeftButton, {}, QPoint(5, 24));
  QTest::mousePress(&title, Qt::RightButton, {}, QPoint(5, 2));
  QTest::mouseRelease(&title, Qt::RightButton, {}, QPoint(5, 2));
  SetWindowDragHook(nullptr);
  EXPECT_EQ(drags, std::vector<QWidget*>{&dialog});
  // A control without a parent drags nothing.
  EXPECT_FALSE(DragParentFromBand(&dialog, QPoint(0, 0), QPoint(0, 0)));
}

TEST(ShowCtrlsTest, ControlsKnowTheirIdentifierAndSizeAndPaintOnScreen) {
  QWidget dialog;
  dialog.resize(100, 60);
  auto* label = new CShowTextCtrl(&dialog);
  SetCtrlId(label, 2104);
  label->setGeometry(0, 0, 40, 15);
  // Size changes of a window that was never shown arrive when it is shown.
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  dialog.show();
  EXPECT_EQ(FindDlgItem(&dialog, 2104), label);
  EXPECT_EQ(FindDlgItem(&dialog, 2105), nullptr);
  EXPECT_EQ(label->lastClientRect, QRect(0, 0, 40, 15));
  label->paintMode = kPaintFill;
  label->SetBGColor(0x000000FF);
  // What reaches the screen is the buffer.
  const QImage grabbed = label->grab().toImage();
  EXPECT_EQ(grabbed.pixel(20, 7), 0xFFFF0000u);
}

}  // namespace
