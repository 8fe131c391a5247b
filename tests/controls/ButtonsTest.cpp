#include "controls/Buttons.h"

#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTest>

#include "TemporaryDirectory.h"
#include "controls/CtrlNotify.h"

namespace {

using testsupport::TemporaryDirectory;

constexpr QRgb kWhite = 0xFFFFFFFF;
// Cell k of the test strip is painted in kCellColors[k].
constexpr QRgb kCellColors[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00,
                                0xFFFF00FF, 0xFF00FFFF, 0xFF800000, 0xFF008000};
constexpr int kCellWidth = 10;
constexpr int kCellHeight = 12;
constexpr QSize kButtonSize(40, 20);

// A dialog that records what its buttons tell it.
class RecordingDialog : public QWidget, public CCtrlNotifySink {
 public:
  void OnCtrlCommand(int ctrlId, int notifyCode) override {
    commands.emplace_back(ctrlId, notifyCode);
  }
  void OnCtrlNotify(int, int) override {}
  void OnCtrlMessage(int message, int wParam, int lParam) override {
    messages.emplace_back(message, wParam, lParam);
  }

  std::vector<std::pair<int, int>> commands;
  std::vector<std::tuple<int, int, int>> messages;
};

class ButtonsTest : public ::testing::Test {
 protected:
  // A strip of `cells` solid cells, kCellWidth × kCellHeight each.
  QString StripPath(int cells) {
    QImage strip(cells * kCellWidth, kCellHeight, QImage::Format_ARGB32);
    QPainter painter(&strip);
    for (int cell = 0; cell < cells; ++cell) {
      painter.fillRect(cell * kCellWidth, 0, kCellWidth, kCellHeight,
                       QColor::fromRgba(kCellColors[cell % 8]));
    }
    painter.end();
    const QString path =
        QString::fromStdString(folder_.File("strip" + std::to_string(cells) + ".png"));
    EXPECT_TRUE(strip.save(path));
    return path;
  }

  // A button on a white background with a strip of `cells` cells and no caption.
  template <typename Button>
  std::unique_ptr<Button> SkinnedButton(int cells, QWidget* parent = nullptr) {
    auto button = std::make_unique<Button>(parent);
    button->resize(kButtonSize);
    button->paintMode = kPaintFill;
    button->SetBGColor(0x00FFFFFF);
    button->SetBGImage(StripPath(cells), cells, 0, 0);
    return button;
  }

 private:
  TemporaryDirectory folder_;
};

struct StateCase {
  int cells;
  bool enabled;
  bool down;
  bool hovering;
  int check;
  int expectedCell;  // -1: no image at all
};

// Renders the button in the case's state and checks which cell it shows, and that the cell is
// drawn unscaled at the image origin.
void ExpectCell(CBasicButton& button, const StateCase& test) {
  button.setEnabled(test.enabled);
  button.setDown(test.down);
  button.hoverTracking = test.hovering ? 1 : 0;
  button.SetCheck(test.check);
  const QImage image = button.RenderBuffer();
  const QRgb inside = test.expectedCell < 0 ? kWhite : kCellColors[test.expectedCell];
  EXPECT_EQ(image.pixel(0, 0), inside);
  EXPECT_EQ(image.pixel(kCellWidth - 1, kCellHeight - 1), inside);
  EXPECT_EQ(image.pixel(kCellWidth, 0), kWhite);
  EXPECT_EQ(image.pixel(0, kCellHeight), kWhite);
}

TEST_F(ButtonsTest, PushButtonShowsTheCellOfItsState) {
  const StateCase cases[] = {
      // Four cells: normal, hover, pressed, disabled; disabled wins over everything.
      {4, true, false, false, 0, 0},
      {4, true, false, true, 0, 1},
      {4, true, true, false, 0, 2},
      {4, true, true, true, 0, 2},
      {4, false, false, false, 0, 3},
      {4, false, false, true, 0, 3},
      {4, false, true, true, 0, 3},
      {4, true, false, false, 1, 0},
      // Five cells: the fifth is the checked state and wins even over disabled.
      {5, true, false, false, 1, 4},
      {5, false, true, true, 1, 4},
      {5, true, false, true, 0, 1},
      {5, false, false, false, 0, 3},
      // Two cells: by check state alone.
      {2, true, false, true, 0, 0},
      {2, false, true, false, 1, 1},
      // Any other count draws no image, whatever the state.
      {1, true, false, false, 0, -1},
      {3, true, true, true, 1, -1},
      {6, false, false, false, 1, -1},
      {8, true, false, false, 0, -1},
  };
  for (const StateCase& test : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "cells " << test.cells << " enabled " << test.enabled << " down " << test.down
                 << " hover " << test.hovering << " check " << test.check);
    ExpectCell(*SkinnedButton<CStandardButton>(test.cells), test);
  }
}

