// The skinned buttons and the list worked with the keyboard: what the keys do, what the dialog
// hears of them, and the focus ring that appears once the keyboard is used and goes with the
// mouse. Keys go to whatever has the focus, as a user's keys do.

#include "controls/FocusCue.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include "controls/Buttons.h"
#include "controls/CtrlNotify.h"
#include "controls/StandardListCtrl.h"

namespace {

constexpr QRgb kButtonFace = 0xFF1E4C9A;  // the buttons' fill
constexpr QRgb kCaption = 0xFFF4F5F7;     // the buttons' text colour, and so their ring
constexpr QRgb kBorder = 0xFF7E9DB9;
constexpr QRgb kRowText = 0xFF064169;
constexpr int kFirstId = 2107;
constexpr int kSecondId = 2108;
constexpr int kListId = 2105;
constexpr int kRows = 12;

// A dialog with two buttons and a list below them, recording what they tell it, with the list's
// selection at the moment it heard it.
class KeyboardDialog : public QWidget, public CCtrlNotifySink {
 public:
  KeyboardDialog() {
    resize(300, 200);
    for (CStandardButton* button : {first, second}) {
      button->resize(60, 23);
      button->paintMode = kPaintFill;
      button->bgColor = kButtonFace;
      button->textColor = kCaption;
    }
    SetCtrlId(first, kFirstId);
    SetCtrlId(second, kSecondId);
    first->move(0, 0);
    second->move(70, 0);
    SetCtrlId(list, kListId);
    list->paintMode = kPaintBorder;
    list->borderColor = kBorder;
    list->UpdateBorderMargins();
    list->SetRowTextColor(0x00694106);
    list->SetGridLines(true);
    list->SetFullRowSelect(true);
    list->InsertColumn(0, "Host", CStandardListCtrl::ColumnAlign::Left, 120);
    list->InsertColumn(1, "Address", CStandardListCtrl::ColumnAlign::Center, 120);
    list->setGeometry(0, 30, 280, 120);
  }

  void OnCtrlCommand(int ctrlId, int notifyCode) override {
    told.push_back("command " + std::to_string(ctrlId) + " " + std::to_string(notifyCode));
  }
  void OnCtrlNotify(int ctrlId, int notifyCode) override {
    told.push_back("notify " + std::to_string(ctrlId) + " " + std::to_string(notifyCode) + " row " +
                   std::to_string(list->GetFirstSelectedRow()));
  }
  void OnCtrlMessage(int, int, int) override {}

  void FillRows() {
    for (int row = kRows - 1; row >= 0; --row) {
      list->InsertItem(0, QString("nas-%1").arg(row));
      list->SetItemText(0, 1, QString("10.0.0.%1").arg(row));
    }
  }

  CStandardButton* first = new CStandardButton(this);
  CStandardButton* second = new CStandardButton(this);
  CStandardListCtrl* list = new CStandardListCtrl(this);
  std::vector<std::string> told;
};

class FocusCueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_.show();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  }

  // A key as the user types it: to the focus widget, and on to its parents if it ignores it.
  static void Type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
  }

  // True when the button's ring is drawn: the ring's corner dot in the caption's colour, and
  // the pixel beside it (a gap between dots) still the button's face.
  static bool RingOn(CBasicButton* button) {
    const QImage image = button->RenderBuffer();
    return image.pixel(2, 2) == kCaption && image.pixel(3, 2) == kButtonFace &&
           image.pixel(button->width() - 3, button->height() - 3) == kCaption;
  }

  KeyboardDialog dialog_;
};

