#include "controls/BasicDialog.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QTest>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

std::vector<QWidget*> drags;
void RecordDrag(QWidget* window, QPoint) { drags.push_back(window); }

// A window-shape bitmap: 5, 3, 2 and 1 key pixels in rows 0 to 3 at both top corners.
QImage ShapeBitmap(int width, int height) {
  QImage bitmap(width, height, QImage::Format_RGB32);
  bitmap.fill(0xFF204060);
  const int cut[] = {5, 3, 2, 1};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < cut[y]; ++x) {
      bitmap.setPixel(x, y, kRegionKeyColor);
      bitmap.setPixel(width - 1 - x, y, kRegionKeyColor);
    }
  }
  return bitmap;
}

TEST(BasicDialogTest, KeyColourCornersAreCutOutOfTheWindow) {
  const QRegion region = RegionFromKeyColor(ShapeBitmap(328, 245), QSize(328, 245));
  const int cut[] = {5, 3, 2, 1, 0};
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(region.contains(QPoint(x, y)), x >= cut[y]) << x << ',' << y;
      EXPECT_EQ(region.contains(QPoint(327 - x, y)), x >= cut[y]) << 327 - x << ',' << y;
    }
  }
  // The bottom corners stay.
  EXPECT_TRUE(region.contains(QPoint(0, 244)));
  EXPECT_TRUE(region.contains(QPoint(327, 244)));

  // Key pixels below the scanned rows are not cut.
  QImage low = ShapeBitmap(50, 50);
  low.setPixel(10, 40, kRegionKeyColor);
  EXPECT_TRUE(RegionFromKeyColor(low, QSize(50, 50)).contains(QPoint(10, 40)));

  // The borderless dialog applies the shape as its mask on every size change.
  TemporaryDirectory folder;
  const QString path = QString::fromStdString(folder.File("shape.bmp"));
  ASSERT_TRUE(ShapeBitmap(328, 245).save(path));
  CBasicNoneBorderDlg dialog;
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  dialog.SetRegionBitmapPath(path);
  dialog.show();
  dialog.resize(328, 245);
  EXPECT_FALSE(dialog.mask().contains(QPoint(0, 0)));
  EXPECT_TRUE(dialog.mask().contains(QPoint(5, 0)));
  EXPECT_TRUE(dialog.mask().contains(QPoint(164, 120)));
}

// Where a mask only limits input (Wayland), the dialog is translucent and its cut corners must be
// transparent pixels; an opaque dialog (X11, where the mask cuts the window) paints them as before.
TEST(BasicDialogTest, ATranslucentDialogPaintsOnlyInsideItsShape) {
  EXPECT_FALSE(IsWaylandPlatform()) << "the tests run on the offscreen platform";
  TemporaryDirectory folder;
  const QString path = QString::fromStdString(folder.File("shape.bmp"));
  ASSERT_TRUE(ShapeBitmap(328, 245).save(path));
  for (const bool translucent : {false, true}) {
    SCOPED_TRACE(translucent ? "translucent" : "opaque");
    CBasicNoneBorderDlg dialog;
    if (translucent) {
      dialog.UseTranslucentShape();
    }
    dialog.setAttribute(Qt::WA_DontShowOnScreen);
    dialog.SetRegionBitmapPath(path);
    dialog.show();
    dialog.resize(328, 245);
    const QImage image = dialog.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(328, 245));
    // Corner pixels cut by the shape, and pixels inside it next to them.
    for (const QPoint cut :
         {QPoint(0, 0), QPoint(4, 0), QPoint(2, 1), QPoint(0, 3), QPoint(327, 0), QPoint(325, 1)}) {
      EXPECT_EQ(qAlpha(image.pixel(cut)), translucent ? 0 : 255) << cut.x() << ',' << cut.y();
    }
    for (const QPoint inside :
         {QPoint(5, 0), QPoint(1, 3), QPoint(322, 0), QPoint(0, 244), QPoint(164, 120)}) {
      EXPECT_EQ(image.pixel(inside), dialog.RenderBuffer().pixel(inside))
          << inside.x() << ',' << inside.y();
      EXPECT_EQ(qAlpha(image.pixel(inside)), 255) << inside.x() << ',' << inside.y();
    }
  }
}

TEST(BasicDialogTest, TheTopBandOfTwentyEightPixelsDragsTheBorderlessDialog) {
  drags.clear();
  SetWindowDragHook(RecordDrag);
  CBasicNoneBorderDlg dialog;
  dialog.resize(328, 245);
  QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(100, 27));
  QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(100, 27));
  EXPECT_EQ(drags.size(), 1u);
  QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(100, 28));
  QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(100, 28));
  SetWindowDragHook(nullptr);
  EXPECT_EQ(drags, std::vector<QWidget*>{&dialog});
}