TEST_F(ButtonsTest, CheckBoxShowsItsRowOfStatesByCheckState) {
  const StateCase cases[] = {
      {8, true, false, false, 0, 0},
      {8, true, false, true, 0, 1},
      {8, true, true, true, 0, 2},
      {8, false, true, true, 0, 3},
      {8, true, false, false, 1, 4},
      {8, true, false, true, 1, 5},
      {8, true, true, true, 1, 6},
      {8, false, true, true, 1, 7},
      {2, true, true, true, 0, 0},
      {2, false, false, false, 1, 1},
      // The push button counts mean nothing to a check box.
      {4, true, false, false, 0, -1},
      {5, true, false, false, 1, -1},
  };
  for (const StateCase& test : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "cells " << test.cells << " enabled " << test.enabled << " down " << test.down
                 << " hover " << test.hovering << " check " << test.check);
    ExpectCell(*SkinnedButton<CCheckBoxButton>(test.cells), test);
  }
}

TEST_F(ButtonsTest, ScreenShowsWhatTheBufferHolds) {
  auto button = SkinnedButton<CStandardButton>(4);
  button->setDown(true);
  EXPECT_EQ(button->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            button->RenderBuffer());
}

TEST(ButtonCheckTest, IndeterminateCountsAsCheckedAndAnythingElseAsUnchecked) {
  const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 0}, {-1, 0}};
  for (const auto& [set, expected] : cases) {
    CRadioBoxButton button;
    button.SetCheck(1);
    button.SetCheck(set);
    EXPECT_EQ(button.GetCheck(), expected) << set;
  }
}

// The caption of `button`, drawn alone on white with its line box at `topLeft`.
QImage CaptionAt(const CBasicButton& button, QPoint topLeft) {
  QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(button.textFont);
  painter.setPen(QColor::fromRgba(button.textColor));
  painter.drawText(topLeft + QPoint(0, QFontMetrics(button.textFont).ascent()), button.drawnText);
  return image;
}

TEST(ButtonCaptionTest, CaptionIsCentredOnAxesWithoutOffsetAndFollowsPushButtonPresses) {
  constexpr int kCentre = 1000;         // centred on that axis
  constexpr int kCentrePlusOne = 1001;  // centred, then moved by the press
  struct Case {
    bool checkBox;
    int width;
    int offsetX;
    int offsetY;
    bool down;
    int expectedX;
    int expectedY;
  };
  const Case cases[] = {
      {false, 80, 0, 6, false, kCentre, 6},
      {false, 81, 0, 6, false, kCentre, 6},
      {false, 80, 0, 6, true, kCentrePlusOne, 7},
      {true, 80, 0, 6, true, kCentre, 6},
      {false, 80, 5, 6, false, 5, 6},
      {false, 80, 5, 6, true, 6, 7},
      {false, 80, 0, 0, false, kCentre, kCentre},
      {true, 81, 3, 0, false, 3, kCentre},
      // Wider than the button: the caption overhangs on both sides, the halves rounded toward 0.
      {false, 20, 0, 6, false, kCentre, 6},
      {false, 21, 0, 6, false, kCentre, 6},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "check box " << test.checkBox << " width " << test.width << " offset "
                 << test.offsetX << "," << test.offsetY << " down " << test.down);
    std::unique_ptr<CBasicButton> button;
    if (test.checkBox) {
      button = std::make_unique<CCheckBoxButton>();
    } else {
      button = std::make_unique<CStandardButton>();
    }
    button->resize(test.width, 24);
    button->paintMode = kPaintFill;
    button->SetFont("DejaVu Sans", 12);
    ASSERT_TRUE(button->fontUsable);
    button->SetText("Log In", test.offsetX, test.offsetY);
    button->setDown(test.down);
    // The caption's box: its advance in whole pixels, rounded up, by the height of one line.
    const QFontMetricsF metrics(button->textFont);
    const int captionWidth = static_cast<int>(std::ceil(metrics.horizontalAdvance("Log In")));
    const int captionHeight = static_cast<int>(std::ceil(metrics.height()));
    ASSERT_EQ(captionWidth % 2, 1) << "the width cases need an odd caption width";
    const auto place = [](int expected, int free) {
      const int centre = static_cast<int>(std::trunc(free / 2.0));
      return expected == kCentre ? centre : expected == kCentrePlusOne ? centre + 1 : expected;
    };
    // An offset places a caption one em (12 pixels) high; the font's real line is centred on it.
    const QFontMetrics line(button->textFont);
    const int slotShift =
        test.expectedY < kCentre ? (12 - (line.ascent() + line.descent())) / 2 : 0;
    const QPoint topLeft(place(test.expectedX, test.width - captionWidth),
                         place(test.expectedY, 24 - captionHeight) + slotShift);
    EXPECT_EQ(button->RenderBuffer(), CaptionAt(*button, topLeft));
  }
}

