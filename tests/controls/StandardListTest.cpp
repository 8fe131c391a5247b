#include "controls/StandardListCtrl.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

#include "TemporaryDirectory.h"
#include "controls/CtrlNotify.h"

namespace {

using testsupport::TemporaryDirectory;
using Align = CStandardListCtrl::ColumnAlign;

constexpr QRgb kHeaderColor = 0xFF204080;
// Painted into the part of the header background that must never be shown.
constexpr QRgb kLoudColor = 0xFFFF00FF;
constexpr QRgb kSeparatorColor = 0xFF00FF00;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kBorderColor = 0xFF7E9DB9;
constexpr int kListId = 2105;
constexpr QSize kListSize(300, 160);
constexpr QSize kSeparatorSize(2, 10);

// A dialog that records the notifications of its lists, with the selection that the list
// reports at that moment (what the main dialog reads in its handlers).
class ListDialog : public QWidget, public CCtrlNotifySink {
 public:
  struct Notification {
    int ctrlId;
    int code;
    int selectedRow;
  };
  void OnCtrlCommand(int, int) override {}
  void OnCtrlNotify(int ctrlId, int notifyCode) override {
    const auto* list = dynamic_cast<CStandardListCtrl*>(FindDlgItem(this, ctrlId));
    notifications.push_back({ctrlId, notifyCode, list ? list->GetFirstSelectedRow() : -2});
  }
  void OnCtrlMessage(int, int, int) override {}

  std::vector<Notification> notifications;
};

struct Column {
  const char* title;
  Align align;
  int width;
};

// A zero-width column first, so that a separator or title drawn for it would show at x = 0.
const std::vector<Column> kColumns = {
    {"Zero", Align::Left, 0}, {"Host", Align::Right, 90}, {"Model", Align::Center, 110}};

class StandardListTest : public ::testing::Test {
 protected:
  // A uniform background whose last 50 columns and last 5 rows are loud.
  QString BackgroundPath() {
    QImage image(150, 40, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(kHeaderColor));
    QPainter painter(&image);
    painter.fillRect(100, 0, 50, 40, QColor::fromRgba(kLoudColor));
    painter.fillRect(0, 35, 150, 5, QColor::fromRgba(kLoudColor));
    painter.end();
    return Save(image, "background.png");
  }

  QString SeparatorPath() {
    QImage image(kSeparatorSize, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(kSeparatorColor));
    return Save(image, "separator.png");
  }

  QString MissingPath() const { return QString::fromStdString(folder_.File("missing.png")); }

  // A list as the main dialog sets it up, shown in `dialog_`.
  CStandardListCtrl* MakeList(float heightScale = 0.9f, int paintMode = 0,
                              const std::vector<Column>& columns = kColumns) {
    auto* list = new CStandardListCtrl(&dialog_);
    SetCtrlId(list, kListId);
    list->paintMode = paintMode;
    list->borderColor = kBorderColor;
    list->UpdateBorderMargins();
    list->SetListFont(QFont("Liberation Sans", 10));
    list->SetGridLines(true);
    list->SetFullRowSelect(true);
    list->SetHeaderImages(BackgroundPath(), SeparatorPath());
    list->SetHeaderFont("Tahoma", 13);
    list->SetHeaderTextColor("255,255,255");
    list->GetHeaderCtrl()->heightScale = heightScale;
    for (const Column& column : columns) {
      list->InsertColumn(list->columnCount(), column.title, column.align, column.width);
    }
    list->setGeometry(QRect(QPoint(0, 0), kListSize));
    list->show();
    dialog_.resize(kListSize + QSize(20, 20));
    dialog_.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
    QApplication::processEvents();
    return list;
  }

  ListDialog dialog_;

 private:
  QString Save(const QImage& image, const char* name) {
    const QString path = QString::fromStdString(folder_.File(name));
    EXPECT_TRUE(image.save(path));
    return path;
  }