// A dialog with two template children, loaded from a small layout.
class BasicDialogLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QDir().mkpath(QString::fromStdString(folder_.Path()) + "/Skin");
    QFile file(QString::fromStdString(folder_.Path()) + "/Skin/layout.xml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<WindowInformation><DialogInfo DialogID="201" DialogText="Title" DialogDiscrip="">
<Standard DialogBGPath="" DialogBGColor="1,2,3" DlgPaintMode="8" DlgTextOffSet="4,5"
 DlgTextColor="6,7,8" DialogFont="Tahoma" DialogFontSize="12" DialogPos="0,0,328,245">
<CtrlInfo CtrlID="11" CtrlBGPath="" CtrlBGStatusCount="1" CtrlBGColor="0,0,0"
 CtrlBorderColor="0,0,0" CtrlPaintMode="0" CtrlClass="Template" CtrlStyle="WS_CHILD"
 CtrlPosType="3" CtrlPos="10,20,30,40" CtrlShow="0" CtrlText="Label text" CtrlTextOffSet="0,0"
 CtrlTextColor="255,0,0" CtrlFont="Tahoma" CtrlFontSize="13" CtrlDiscrip=""/>
<CtrlInfo CtrlID="99" CtrlBGPath="" CtrlBGStatusCount="1" CtrlBGColor="0,0,0"
 CtrlBorderColor="0,0,0" CtrlPaintMode="0" CtrlClass="Template" CtrlStyle="WS_CHILD"
 CtrlPosType="3" CtrlPos="1,1,1,1" CtrlShow="5" CtrlText="nobody" CtrlTextOffSet="0,0"
 CtrlTextColor="0,0,0" CtrlFont="Tahoma" CtrlFontSize="13" CtrlDiscrip=""/>
</Standard></DialogInfo></WindowInformation>)");
  }

  TemporaryDirectory folder_;
  const ScopedEnvironment data_{"XDG_DATA_HOME", folder_.Path()};
};

TEST_F(BasicDialogLayoutTest, TheDialogKeepsItsPlaceAndTakesItsSizeAndLook) {
  CBasicDialog dialog;
  dialog.move(100, 80);
  auto* label = new QLabel(&dialog);
  SetCtrlId(label, 11);
  auto* other = new QLabel("unchanged", &dialog);
  SetCtrlId(other, 12);
  other->setGeometry(2, 3, 4, 5);
  dialog.LoadLayoutFile("\\Skin\\layout.xml", 201, "Standard");

  EXPECT_EQ(dialog.pos(), QPoint(100, 80));
  EXPECT_EQ(dialog.size(), QSize(328, 245));
  EXPECT_EQ(dialog.windowTitle(), "Title");
  EXPECT_EQ(dialog.paintMode, 8);
  EXPECT_EQ(dialog.bgColor, 0xFF010203u);
  EXPECT_EQ(dialog.textColor, 0xFF060708u);
  EXPECT_EQ(dialog.drawnText, "Title");
  EXPECT_EQ(dialog.textOffsetX, 4);
  EXPECT_EQ(dialog.resizeHook, 1);

  // The template child takes its record: place, show command, text, font and colour.
  EXPECT_EQ(label->geometry(), QRect(10, 20, 30, 40));
  EXPECT_TRUE(label->isHidden());
  EXPECT_EQ(label->text(), "Label text");
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(dialog.FontCount(), 1u);
  // Records without a child, and children without a record, change nothing.
  EXPECT_EQ(other->geometry(), QRect(2, 3, 4, 5));
  EXPECT_EQ(other->text(), "unchanged");

  // The base drawing ignores the paint mode: the plain background colour.
  EXPECT_EQ(dialog.RenderBuffer().pixel(164, 120), 0xFF010203u);
  // Loading again leaves one font, not two.
  dialog.LoadLayoutFile("\\Skin\\layout.xml", 201, "Standard");
  EXPECT_EQ(dialog.FontCount(), 1u);
}

// Records the size changes that reach the property record's hook.
class ResizeDialog : public CBasicDialog {
 public:
  void OnParentSized(int dx, int dy) override { changes.emplace_back(dx, dy); }
  std::vector<std::pair<int, int>> changes;
};

TEST_F(BasicDialogLayoutTest, SizeChangesReachTheHookOnlyAfterALayoutIsLoaded) {
  ResizeDialog dialog;
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  dialog.resize(100, 100);
  dialog.show();
  dialog.resize(120, 90);
  // A top-level window learns its new size from the window system.
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialog.changes.empty());
  EXPECT_EQ(dialog.lastClientRect, QRect(0, 0, 120, 90));
  // The layout's own sizing comes before the hook is set; later changes reach it.
  dialog.LoadLayoutFile("\\Skin\\layout.xml", 201, "Standard");
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialog.changes.empty());
  dialog.resize(338, 250);
  QCoreApplication::processEvents();
  ASSERT_EQ(dialog.changes.size(), 1u);
  EXPECT_EQ(dialog.changes[0], std::make_pair(10, 5));
}

}  // namespace