TEST(ButtonCaptionTest, NoCaptionWithoutTextOrUsableFont) {
  CStandardButton button;
  button.resize(80, 24);
  button.paintMode = kPaintFill;
  button.SetFont("No Such Family", 12);
  button.SetText("Refresh", 0, 6);
  EXPECT_EQ(button.RenderBuffer().pixel(0, 0), kWhite);
  QImage blank(button.size(), QImage::Format_ARGB32_Premultiplied);
  blank.fill(Qt::white);
  EXPECT_EQ(button.RenderBuffer(), blank);
  button.SetFont("DejaVu Sans", 12);
  button.SetText("", 0, 6);
  EXPECT_EQ(button.RenderBuffer(), blank);
}

// A dialog with buttons on it, shown on the offscreen screen so that clicks reach them.
class ButtonClickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // QTest remembers the buttons it pressed; a press that an earlier test never released would
    // otherwise ride along with every mouse event here and turn moves into drags.
    QTestPrivate::qtestMouseButtons = Qt::NoButton;
    dialog_.resize(300, 200);
  }

  template <typename Button>
  Button* Add(int ctrlId) {
    auto* button = new Button(&dialog_);
    button->setGeometry(10 + 40 * static_cast<int>(dialog_.children().size()), 40, 30, 20);
    SetCtrlId(button, ctrlId);
    return button;
  }

  void Show() {
    dialog_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
  }

  RecordingDialog dialog_;
};

TEST_F(ButtonClickTest, RadioButtonChecksItselfAndUnchecksItsVisibleEnabledSiblings) {
  struct Case {
    int clickedId;
    std::vector<std::tuple<int, int, int>> messages;
  };
  const Case cases[] = {{21, {{0x084D, 21, 0}}}, {0, {}}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.clickedId);
    RecordingDialog dialog;
    dialog.resize(300, 200);
    std::vector<CBasicButton*> group;
    auto place = [&](CBasicButton* button, int ctrlId) {
      button->setGeometry(10 + 40 * static_cast<int>(group.size()), 40, 30, 20);
      SetCtrlId(button, ctrlId);
      button->SetCheck(1);
      group.push_back(button);
      return button;
    };
    auto* clicked = place(new CRadioBoxButton(&dialog), test.clickedId);
    auto* radio = place(new CRadioBoxButton(&dialog), 22);
    auto* checkBox = place(new CCheckBoxButton(&dialog), 23);
    auto* standard = place(new CStandardButton(&dialog), 24);
    auto* hidden = place(new CRadioBoxButton(&dialog), 25);
    hidden->hide();
    auto* disabled = place(new CRadioBoxButton(&dialog), 26);
    disabled->setEnabled(false);
    // A radio button of another parent belongs to another group.
    auto* panel = new QWidget(&dialog);
    panel->setGeometry(0, 100, 300, 50);
    auto* elsewhere = place(new CRadioBoxButton(panel), 27);
    clicked->SetCheck(0);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseClick(clicked, Qt::LeftButton);
    EXPECT_EQ(clicked->GetCheck(), 1);
    for (CBasicButton* other : {radio, checkBox, standard}) {
      EXPECT_EQ(other->GetCheck(), 0) << GetCtrlId(other);
    }
    for (CBasicButton* kept : {hidden, disabled, elsewhere}) {
      EXPECT_EQ(kept->GetCheck(), 1) << GetCtrlId(kept);
    }
    EXPECT_EQ(dialog.messages, test.messages);
    EXPECT_TRUE(dialog.commands.empty());

    // Clicking the other radio button moves the check there.
    QTest::mouseClick(radio, Qt::LeftButton);
    EXPECT_EQ(clicked->GetCheck(), 0);
    EXPECT_EQ(radio->GetCheck(), 1);
  }
}