  TemporaryDirectory folder_;
};

TEST(ScaledHeaderHeightTest, TruncatesTheSinglePrecisionFactorInDoublePrecision) {
  const std::pair<int, int> cases[] = {{20, 17}, {19, 17}, {21, 18}, {10, 8}, {0, 0}};
  for (const auto& [height, scaled] : cases) {
    EXPECT_EQ(ScaledHeaderHeight(height, 0.9f), scaled) << height;
  }
  EXPECT_EQ(ScaledHeaderHeight(20, 1.0f), 20);
  // Multiplied in single precision, 20 × 0.9f rounds up to exactly 18, one pixel too many.
  volatile float factor = 0.9f;
  EXPECT_EQ(static_cast<int>(20 * factor), 18);
}

TEST_F(StandardListTest, HeaderHasTheScaledHeightAndTheRowsStartBelowIt) {
  // Without the border the header sits at the top; with it, one pixel lower.
  for (const int paintMode : {0, 1}) {
    SCOPED_TRACE(paintMode);
    const int inset = paintMode & kPaintBorder;
    const int defaultHeight = MakeList(1.0f, paintMode)->GetHeaderCtrl()->height();
    CStandardListCtrl* list = MakeList(0.9f, paintMode);
    list->InsertItem(0, "row");
    QApplication::processEvents();
    const int scaled = ScaledHeaderHeight(defaultHeight, 0.9f);
    ASSERT_LT(scaled, defaultHeight);
    const QRect header = list->GetHeaderCtrl()->geometry();
    EXPECT_EQ(header.top(), inset);
    EXPECT_EQ(header.height(), scaled);
    EXPECT_EQ(list->viewport()->geometry().top(), inset + scaled);
    // On screen: the header's last line still shows its background, the next one is the row.
    const QImage shown = list->grab().toImage();
    EXPECT_EQ(shown.pixel(40, inset + scaled - 1), kHeaderColor);
    EXPECT_NE(shown.pixel(40, inset + scaled), kHeaderColor);
    EXPECT_EQ(list->rowAt(0), 0);
  }
}

// Sorts the header's pixels into background, separators and titles and checks each.
TEST_F(StandardListTest, HeaderDrawsStretchedBackgroundSeparatorsAndCentredTitles) {
  struct Case {
    const char* name;
    bool images;
    const char* fontFamily;
    bool titles;
  };
  const Case cases[] = {
      {"all parts", true, "Tahoma", true},
      {"missing images", false, "Tahoma", true},
      {"unusable font", true, "No Such Family Anywhere", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CStandardListCtrl* list = MakeList();
    if (!c.images) {
      list->SetHeaderImages(MissingPath(), MissingPath());
    }
    list->SetHeaderFont(c.fontFamily, 13);
    // A large list font makes a tall header (the header takes the list's font for its height,
    // not for its titles), so that a title off the vertical centre shows.
    QFont large("Liberation Sans");
    large.setPixelSize(30);
    list->SetListFont(large);
    QApplication::processEvents();
    const QImage image = list->GetHeaderCtrl()->RenderBuffer();
    ASSERT_EQ(image.width(), kListSize.width());
    const int height = image.height();
    ASSERT_GE(height, 30);
    const QRgb background = c.images ? kHeaderColor : kBlack;

    // Separators hang 4 pixels below the top at the right edge of the two visible columns,
    // the last one past the columns; the zero-width column at x = 0 has none.
    auto isSeparator = [&](int x, int y) {
      const bool rows = y >= 4 && y < 4 + kSeparatorSize.height();
      const bool columns = (x >= 90 && x < 92) || (x >= 200 && x < 202);
      return c.images && rows && columns;
    };
    // Ink bounding boxes of the titles, per column region: [0, 90), [90, 200), [200, 300).
    const int regions[] = {0, 90, 200, 300};
    std::optional<QRect> ink[3];
    int brightestRed[3] = {0, 0, 0};
    int loud = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, y);
        loud += pixel == kLoudColor ? 1 : 0;
        if (isSeparator(x, y)) {
          EXPECT_EQ(pixel, kSeparatorColor) << x << "," << y;
          continue;
        }
        if (pixel == background) {
          continue;
        }
        const int region = x < 90 ? 0 : (x < 200 ? 1 : 2);
        ink[region] = ink[region] ? ink[region]->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
        brightestRed[region] = std::max(brightestRed[region], qRed(pixel));
      }
    }
    EXPECT_EQ(loud, 0) << "the unused margin of the background image is shown";
    EXPECT_FALSE(ink[2].has_value()) << "something is drawn right of the columns";
    for (int region = 0; region < 2; ++region) {
      SCOPED_TRACE(kColumns[region + 1].title);
      ASSERT_EQ(ink[region].has_value(), c.titles);
      if (!c.titles) {
        continue;
      }
      // Antialiased strokes rarely cover a pixel whole; the strongest ones come close to the
      // white title colour, far from the background's red of 0x20 and from default black.
      EXPECT_GE(brightestRed[region], 0xA0);
      // Centred both ways in (left, 3, width, height - 3), whatever the column's alignment.
      const QRectF box(regions[region], 3, regions[region + 1] - regions[region], height - 3);
      EXPECT_NEAR(QRectF(*ink[region]).center().x(), box.center().x(), 0.75);
      EXPECT_NEAR(QRectF(*ink[region]).center().y(), box.center().y(), 0.75);
    }
    delete list;
  }
}

