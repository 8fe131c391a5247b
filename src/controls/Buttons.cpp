#include "controls/Buttons.h"

#include <algorithm>

#include <QEnterEvent>
#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include "controls/BasicCtrl.h"
#include "controls/CtrlNotify.h"
#include "controls/FocusCue.h"

namespace {

// How long the mouse rests on a button before the button hears that it hovers, in milliseconds.
constexpr int kHoverTime = 1;

// The caption is measured and drawn with the same flags, so that the box that places it is the
// box it is drawn in: from its top-left corner, on one line, never clipped.
constexpr int kCaptionFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;

// The focus ring lies this far inside a button's edge, on buttons at least kRingRoomMin pixels
// wide and high; smaller buttons (the 11-pixel close button) get it on their edge.
constexpr int kRingInset = 2;
constexpr int kRingRoomMin = 16;

}  // namespace

CBasicButton::CBasicButton(QWidget* parent) : QAbstractButton(parent) {
  // The button paints every pixel itself; nothing is erased before.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  // Enter and leave repaint the button; mouse moves arrive without a pressed button as well,
  // since the first of them starts hover tracking.
  setAttribute(Qt::WA_Hover);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  // One connection, so one call per completed click: the button emits clicked() once, on a
  // release inside it or from the keyboard.
  connect(this, &QAbstractButton::clicked, this, [this] { OnClicked(); });
}

void CBasicButton::OnMouseMoveHook(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint) {}

void CBasicButton::OnMouseLeaveHook() {}

void CBasicButton::OnMouseHoverHook(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint) {}

void CBasicButton::OnClicked() {}

void CBasicButton::DrawButton(QPainter& painter) {
  int cell = -1;
  switch (statusCount) {
    case 2:
      cell = checkState != 0 ? 1 : 0;
      break;
    case 4:
      cell = PushStateCell(0);
      break;
    case 5:
      cell = checkState != 0 ? 4 : PushStateCell(0);
      break;
    default:
      // Other strips have no agreed meaning for their cells, so none of them is shown.
      break;
  }
  DrawButtonWithCell(painter, cell);
}

void CBasicButton::DrawButtonText(QPainter& painter) { DrawCaption(painter, true); }

void CBasicButton::SetCheck(int check) {
  checkState = check == 1 || check == 2 ? 1 : 0;
  update();
}

int CBasicButton::GetCheck() const { return checkState; }

void CBasicButton::DrawFocusCue(QPainter& painter) {
  if (!ShowsFocusCue(this)) {
    return;
  }
  const int inset = std::min(width(), height()) >= kRingRoomMin ? kRingInset : 0;
  DrawFocusRing(painter, rect().adjusted(inset, inset, -inset, -inset),
                QColor::fromRgba(textColor));
}

QImage CBasicButton::RenderBuffer() {
  return RenderToImage(size(), [this](QPainter& painter) {
    DrawButton(painter);
    DrawFocusCue(painter);
  });
}

int CBasicButton::PushStateCell(int firstCell) const {
  if (!isEnabled()) {
    return firstCell + 3;
  }
  if (isDown()) {
    return firstCell + 2;
  }
  if (hoverTracking != 0) {
    return firstCell + 1;
  }
  return firstCell;
}

void CBasicButton::DrawButtonWithCell(QPainter& painter, int cell) {
  PaintBackground(parentWidget(), this, painter);
  if (cell >= 0) {
    DrawStateCell(*this, painter, cell);
  }
  DrawButtonText(painter);
}

void CBasicButton::DrawCaption(QPainter& painter, bool followPress) {
  if (drawnText.isEmpty() || !fontUsable) {
    return;
  }
  painter.save();
  painter.setFont(textFont);
  const QRect bounds = painter.boundingRect(QRect(0, 0, 0, 0), kCaptionFlags, drawnText);
  // Integer division truncates toward zero, also for a caption wider than the button.
  int x = textOffsetX != 0 ? textOffsetX : (width() - bounds.width()) / 2;
  int y = textOffsetY != 0 ? CaptionTop(textOffsetY, height(), textFont)
                          : (height() - bounds.height()) / 2;
  if (followPress && isDown()) {
    ++x;
    ++y;
  }
  painter.setPen(QColor::fromRgba(textColor));
  painter.drawText(QRect(x, y, 0, 0), kCaptionFlags, drawnText);
  painter.restore();
}

void CBasicButton::paintEvent(QPaintEvent*) {
  PaintDoubleBuffered(*this, [this](QPainter& painter) {
    DrawButton(painter);
    DrawFocusCue(painter);
  });
}