TEST_F(FocusCueTest, ButtonsClickOnEnterAndSpaceAndShowTheRingOnlyAfterKeys) {
  struct Step {
    const char* what;
    std::function<void()> act;
    CBasicButton* focused;
    bool firstRing;
    bool secondRing;
    std::vector<std::string> told;
  };
  CStandardButton* first = dialog_.first;
  CStandardButton* second = dialog_.second;
  const std::string clickSecond = "command 2108 0";
  const std::string clickFirst = "command 2107 0";
  const Step steps[] = {
      {"a click gives the focus but shows no ring",
       [&] { QTest::mouseClick(first, Qt::LeftButton); },
       first,
       false,
       false,
       {clickFirst}},
      {"Tab moves the focus and shows the ring",
       [&] { Type(Qt::Key_Tab); },
       second,
       false,
       true,
       {}},
      {"Return clicks the focused button",
       [&] { Type(Qt::Key_Return); },
       second,
       false,
       true,
       {clickSecond}},
      {"keypad Enter clicks it",
       [&] { Type(Qt::Key_Enter, Qt::KeypadModifier); },
       second,
       false,
       true,
       {clickSecond}},
      {"Space clicks it", [&] { Type(Qt::Key_Space); }, second, false, true, {clickSecond}},
      {"Shift+Tab goes back",
       [&] { Type(Qt::Key_Backtab, Qt::ShiftModifier); },
       first,
       true,
       false,
       {}},
      {"a mouse press hides the ring",
       [&] { QTest::mouseClick(second, Qt::LeftButton); },
       second,
       false,
       false,
       {clickSecond}},
      {"any key brings it back", [&] { Type(Qt::Key_Shift); }, second, false, true, {}},
      {"Ctrl+Return is no click",
       [&] { Type(Qt::Key_Return, Qt::ControlModifier); },
       second,
       false,
       true,
       {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    dialog_.told.clear();
    step.act();
    EXPECT_EQ(QApplication::focusWidget(), step.focused);
    EXPECT_EQ(RingOn(first), step.firstRing);
    EXPECT_EQ(RingOn(second), step.secondRing);
    EXPECT_EQ(dialog_.told, step.told);
  }
  // What reaches the screen is the buffer, ring included.
  EXPECT_EQ(second->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            second->RenderBuffer());
}

TEST(FocusRingTest, SmallButtonsCarryTheRingOnTheirEdge) {
  QWidget window;
  auto* close = new CStandardButton(&window);
  close->resize(11, 11);
  close->paintMode = kPaintFill;
  close->bgColor = kButtonFace;
  close->textColor = kCaption;
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  close->setFocus(Qt::TabFocusReason);
  NoteKeyboardUse(close);
  const QImage image = close->RenderBuffer();
  EXPECT_EQ(image.pixel(0, 0), kCaption);
  EXPECT_EQ(image.pixel(1, 0), kButtonFace);
  EXPECT_EQ(image.pixel(10, 10), kCaption);
  EXPECT_EQ(image.pixel(5, 5), kButtonFace);
}

TEST_F(FocusCueTest, ListKeysMoveTheSelectionAndTellTheDialog) {
  CStandardListCtrl* list = dialog_.list;
  list->setFocus(Qt::OtherFocusReason);
  // Keys in an empty list change nothing, and Return is still told.
  Type(Qt::Key_Down);
  Type(Qt::Key_Return);
  EXPECT_EQ(dialog_.told, std::vector<std::string>{"notify 2105 -4 row -1"});
  dialog_.FillRows();
  // The list shows fewer rows than it has, so that a page is less than all of them.
  const int page = list->viewport()->height() / list->rowHeight(0);
  ASSERT_LT(page, kRows - 2);
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int selected;
    bool told;
  };
  // However the focus comes back, the first Down selects the first row.
  Type(Qt::Key_Tab);
  Type(Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), list);
  const Step steps[] = {
      {Qt::Key_Down, Qt::NoModifier, 0, true},  // from no current row to the first
      {Qt::Key_Down, Qt::NoModifier, 1, true},
      {Qt::Key_End, Qt::NoModifier, kRows - 1, true},
      {Qt::Key_Down, Qt::NoModifier, kRows - 1, false},  // nothing below: nothing to tell
      {Qt::Key_Home, Qt::NoModifier, 0, true},
      {Qt::Key_PageDown, Qt::NoModifier, -2, true},  // -2: somewhere in the middle
      {Qt::Key_PageUp, Qt::NoModifier, 0, true},
      {Qt::Key_Right, Qt::NoModifier, 0, false},       // the next cell of the same row
      {Qt::Key_Space, Qt::ControlModifier, -1, true},  // Ctrl+Space drops the selection
      {Qt::Key_Down, Qt::NoModifier, 1, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << "key " << step.key << " selects " << step.selected);
    dialog_.told.clear();
    Type(step.key, step.modifiers);
    const int selected = list->GetFirstSelectedRow();
    if (step.selected == -2) {
      EXPECT_GT(selected, 0);
      EXPECT_LT(selected, kRows - 1);
    } else {
      EXPECT_EQ(selected, step.selected);
    }
    const std::vector<std::string> expected;
    EXPECT_EQ(dialog_.told, step.told ? std::vector<std::string>{"notify 2105 -101 row " +
                                                                 std::to_string(selected)}
                                      : expected);
  }
  // Return and keypad Enter ask the dialog to open the selected row; a held key asks once.
  dialog_.told.clear();
  Type(Qt::Key_Return);
  Type(Qt::Key_Enter, Qt::KeypadModifier);
  QTest::sendKeyEvent(QTest::Press, list, Qt::Key_Return, QString(), Qt::NoModifier);
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(list, &repeat);
  EXPECT_EQ(dialog_.told, std::vector<std::string>(3, "notify 2105 -4 row 1"));
}