TEST_F(ButtonClickTest, CheckBoxTogglesAndSendsACommandPerClick) {
  auto* checkBox = Add<CCheckBoxButton>(13);
  Show();
  QTest::mouseClick(checkBox, Qt::LeftButton);
  EXPECT_EQ(checkBox->GetCheck(), 1);
  QTest::mouseClick(checkBox, Qt::LeftButton);
  EXPECT_EQ(checkBox->GetCheck(), 0);
  const std::vector<std::pair<int, int>> expected = {{13, kButtonClicked}, {13, kButtonClicked}};
  EXPECT_EQ(dialog_.commands, expected);
  EXPECT_TRUE(dialog_.messages.empty());
}

TEST_F(ButtonClickTest, PushButtonClicksReachTheDialogOncePerCompletedClick) {
  auto* standard = Add<CStandardButton>(1001);
  auto* drift = Add<CDriftButton>(1002);
  Show();
  QTest::mouseClick(standard, Qt::LeftButton);
  QTest::mouseClick(drift, Qt::LeftButton);
  // A double click clicks once; a press released outside the button does not click.
  // Through the window, as the window system delivers them: press, release, double click,
  // release.
  QTest::mouseDClick(dialog_.windowHandle(), Qt::LeftButton, {},
                     standard->mapTo(&dialog_, standard->rect().center()));
  QTest::mousePress(drift, Qt::LeftButton);
  QTest::mouseRelease(drift, Qt::LeftButton, {}, QPoint(-5, -5));
  // The keyboard clicks the focused button.
  standard->setFocus();
  QTest::keyClick(standard, Qt::Key_Space);
  const std::vector<std::pair<int, int>> expected = {{1001, kButtonClicked},
                                                     {1002, kButtonClicked},
                                                     {1001, kButtonClicked},
                                                     {1001, kButtonClicked}};
  EXPECT_EQ(dialog_.commands, expected);
  // The check state stays the button's own: clicks do not change it.
  EXPECT_EQ(standard->GetCheck(), 0);
  EXPECT_FALSE(standard->isCheckable());
}

// A push button that records its mouse hooks.
class HookButton : public CStandardButton {
 public:
  using CStandardButton::CStandardButton;
  void OnMouseMoveHook(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint) override { ++moves; }
  void OnMouseHoverHook(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint) override { ++hovers; }
  void OnMouseLeaveHook() override { ++leaves; }
  int moves = 0;
  int hovers = 0;
  int leaves = 0;
};

TEST_F(ButtonClickTest, MouseOverTheButtonHoversUntilItLeaves) {
  auto* button = Add<HookButton>(1001);
  Show();
  EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseMove(button, QPoint(5, 5));
  EXPECT_EQ(button->hoverTracking, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return button->hovers == 1; }));
  QTest::mouseMove(button, QPoint(6, 6));
  EXPECT_GE(button->moves, 1);
  // Resting longer does not hover again; only a new entry does.
  QTest::qWait(20);
  EXPECT_EQ(button->hovers, 1);
  QTest::mouseMove(&dialog_, QPoint(250, 150));
  EXPECT_EQ(button->hoverTracking, 0);
  EXPECT_EQ(button->leaves, 1);
  QTest::mouseMove(button, QPoint(5, 5));
  EXPECT_TRUE(QTest::qWaitFor([&] { return button->hovers == 2; }));
}

}  // namespace