void CBasicButton::enterEvent(QEnterEvent* event) {
  // The pointer may come in without moving over the button (a button shown under it); that
  // counts as the first move.
  if (hoverTracking == 0) {
    BeginHoverTracking(event->buttons(), event->modifiers(), event->position().toPoint());
  }
  QAbstractButton::enterEvent(event);
}

void CBasicButton::leaveEvent(QEvent* event) {
  hoverTimer_.stop();
  hoverTracking = 0;
  OnMouseLeaveHook();
  update();
  QAbstractButton::leaveEvent(event);
}

void CBasicButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (hoverTracking == 0 && rect().contains(point)) {
    BeginHoverTracking(event->buttons(), event->modifiers(), point);
  }
  OnMouseMoveHook(event->buttons(), event->modifiers(), point);
  QAbstractButton::mouseMoveEvent(event);
}

void CBasicButton::mousePressEvent(QMouseEvent* event) {
  NoteMouseUse(this);
  QAbstractButton::mousePressEvent(event);
}

void CBasicButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click is a double click, not a press: it neither pushes the
  // button down nor leads to a second click, so a double click clicks once, as it does on the
  // owner-drawn buttons the skins were made for.
  event->accept();
}

void CBasicButton::timerEvent(QTimerEvent* event) {
  if (event->timerId() != hoverTimer_.timerId()) {
    QAbstractButton::timerEvent(event);
    return;
  }
  hoverTimer_.stop();
  OnMouseHoverHook(hoverButtons_, hoverModifiers_, hoverPoint_);
  // The hover cell appears with this repaint.
  update();
}

void CBasicButton::keyPressEvent(QKeyEvent* event) {
  NoteKeyboardUse(this);
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
    // A held key clicks once, not once per repeat. The key stops here either way: passed on, it
    // would reach the dialog, whose Enter is the business of its default button.
    if (!event->isAutoRepeat()) {
      click();
    }
    event->accept();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

void CBasicButton::focusInEvent(QFocusEvent* event) {
  QAbstractButton::focusInEvent(event);
  NoteFocusIn(this, *event);
}

void CBasicButton::BeginHoverTracking(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                      QPoint point) {
  hoverTracking = 1;
  hoverButtons_ = buttons;
  hoverModifiers_ = modifiers;
  hoverPoint_ = point;
  hoverTimer_.start(kHoverTime, this);
}

CStandardButton::CStandardButton(QWidget* parent) : CBasicButton(parent) {
  setObjectName(QString::fromUtf16(kStandardButtonClass));
}

void CStandardButton::OnClicked() { SendCtrlCommand(this, kButtonClicked); }

CDriftButton::CDriftButton(QWidget* parent) : CStandardButton(parent) {
  setObjectName(QString::fromUtf16(kDriftButtonClass));
}

CCheckBoxButton::CCheckBoxButton(QWidget* parent) : CBasicButton(parent) {
  setObjectName(QString::fromUtf16(kCheckBoxButtonClass));
}

void CCheckBoxButton::DrawButton(QPainter& painter) {
  int cell = -1;
  if (statusCount == 2) {
    cell = checkState != 0 ? 1 : 0;
  } else if (statusCount == 8) {
    cell = PushStateCell(checkState != 0 ? 4 : 0);
  }
  DrawButtonWithCell(painter, cell);
}

void CCheckBoxButton::DrawButtonText(QPainter& painter) { DrawCaption(painter, false); }

void CCheckBoxButton::OnClicked() {
  checkState = checkState != 0 ? 0 : 1;
  update();
  SendCtrlCommand(this, kButtonClicked);
}

CRadioBoxButton::CRadioBoxButton(QWidget* parent) : CBasicButton(parent) {
  setObjectName(QString::fromUtf16(kRadioBoxButtonClass));
}

void CRadioBoxButton::OnClicked() {
  checkState = 1;
  update();
  UncheckGroup();
  const int ctrlId = GetCtrlId(this);
  if (ctrlId != 0) {
    SendCtrlMessage(this, kRadioClickedMessage, ctrlId, 0);
  }
}

void CRadioBoxButton::UncheckGroup() {
  QWidget* parent = parentWidget();
  if (parent == nullptr) {
    return;
  }
  for (QObject* child : parent->children()) {
    auto* button = dynamic_cast<CBasicButton*>(child);
    if (button == nullptr || button == this || !button->isVisibleTo(parent) ||
        !button->isEnabledTo(parent)) {
      continue;
    }
    button->SetCheck(0);
  }
}
