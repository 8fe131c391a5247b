#pragma once

// The skinned buttons: push buttons, check boxes and radio buttons that paint a cell of their
// state strip and a caption from their property record, double-buffered, and tell their dialog
// about clicks by control identifier.

#include <QAbstractButton>
#include <QBasicTimer>
#include <QPoint>

#include "layout/BasicPropertyFrame.h"

class QImage;
class QPainter;

// The layout class names under which the control factory creates the buttons.
inline constexpr char16_t kStandardButtonClass[] = u"StandardButton";
inline constexpr char16_t kDriftButtonClass[] = u"DriftButton";
inline constexpr char16_t kCheckBoxButtonClass[] = u"CheckBoxButton";
inline constexpr char16_t kRadioBoxButtonClass[] = u"RadioBoxButton";

// What every skinned button shares: hover tracking, the check state, the drawing of the whole
// button and of its caption. The pressed and disabled states are the button's own (isDown(),
// isEnabled()); the check state is kept here and never in QAbstractButton's checkable state, so
// that no Qt machinery changes it behind the button's back.
class CBasicButton : public QAbstractButton, public CBasicPropertyFrame {
 public:
  explicit CBasicButton(QWidget* parent = nullptr);

  // Called on every mouse move over the button; empty here.
  virtual void OnMouseMoveHook(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                               QPoint point);
  // Called when the mouse has left the button; empty here.
  virtual void OnMouseLeaveHook();
  // Called once the mouse rests on the button after it came in; empty here.
  virtual void OnMouseHoverHook(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                QPoint point);
  // Paints the whole button into the off-screen buffer: the background steps of the paint mode,
  // the state cell, then the caption.
  virtual void DrawButton(QPainter& painter);
  // Draws the caption on one line, centred on each axis whose text offset is 0, one pixel right
  // and down while the button is pressed.
  virtual void DrawButtonText(QPainter& painter);

  // 1 (checked) for 1 and 2 (indeterminate counts as checked), 0 for anything else; repaints.
  void SetCheck(int check);
  int GetCheck() const;

  // The focus ring, when the button has the focus and its window shows focus cues (FocusCue.h):
  // dotted in the caption's colour, which the skin made to read on the button, two pixels inside
  // the edge (on the edge of a button too small for that). Drawn over DrawButton.
  void DrawFocusCue(QPainter& painter);

  // The whole button as one paint would put it on the screen.
  QImage RenderBuffer();

  // Nonzero while the mouse is over the button; the button then shows its hover cell.
  int hoverTracking = 0;
  // 0 or 1.
  int checkState = 0;

 protected:
  // Called once for every completed click (release inside the button, or the keyboard); empty
  // here. The subclasses react to their clicks here.
  virtual void OnClicked();

  // The cell a 4-state strip shows for the current state, starting at `firstCell`: disabled wins
  // over pressed, pressed over hovering.
  int PushStateCell(int firstCell) const;
  // Background steps, cell `cell` (none when negative), caption.
  void DrawButtonWithCell(QPainter& painter, int cell);
  // The caption as DrawButtonText describes it; `followPress` moves it while pressed.
  void DrawCaption(QPainter& painter, bool followPress);

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  // Return and Enter click the button, as they click a focused push button on the desktop; Space
  // is QAbstractButton's own (pressed on the key press, clicked on its release).
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  // Starts hover tracking on the first move over the button; the hover notice follows when the
  // mouse has rested for a millisecond.
  void BeginHoverTracking(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint point);

  QBasicTimer hoverTimer_;
  // Where and how the mouse was when tracking began, for the hover notice.
  Qt::MouseButtons hoverButtons_;
  Qt::KeyboardModifiers hoverModifiers_;
  QPoint hoverPoint_;
};

// A push button; its clicks reach the dialog as commands (kButtonClicked) with its identifier.
class CStandardButton : public CBasicButton {
 public:
  explicit CStandardButton(QWidget* parent = nullptr);

 protected:
  void OnClicked() override;
};

// A push button that differs from CStandardButton only in its layout class name.
class CDriftButton : public CStandardButton {
 public:
  explicit CDriftButton(QWidget* parent = nullptr);
};

// A check box: a 2-cell strip (unchecked, checked) or an 8-cell strip with an unchecked row of
// four states and a checked row of four. A click toggles the check state, repaints and sends a
// command to the dialog. The caption stays put while pressed.
class CCheckBoxButton : public CBasicButton {
 public:
  explicit CCheckBoxButton(QWidget* parent = nullptr);

  void DrawButton(QPainter& painter) override;
  void DrawButtonText(QPainter& painter) override;

 protected:
  void OnClicked() override;
};

// A radio button: a click checks it, unchecks the other buttons of its group and, when it has a
// control identifier, sends kRadioClickedMessage with that identifier to the dialog.
//
// The group is every other skinned button of the same parent that is not hidden and not disabled
// by itself: the layouts mark no group boundaries, so all of a dialog's buttons form one group,
// and hidden or disabled members are passed over as the dialog group walk passes over them.
class CRadioBoxButton : public CBasicButton {
 public:
  explicit CRadioBoxButton(QWidget* parent = nullptr);

 protected:
  void OnClicked() override;

 private:
  void UncheckGroup();
};