TEST_F(StandardListTest, BorderOnlyWithPaintModeBitOne) {
  struct Case {
    int paintMode;
    bool border;
  };
  for (const Case& c : {Case{1, true}, Case{9, true}, Case{0, false}, Case{6, false}}) {
    SCOPED_TRACE(c.paintMode);
    CStandardListCtrl* list = MakeList(0.9f, c.paintMode);
    list->InsertItem(0, "row");
    const int inset = c.border ? 1 : 0;
    EXPECT_EQ(list->viewport()->geometry().left(), inset);
    EXPECT_EQ(list->viewport()->geometry().right(), kListSize.width() - 1 - inset);
    EXPECT_EQ(list->viewport()->geometry().bottom(), kListSize.height() - 1 - inset);
    EXPECT_EQ(list->GetHeaderCtrl()->geometry().topLeft(), QPoint(inset, inset));

    const QImage shown = list->grab().toImage();
    const int right = kListSize.width() - 1;
    const int bottom = kListSize.height() - 1;
    const QPoint edges[] = {
        {0, 0},      {right / 2, 0},      {right, 0},     {0, bottom / 2}, {right, bottom / 2},
        {0, bottom}, {right / 2, bottom}, {right, bottom}};
    for (const QPoint& edge : edges) {
      EXPECT_EQ(shown.pixel(edge) == kBorderColor, c.border) << edge.x() << "," << edge.y();
    }
    // Just inside the frame lie the header and the rows, never the border colour.
    EXPECT_NE(shown.pixel(1 + inset, 1 + inset), kBorderColor);
    EXPECT_NE(shown.pixel(right / 2, bottom - inset), kBorderColor);
    delete list;
  }
}

