#include "controls/TaskListCtrl.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"

namespace {

constexpr int kHeader = 20;
constexpr int kRow = 30;

// A task list whose cursor stays where the test puts it, so that the tip timers can be driven
// without waiting or moving a real pointer.
class StillCursorTaskList : public CShowTaskListCtrl {
 public:
  using CShowTaskListCtrl::CShowTaskListCtrl;
  QPoint cursor{-1, -1};

 protected:
  QPoint CursorPosition() const override { return cursor; }
};

// A dialog that records the messages its controls send.
class RecordingDialog : public QWidget, public CCtrlNotifySink {
 public:
  struct Message {
    int message;
    int wParam;
    int lParam;
  };
  void OnCtrlCommand(int, int) override {}
  void OnCtrlNotify(int, int) override {}
  void OnCtrlMessage(int message, int wParam, int lParam) override {
    messages.push_back({message, wParam, lParam});
  }
  std::vector<Message> messages;
};

// The client point in the middle of row `row` (without a single taller row), or 20 pixels below
// the last row for −1.
QPoint RowPoint(const CShowTaskListCtrl& list, int row) {
  const int index = row >= 0 ? row : list.rowCount();
  return QPoint(50, kHeader + index * kRow + (row >= 0 ? kRow / 2 : 20));
}

void MoveMouse(QWidget* target, QPoint point) {
  QMouseEvent event(QEvent::MouseMove, point, target->mapToGlobal(point), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void TurnWheel(QWidget* target, int delta) {
  const QPoint point(40, 60);
  QWheelEvent event(point, target->mapToGlobal(point), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

std::set<int> SelectedRows(const CShowTaskListCtrl& list) {
  std::set<int> rows;
  for (int row = 0; row < list.rowCount(); ++row) {
    if (list.IsRowSelected(row)) {
      rows.insert(row);
    }
  }
  return rows;
}

class TaskListTest : public ::testing::Test {
 protected:
  // A shown list of `rows` rows and columns of the given widths; cell (r, c) reads "r.c".
  template <typename List = CShowTaskListCtrl>
  List& MakeList(int rows, const std::vector<int>& widths, QSize size = QSize(300, 420)) {
    auto list = std::make_unique<List>(&dialog_);
    list->setGeometry(QRect(QPoint(0, 0), size));
    list->setColumnCount(static_cast<int>(widths.size()));
    list->setRowCount(rows);
    for (int column = 0; column < static_cast<int>(widths.size()); ++column) {
      list->setColumnWidth(column, widths[column]);
      for (int row = 0; row < rows; ++row) {
        list->setItem(row, column,
                      new QTableWidgetItem(QStringLiteral("%1.%2").arg(row).arg(column)));
      }
    }
    dialog_.resize(size);
    dialog_.show();
    list->show();
    List& result = *list;
    lists_.push_back(std::move(list));
    return result;
  }

  RecordingDialog dialog_;
  std::vector<std::unique_ptr<CShowTaskListCtrl>> lists_;
};

TEST_F(TaskListTest, RubberBandSelectsFromTheRowUnderItsTopEdgeToTheLastRow) {
  struct Case {
    const char* name;
    int releaseY;
    std::set<int> expected;
  };
  const std::vector<Case> cases = {
      {"dragged up into row 3", kHeader + 3 * kRow + 5, {3, 4, 5, 6, 7, 8, 9}},
      {"dragged up to the bottom pixel of row 2", kHeader + 3 * kRow - 1, {2, 3, 4, 5, 6, 7, 8, 9}},
      {"dragged up to the top pixel of row 3", kHeader + 3 * kRow, {3, 4, 5, 6, 7, 8, 9}},
      {"kept below the rows", kHeader + 10 * kRow + 5, {}},
      {"dragged over the header, clamped to its edge", 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& list = MakeList(10, {100, 100});
    QWidget* client = list.viewport();
    list.SetRowSelected(0, true);
    const QPoint origin(60, kHeader + 10 * kRow + 60);
    QTest::mousePress(client, Qt::LeftButton, {}, origin);
    EXPECT_EQ(list.bandActive, 1);
    EXPECT_TRUE(SelectedRows(list).empty()) << "a press below the rows clears the selection";
    QTest::mouseMove(client, QPoint(150, c.releaseY));
    QTest::mouseRelease(client, Qt::LeftButton, {}, QPoint(150, c.releaseY));
    EXPECT_EQ(list.bandActive, 0);
    EXPECT_EQ(SelectedRows(list), c.expected);
  }

  // Scrolled to the end, rows 0 to 3 lie hidden above the item area; a band pulled over the
  // header stops at its edge and starts with the first row visible there.
  auto& scrolled = MakeList(10, {100, 100}, QSize(300, 200));
  scrolled.ScrollVertically(1000);
  ASSERT_EQ(scrolled.VerticalPosition(), 136);
  QTest::mousePress(scrolled.viewport(), Qt::LeftButton, {}, QPoint(60, 190));
  QTest::mouseMove(scrolled.viewport(), QPoint(60, 0));
  QTest::mouseRelease(scrolled.viewport(), Qt::LeftButton, {}, QPoint(60, 0));
  EXPECT_EQ(SelectedRows(scrolled), (std::set<int>{4, 5, 6, 7, 8, 9}));
}

TEST_F(TaskListTest, ClicksSelectWithShiftRangesAndCtrlToggles) {
  struct Click {
    int row;  // −1: below the last row
    Qt::KeyboardModifiers modifiers;
  };
  struct Case {
    const char* name;
    std::vector<Click> clicks;
    std::set<int> expected;
    int anchor;
  };
  const Qt::KeyboardModifiers none;
  const std::vector<Case> cases = {
      {"shift without anchor", {{4, Qt::ShiftModifier}}, {4}, 4},
      {"shift range downwards", {{2, none}, {5, Qt::ShiftModifier}}, {2, 3, 4, 5}, 2},
      {"shift range keeps its anchor",
       {{2, none}, {5, Qt::ShiftModifier}, {0, Qt::ShiftModifier}},
       {0, 1, 2},
       2},
      {"ctrl toggles and moves the anchor",
       {{1, none}, {3, Qt::ControlModifier}, {1, Qt::ControlModifier}},
       {3},
       1},
      {"shift from a ctrl anchor",
       {{6, Qt::ControlModifier}, {4, Qt::ShiftModifier}},
       {4, 5, 6},
       6},
      {"plain click replaces", {{1, none}, {3, Qt::ControlModifier}, {7, none}}, {7}, 7},
      {"click below the rows clears", {{1, none}, {-1, none}}, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& list = MakeList(8, {100, 100});
    for (const Click& click : c.clicks) {
      QTest::mouseClick(list.viewport(), Qt::LeftButton, click.modifiers,
                        RowPoint(list, click.row));
    }
    EXPECT_EQ(SelectedRows(list), c.expected);
    EXPECT_EQ(list.anchorRow, c.anchor);
  }
}

TEST_F(TaskListTest, OneSelectedRowTakesTheSelectedRowHeight) {
  auto& list = MakeList(6, {100, 100});
  list.selectedRowHeight = 50;

  struct Expect {
    int row;
    int top;
    int height;
  };
  // Row 2 is the only selected row: rows after it move down by 20 pixels.
  list.SetRowSelected(2, true);
  for (const Expect& e :
       std::vector<Expect>{{0, 20, 30}, {1, 50, 30}, {2, 80, 50}, {3, 130, 30}, {5, 190, 30}}) {
    SCOPED_TRACE(e.row);
    EXPECT_EQ(list.RowRect(e.row), QRect(0, e.top, list.viewport()->width(), e.height));
  }
  struct Hit {
    int y;
    int row;
  };
  const std::vector<Hit> hits = {{20, 0},  {79, 1},  {80, 2},  {129, 2},  {130, 3},
                                 {159, 3}, {160, 4}, {219, 5}, {220, -1}, {400, -1}};
  for (const Hit& hit : hits) {
    SCOPED_TRACE(hit.y);
    EXPECT_EQ(list.RowHitTest(QPoint(10, hit.y)), hit.row);
  }

  // With two selected rows every row is rowHeight high again.
  list.SetRowSelected(4, true);
  EXPECT_EQ(list.SingleSelectedRow(), -1);
  EXPECT_EQ(list.RowRect(3).top(), 110);
  EXPECT_EQ(list.RowHitTest(QPoint(10, 129)), 3);
  EXPECT_EQ(list.RowHitTest(QPoint(10, 200)), -1);
}

TEST_F(TaskListTest, ColumnHitTestFollowsTheHorizontalPosition) {
  // 350 pixels of columns in a 200-pixel list; column 1 has no width.
  auto& list = MakeList(3, {100, 0, 150, 100}, QSize(200, 200));
  ASSERT_FALSE(list.horizontalBar()->isHidden());
  list.ScrollHorizontally(30);
  EXPECT_EQ(list.HorizontalPosition(), 30);
  EXPECT_EQ(list.header()->separatorOffset, 30);
  struct Hit {
    int x;
    int column;
  };
  for (const Hit& hit : std::vector<Hit>{
           {-31, -1}, {-30, 0}, {69, 0}, {70, 2}, {219, 2}, {220, 3}, {319, 3}, {320, -1}}) {
    SCOPED_TRACE(hit.x);
    EXPECT_EQ(list.ColumnHitTest(hit.x), hit.column);
  }
}

TEST_F(TaskListTest, WheelScrollsByMinusDeltaPixelsWithinTheRange) {
  // 300 pixels of rows; the page is 200 − 16 − 20 = 164, so positions run from 0 to 136.
  auto& list = MakeList(10, {100, 100}, QSize(300, 200));
  ASSERT_FALSE(list.verticalBar()->isHidden());
  ASSERT_TRUE(list.horizontalBar()->isHidden());
  struct Step {
    int delta;
    int position;
  };
  for (const Step& step : std::vector<Step>{{-120, 120}, {-120, 136}, {120, 16}, {120, 0}}) {
    TurnWheel(list.viewport(), step.delta);
    EXPECT_EQ(list.VerticalPosition(), step.position) << "after " << step.delta;
  }
  // One notch moves four rows of 30 pixels: row 4 is then at the top of the item area.
  TurnWheel(list.viewport(), -120);
  EXPECT_EQ(list.RowHitTest(QPoint(10, kHeader)), 4);

  // Without a vertical bar the wheel scrolls horizontally.
  auto& wide = MakeList(2, {600}, QSize(300, 200));
  ASSERT_TRUE(wide.verticalBar()->isHidden());
  ASSERT_FALSE(wide.horizontalBar()->isHidden());
  TurnWheel(wide.viewport(), -120);
  EXPECT_EQ(wide.HorizontalPosition(), 120);
  EXPECT_EQ(wide.VerticalPosition(), 0);
}

TEST_F(TaskListTest, ScrollBarsShowByTheNeedTable) {
  // A 300 × 200 list: 180 pixels below the header, 164 above a horizontal bar; 300 pixels wide,
  // 284 beside a vertical bar. One row and one column give the content size directly.
  struct Case {
    int contentHeight;
    int contentWidth;
    bool vertical;
    bool horizontal;
  };
  const std::vector<Case> cases = {
      {200, 350, true, true},    // need 1/1
      {200, 290, true, true},    // 1/2
      {200, 200, true, false},   // 1/3
      {170, 350, true, true},    // 2/1
      {170, 290, false, false},  // 2/2
      {170, 200, false, false},  // 2/3
      {100, 350, false, true},   // 3/1
      {100, 290, false, false},  // 3/2
      {100, 200, false, false},  // 3/3
      {181, 284, true, false},   // just over the item height, just beside the bar
      {164, 301, false, true},   // just above the bar, just over the width
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.contentHeight) + " x " + std::to_string(c.contentWidth));
    auto& list = MakeList(0, {c.contentWidth}, QSize(300, 200));
    list.rowHeight = c.contentHeight;
    list.setRowCount(1);
    list.UpdateScrollBars();
    EXPECT_EQ(!list.verticalBar()->isHidden(), c.vertical);
    EXPECT_EQ(!list.horizontalBar()->isHidden(), c.horizontal);
    if (c.vertical && c.horizontal) {
      EXPECT_EQ(list.verticalBar()->geometry(), QRect(284, 20, 16, 164));
      EXPECT_EQ(list.horizontalBar()->geometry(), QRect(0, 184, 284, 16));
    }
  }

  auto& empty = MakeList(0, {900}, QSize(300, 200));
  empty.UpdateScrollBars();
  EXPECT_TRUE(empty.verticalBar()->isHidden());
  EXPECT_TRUE(empty.horizontalBar()->isHidden());
  EXPECT_EQ(GetCtrlId(empty.verticalBar()), 1001);
  EXPECT_EQ(GetCtrlId(empty.horizontalBar()), 1002);
  EXPECT_EQ(GetCtrlId(empty.hoverTip()), 1003);
}

TEST_F(TaskListTest, TipShowsOnlyTextThatDoesNotFitItsColumn) {
  struct Case {
    const char* text;
    bool shown;
  };
  const std::vector<Case> cases = {
      {"short", false},
      {"", false},
      {"a text of many words that needs far more than one hundred pixels", true},
      {"Supercalifragilisticexpialidociousnessandmoreandmoreandmoreandmore", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto& list = MakeList<StillCursorTaskList>(3, {100, 100});
    list.item(1, 1)->setText(QString::fromUtf8(c.text));
    const QPoint point(150, RowPoint(list, 1).y());
    MoveMouse(list.viewport(), point);
    EXPECT_TRUE(list.IsTimerActive(kTipDelayTimer));
    EXPECT_EQ(QPoint(list.tipPointX, list.tipPointY), point);

    list.cursor = point;
    list.OnTimer(kTipDelayTimer);
    EXPECT_FALSE(list.IsTimerActive(kTipDelayTimer));
    // The tip counts as shown for the cell even when its text fits and the window stays hidden.
    EXPECT_EQ(list.tipVisible, 1);
    EXPECT_TRUE(list.IsTimerActive(kTipHideTimer));
    EXPECT_TRUE(list.IsTimerActive(kTipWatchTimer));
    CShowTextCtrl* tip = list.hoverTip();
    EXPECT_EQ(!tip->isHidden(), c.shown);
    if (c.shown) {
      EXPECT_EQ(tip->drawnText, QString::fromUtf8(c.text));
      EXPECT_EQ(tip->geometry().topLeft(), point + QPoint(0, 21));
      EXPECT_LE(tip->width(), 250);
      EXPECT_GT(tip->height(), 2 * QFontMetricsF(tip->textFont).height());
    }
  }
}

TEST_F(TaskListTest, TipTimersFollowTheCursor) {
  auto& list = MakeList<StillCursorTaskList>(3, {100, 100});
  list.item(0, 0)->setText(QStringLiteral("a text of many words that needs more than one line"));
  const QPoint point(20, RowPoint(list, 0).y());
  const auto showTip = [&] {
    MoveMouse(list.viewport(), point);
    list.cursor = point;
    list.OnTimer(kTipDelayTimer);
  };

  // The cursor moved on before the delay ended: no tip.
  MoveMouse(list.viewport(), point);
  list.cursor = point + QPoint(1, 0);
  list.OnTimer(kTipDelayTimer);
  EXPECT_EQ(list.tipVisible, 0);
  EXPECT_TRUE(list.hoverTip()->isHidden());

  // Shown, then hidden after its time; the same cell does not show it again.
  showTip();
  ASSERT_FALSE(list.hoverTip()->isHidden());
  list.OnTimer(kTipHideTimer);
  EXPECT_TRUE(list.hoverTip()->isHidden());
  EXPECT_FALSE(list.IsTimerActive(kTipWatchTimer));
  showTip();
  EXPECT_TRUE(list.hoverTip()->isHidden());

  // Another cell and back resets that; the watch hides the tip once the cursor leaves the rows.
  MoveMouse(list.viewport(), QPoint(150, point.y()));
  showTip();
  ASSERT_FALSE(list.hoverTip()->isHidden());
  list.cursor = point;
  list.OnTimer(kTipWatchTimer);
  EXPECT_FALSE(list.hoverTip()->isHidden());
  list.cursor = RowPoint(list, -1);
  list.OnTimer(kTipWatchTimer);
  EXPECT_TRUE(list.hoverTip()->isHidden());

  // A wheel turn hides a shown tip at once.
  MoveMouse(list.viewport(), QPoint(150, point.y()));
  showTip();
  ASSERT_FALSE(list.hoverTip()->isHidden());
  TurnWheel(list.viewport(), -120);
  EXPECT_TRUE(list.hoverTip()->isHidden());
}

TEST_F(TaskListTest, ProgressColumnOfAJobShowsSubItemFiveWithPercent) {
  struct Case {
    const char* status;
    int column;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"J", 6, "42%"}, {"J", 5, "42"},  {"J", 7, "seven"},
      {"R", 6, "six"}, {"j", 6, "six"}, {"JJ", 6, "six"},
  };
  auto& list = MakeList(1, std::vector<int>(8, 30));
  list.item(0, 5)->setText(QStringLiteral("42"));
  list.item(0, 6)->setText(QStringLiteral("six"));
  list.item(0, 7)->setText(QStringLiteral("seven"));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + " column " + std::to_string(c.column));
    list.item(0, 2)->setText(QString::fromUtf8(c.status));
    EXPECT_EQ(list.CellDisplayText(0, c.column), QString::fromUtf8(c.expected));
  }
  EXPECT_EQ(list.SubItemText(0, 16), QString()) << "a subitem without a column reads empty";
}

TEST_F(TaskListTest, StatusPicksTheIconCell) {
  struct Case {
    const char* status;
    const char* subItem14;
    const char* subItem16;
    int cell;
  };
  const std::vector<Case> cases = {
      {"R", "", "1", 4}, {"R", "", "0", 0}, {"R", "x", "", 0},  {"W", "", "", 2},  {"C", "", "", 5},
      {"P", "", "", 6},  {"E", "", "", 3},  {"S", "", "1", 1},  {"J", "", "", 4},  {"D", "", "", 3},
      {"X", "x", "", 3}, {"", "", "1", -1}, {"RW", "", "", -1}, {"w", "", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + "/" + c.subItem14 + "/" + c.subItem16);
    EXPECT_EQ(CShowTaskListCtrl::StatusIconCell(QString::fromUtf8(c.status),
                                                QString::fromUtf8(c.subItem14),
                                                QString::fromUtf8(c.subItem16)),
              c.cell);
  }
}

TEST_F(TaskListTest, DrawsSelectionGridIconsAndHeaderGradient) {
  auto& list = MakeList(3, {100, 100});
  // A strip of seven 8 × 8 cells, each of its own colour.
  QImage strip(56, 8, QImage::Format_ARGB32);
  QPainter painter(&strip);
  for (int cell = 0; cell < 7; ++cell) {
    painter.fillRect(cell * 8, 0, 8, 8, QColor(10 * cell, 200, 100));
  }
  painter.end();
  list.bgImage = strip;
  list.imageWidth = 56;
  list.imageHeight = 8;
  list.statusCount = 7;
  list.cellWidth = 8;
  list.setColumnCount(3);
  list.setColumnWidth(2, 0);
  list.setItem(0, 2, new QTableWidgetItem(QStringLiteral("W")));
  list.SetRowSelected(1, true);

  const QImage image = list.RenderBuffer();
  EXPECT_EQ(image.pixel(250, 20 + 30 + 25), 0xFFE8F5FFu) << "selected row fill";
  EXPECT_EQ(image.pixel(250, 20 + 2 * 30 - 1), 0xFFF4F4F6u) << "grid line above row 2";
  EXPECT_EQ(image.pixel(250, 20 + 2 * 30 + 25), 0xFFFFFFFFu) << "unselected row";
  EXPECT_EQ(image.pixel(12, 20 + 6 + 2), qRgb(20, 200, 100)) << "icon cell 2 for status W";
  EXPECT_EQ(list.header()->cachedBackground->size(), QSize(300, kHeader));

  const QImage header = list.header()->RenderBuffer();
  const QColor top = header.pixelColor(150, 0);
  const QColor bottom = header.pixelColor(150, header.height() - 1);
  EXPECT_NEAR(top.red(), 0xA9, 4);
  EXPECT_NEAR(top.blue(), 0xD3, 4);
  EXPECT_NEAR(bottom.red(), 0xD9, 6);
  EXPECT_NEAR(bottom.blue(), 0xF6, 6);
}

TEST_F(TaskListTest, TrimmingEndsOnAWordWithAnEllipsis) {
  QFont font;
  font.setPixelSize(12);
  const QFontMetricsF metrics(font);
  const QString ellipsis(QChar(0x2026));
  const QString words = QStringLiteral("alpha beta gamma");
  struct Case {
    QString text;
    qreal width;
    QString expected;
  };
  const std::vector<Case> cases = {
      {words, metrics.horizontalAdvance(words), words},
      {words, metrics.horizontalAdvance(words) - 1, QStringLiteral("alpha beta") + ellipsis},
      {words, metrics.horizontalAdvance(QStringLiteral("alpha") + ellipsis) + 1,
       QStringLiteral("alpha") + ellipsis},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    EXPECT_EQ(TrimWithWordEllipsis(metrics, c.text, c.width), c.expected);
  }
  // A single word too long for the cell is cut inside the word.
  const QString cut = TrimWithWordEllipsis(metrics, QStringLiteral("alphabetagamma"), 40);
  EXPECT_TRUE(cut.endsWith(ellipsis));
  EXPECT_LE(metrics.horizontalAdvance(cut), 40);
}

TEST_F(TaskListTest, RightButtonSelectsTheRowAndTellsTheDialog) {
  struct Case {
    const char* name;
    std::set<int> before;
    int row;
    Qt::KeyboardModifiers modifiers;
    std::set<int> after;
  };
  const std::vector<Case> cases = {
      {"unselected row", {0, 2}, 1, {}, {1}},
      {"row inside the selection", {0, 2}, 2, {}, {0, 2}},
      {"below the rows", {0, 2}, -1, {}, {}},
      {"with ctrl", {0, 2}, 1, Qt::ControlModifier, {0, 2}},
      {"with shift", {0}, 3, Qt::ShiftModifier, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& list = MakeList(4, {100, 100});
    SetCtrlId(&list, 2207);
    for (int row : c.before) {
      list.SetRowSelected(row, true);
    }
    dialog_.messages.clear();
    QTest::mouseClick(list.viewport(), Qt::RightButton, c.modifiers, RowPoint(list, c.row));
    EXPECT_EQ(SelectedRows(list), c.after);
    ASSERT_EQ(dialog_.messages.size(), 1u);
    EXPECT_EQ(dialog_.messages[0].message, 0x07FE);
    EXPECT_EQ(dialog_.messages[0].wParam, 2207);
    EXPECT_EQ(dialog_.messages[0].lParam, 0);
  }
}

}  // namespace
