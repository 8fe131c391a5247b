#include "controls/BasicListCtrl.h"

#include <QEvent>
#include <QPainter>
#include <QPen>

#include "controls/FocusCue.h"

CBasicListCtrl::CBasicListCtrl(QWidget* parent) : QTableWidget(parent) {
  setFrameShape(QFrame::NoFrame);
  UpdateBorderMargins();
}

void CBasicListCtrl::UpdateBorderMargins() {
  // A scroll area lays its viewport, header and scroll bars out inside its frame (it ignores
  // contents margins), so the 1-pixel border is a 1-pixel plain frame that event() paints over
  // in the border colour.
  if ((paintMode & kPaintBorder) != 0) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
  } else {
    setFrameStyle(QFrame::NoFrame);
  }
  update();
}

bool CBasicListCtrl::event(QEvent* event) {
  const bool handled = QTableWidget::event(event);
  // The frame lies outside the item area, on the list widget itself (the item area is the
  // viewport, which paints the rows).
  if (event->type() == QEvent::Paint && (paintMode & kPaintBorder) != 0) {
    // With the focus shown, the frame takes the colour of the rows' text: on the white of the
    // rows it reads where the border colour hardly does.
    const QColor frame =
        ShowsFocusCue(this) ? palette().color(QPalette::Text) : QColor::fromRgba(borderColor);
    QPainter painter(this);
    painter.setPen(QPen(frame, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
  }
  return handled;
}