TEST_F(StandardListTest, RowsInsertedOnTopAreReadBackAndCleared) {
  CStandardListCtrl* list = MakeList();
  const char* devices[][3] = {{"nas-a", "10.0.0.5", "Disk A"},
                              {"nas-b", "10.0.0.7", "Disk B"},
                              {"nas-c", "10.0.0.9", "Disk C"}};
  for (const auto& device : devices) {
    EXPECT_EQ(list->InsertItem(0, ""), 0);
    for (int column = 0; column < 3; ++column) {
      EXPECT_TRUE(list->SetItemText(0, column, device[column]));
    }
  }
  ASSERT_EQ(list->GetItemCount(), 3);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(list->GetItemText(row, column), devices[2 - row][column]) << row << column;
    }
  }
  // The cells follow their column's alignment and are never edited in place.
  EXPECT_TRUE(list->item(0, 1)->textAlignment() & Qt::AlignRight);
  EXPECT_TRUE(list->item(0, 2)->textAlignment() & Qt::AlignHCenter);
  EXPECT_FALSE(list->item(0, 1)->flags() & Qt::ItemIsEditable);

  // Cells that do not exist are neither written nor read; a row past the end is appended.
  EXPECT_FALSE(list->SetItemText(3, 0, "x"));
  EXPECT_FALSE(list->SetItemText(0, 3, "x"));
  EXPECT_FALSE(list->SetItemText(-1, 0, "x"));
  EXPECT_EQ(list->GetItemText(7, 7), "");
  EXPECT_EQ(list->InsertItem(99, "tail"), 3);
  EXPECT_EQ(list->GetItemText(3, 0), "tail");
  EXPECT_EQ(list->InsertColumn(99, "Extra", Align::Left, 40), 3);

  // The header colour comes from a layout colour text; one that is not a colour changes nothing.
  list->SetHeaderTextColor("6,65,105");
  EXPECT_EQ(list->GetHeaderCtrl()->textColor, 0xFF064169u);
  list->SetHeaderTextColor("blue");
  EXPECT_EQ(list->GetHeaderCtrl()->textColor, 0xFF064169u);

  EXPECT_EQ(list->GetFirstSelectedRow(), -1);
  list->selectRow(2);
  list->selectionModel()->select(list->model()->index(1, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(list->GetFirstSelectedRow(), 1);
  list->DeleteAllItems();
  EXPECT_EQ(list->GetItemCount(), 0);
  EXPECT_EQ(list->GetFirstSelectedRow(), -1);
  EXPECT_EQ(list->columnCount(), 4);
}

TEST_F(StandardListTest, ClicksReachTheDialogAfterTheSelectionChanged) {
  enum class Gesture { Click, DoubleClick };
  struct Case {
    const char* name;
    bool singleSelection;
    int selectedBefore;
    Gesture gesture;
    int targetRow;  // -1: the empty space below the rows
    std::vector<int> codes;
    int selectedAfter;
  };
  const std::vector<int> click = {kNotifyClick};
  // The first click of a double click is a click of its own; the second one is not.
  const std::vector<int> clickThenDouble = {kNotifyClick, kNotifyDoubleClick};
  const Case cases[] = {
      {"click on a row", false, -1, Gesture::Click, 1, click, 1},
      {"click on another row", false, 0, Gesture::Click, 2, click, 2},
      {"click on empty space", false, 1, Gesture::Click, -1, click, -1},
      {"single selection: click on a row", true, 0, Gesture::Click, 1, click, 1},
      {"single selection: click on empty space", true, 1, Gesture::Click, -1, click, -1},
      {"double click on a row", false, -1, Gesture::DoubleClick, 0, clickThenDouble, 0},
      {"double click on empty space", false, 2, Gesture::DoubleClick, -1, clickThenDouble, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CStandardListCtrl* list = MakeList();
    list->SetSingleSelection(c.singleSelection);
    for (const char* host : {"nas-c", "nas-b", "nas-a"}) {
      list->InsertItem(0, host);
    }
    if (c.selectedBefore >= 0) {
      list->selectRow(c.selectedBefore);
    }
    ASSERT_EQ(list->GetFirstSelectedRow(), c.selectedBefore);
    const QRect lastRow = list->visualRect(list->model()->index(2, 1));
    ASSERT_LT(lastRow.bottom() + 20, list->viewport()->height());
    const QPoint target = c.targetRow >= 0
                              ? list->visualRect(list->model()->index(c.targetRow, 1)).center()
                              : QPoint(lastRow.center().x(), lastRow.bottom() + 15);

    dialog_.notifications.clear();
    QWidget* viewport = list->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, target);
    // As on the desktop, the press on empty space has already dropped the selection.
    if (c.targetRow < 0) {
      EXPECT_EQ(list->GetFirstSelectedRow(), -1);
    }
    EXPECT_TRUE(dialog_.notifications.empty()) << "told before the button came up";
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, target);
    if (c.gesture == Gesture::DoubleClick) {
      QTest::mouseDClick(viewport, Qt::LeftButton, {}, target);
      QTest::mouseRelease(viewport, Qt::LeftButton, {}, target);
      EXPECT_TRUE(list->findChildren<QLineEdit*>().isEmpty()) << "a cell editor opened";
    }
    // Each notification finds the selection of its gesture already made.
    std::vector<int> codes;
    for (const ListDialog::Notification& told : dialog_.notifications) {
      EXPECT_EQ(told.ctrlId, kListId);
      EXPECT_EQ(told.selectedRow, c.selectedAfter);
      codes.push_back(told.code);
    }
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(list->GetFirstSelectedRow(), c.selectedAfter);
    // The right button selects but is not a click for the dialog.
    dialog_.notifications.clear();
    QTest::mouseClick(viewport, Qt::RightButton, {}, target);
    EXPECT_TRUE(dialog_.notifications.empty());
    delete list;
  }
}