TEST_F(FocusCueTest, ListShowsItsFrameAndTheCurrentRowRingAfterKeys) {
  CStandardListCtrl* list = dialog_.list;
  dialog_.FillRows();
  const QPalette colours = list->palette();
  const QColor highlight = colours.color(QPalette::Highlight);
  const QColor highlightedText = colours.color(QPalette::HighlightedText);
  const QColor base = colours.color(QPalette::Base);
  const QColor rowText = QColor::fromRgba(kRowText);
  const QColor border = QColor::fromRgba(kBorder);
  // What the list shows at its frame's corner, and in the first pixel row of row `row` at x:
  // a ring's corner dot at x = 0, the gap after it at x = 1.
  const auto frame = [&] { return QColor(list->grab().toImage().pixel(0, 0)); };
  const auto rowPixel = [&](int row, int x) {
    const QPoint point = list->viewport()->mapTo(list, QPoint(x, list->rowViewportPosition(row)));
    return QColor(list->grab().toImage().pixel(point));
  };

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(list->model()->index(1, 0)).center());
  ASSERT_EQ(QApplication::focusWidget(), list);
  ASSERT_EQ(list->GetFirstSelectedRow(), 1);
  EXPECT_EQ(frame(), border) << "a click shows no focus";
  EXPECT_EQ(rowPixel(1, 0), highlight) << "a click shows no ring";

  // Down: the frame takes the rows' text colour, the selected row a ring in the selected text's.
  Type(Qt::Key_Down);
  ASSERT_EQ(list->GetFirstSelectedRow(), 2);
  EXPECT_EQ(frame(), rowText);
  EXPECT_EQ(rowPixel(2, 0), highlightedText);
  EXPECT_EQ(rowPixel(2, 1), highlight);
  EXPECT_EQ(rowPixel(1, 0), base) << "the row left behind kept its ring";

  // On a current row that is not selected the ring takes the rows' text colour.
  Type(Qt::Key_Space, Qt::ControlModifier);
  ASSERT_EQ(list->GetFirstSelectedRow(), -1);
  EXPECT_EQ(rowPixel(2, 0), rowText);
  EXPECT_EQ(rowPixel(2, 1), base);

  // Tab takes the focus away: neither frame nor ring stay.
  Type(Qt::Key_Tab);
  ASSERT_NE(QApplication::focusWidget(), list);
  EXPECT_EQ(frame(), border);
  EXPECT_EQ(rowPixel(2, 0), base);
}

TEST(FocusRingTest, DotsEveryOtherPixelFromTheCorners) {
  QImage image(7, 7, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  DrawFocusRing(painter, QRect(1, 1, 5, 5), Qt::black);
  painter.end();
  const char* expected[] = {
      ".......",  //
      ".#.#.#.",  //
      ".......",  //
      ".#...#.",  //
      ".......",  //
      ".#.#.#.",  //
      ".......",
  };
  for (int y = 0; y < image.height(); ++y) {
    std::string row;
    for (int x = 0; x < image.width(); ++x) {
      row += image.pixel(x, y) == 0xFF000000 ? '#' : '.';
    }
    EXPECT_EQ(row, expected[y]) << "row " << y;
  }
}

}  // namespace
