#include "controls/FocusCue.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFocusEvent>
#include <QPainter>
#include <QRect>
#include <QVariant>
#include <QWidget>

namespace {

// Kept on the top-level window, so that every control of a dialog agrees on it.
constexpr char kKeyboardCuesProperty[] = "tarveloKeyboardCues";

void RepaintFocusWidget(QWidget* window) {
  QWidget* focused = window->focusWidget();
  if (focused == nullptr) {
    return;
  }
  focused->update();
  // A list draws its ring on its viewport, which does not repaint with the list itself.
  if (auto* area = qobject_cast<QAbstractScrollArea*>(focused)) {
    area->viewport()->update();
  }
}

void SetKeyboardCues(QWidget* control, bool shown) {
  if (control == nullptr) {
    return;
  }
  QWidget* window = control->window();
  if (window->property(kKeyboardCuesProperty).toBool() == shown) {
    return;
  }
  window->setProperty(kKeyboardCuesProperty, shown);
  RepaintFocusWidget(window);
}

}  // namespace

bool ShowsFocusCue(const QWidget* control) {
  return control != nullptr && control->hasFocus() &&
         control->window()->property(kKeyboardCuesProperty).toBool();
}

void NoteKeyboardUse(QWidget* control) { SetKeyboardCues(control, true); }

void NoteMouseUse(QWidget* control) { SetKeyboardCues(control, false); }

void NoteFocusIn(QWidget* control, const QFocusEvent& event) {
  // A dialog that is being shown sends its first focus widget a Tab focus event before the
  // window is active; only a focus the control really has came from the keys.
  const Qt::FocusReason reason = event.reason();
  const bool fromKeys = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                        reason == Qt::ShortcutFocusReason;
  if (fromKeys && control != nullptr && control->hasFocus()) {
    NoteKeyboardUse(control);
  }
}

void DrawFocusRing(QPainter& painter, const QRect& rect, const QColor& colour) {
  if (rect.width() < 1 || rect.height() < 1) {
    return;
  }
  // Dots as 1-pixel squares rather than a dotted pen: a pen's dash pattern depends on the
  // device pixel ratio and on where a line starts; squares fall on the same pixels everywhere.
  const int left = rect.left();
  const int top = rect.top();
  const int right = rect.right();
  const int bottom = rect.bottom();
  for (int x = left; x <= right; x += 2) {
    painter.fillRect(x, top, 1, 1, colour);
    painter.fillRect(x, bottom, 1, 1, colour);
  }
  for (int y = top; y <= bottom; y += 2) {
    painter.fillRect(left, y, 1, 1, colour);
    painter.fillRect(right, y, 1, 1, colour);
  }
}