TEST_F(StandardListTest, ShortenedCellsCarryTheirWholeTextAsTooltip) {
  const QString longName = "storage-in-the-basement-01";
  CStandardListCtrl* list =
      MakeList(0.9f, 0, {{"Host", Align::Left, 96}, {"Address", Align::Center, 122}});
  list->InsertItem(0, "nas");
  list->SetItemText(0, 1, "10.0.0.1");
  list->InsertItem(0, longName);
  list->SetItemText(0, 1, "10.0.0.2");
  const auto tip = [&](int row, int column) {
    return list->model()->data(list->model()->index(row, column), Qt::ToolTipRole).toString();
  };
  EXPECT_EQ(tip(0, 0), longName);
  EXPECT_EQ(tip(1, 0), "");
  EXPECT_EQ(tip(0, 1), "");
  // The column's width decides: wide enough, no tooltip; narrow, it comes back.
  list->setColumnWidth(0, 400);
  EXPECT_EQ(tip(0, 0), "");
  list->setColumnWidth(0, 16);
  EXPECT_EQ(tip(0, 0), longName);
  EXPECT_EQ(tip(1, 0), "nas");
  // So does the text.
  list->SetItemText(1, 0, "n");
  EXPECT_EQ(tip(1, 0), "");

  // At the narrowest width without a tooltip Qt draws the text whole; a pixel less, shortened.
  int fits = 1;
  while (list->TextElided(0, longName) && fits < 1000) {
    list->setColumnWidth(0, ++fits);
  }
  ASSERT_FALSE(list->TextElided(0, longName));
  const int rowTop = list->rowViewportPosition(0);
  const int rowHeight = list->rowHeight(0) - 1;
  const auto drawn = [&](int width, int visible) {
    list->setColumnWidth(0, width);
    QApplication::processEvents();
    return list->viewport()->grab().toImage().copy(0, rowTop, visible, rowHeight);
  };
  // One rendering after the other: the tooltip is read at the width drawn last.
  const int wide = fits + 40;
  const QImage wholeWide = drawn(wide, fits - 1);
  const QImage atFits = drawn(fits, fits - 1);
  EXPECT_EQ(atFits, wholeWide) << "shortened at " << fits;
  EXPECT_EQ(tip(0, 0), "");
  const QImage wholeWider = drawn(wide, fits - 2);
  const QImage belowFits = drawn(fits - 1, fits - 2);
  EXPECT_NE(belowFits, wholeWider) << "whole at " << fits - 1;
  EXPECT_EQ(tip(0, 0), longName);
}

}  // namespace
