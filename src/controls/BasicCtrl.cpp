#include "controls/BasicCtrl.h"

#include <limits>

#include <QMouseEvent>
#include <QTextOption>
#include <QPaintEvent>
#include <QResizeEvent>

#include "controls/CtrlNotify.h"

CBasicCtrl::CBasicCtrl(QWidget* parent) : QWidget(parent) {
  // The control paints every pixel itself; nothing is erased before.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
}

void CBasicCtrl::DrawCtrl(QPainter&) {}

void CBasicCtrl::DrawCtrlExtra(QPainter&) {}

void CBasicCtrl::OnSizeChanged(int, int cx, int cy) { lastClientRect = QRect(0, 0, cx, cy); }

QImage CBasicCtrl::RenderBuffer() {
  return RenderToImage(size(), [this](QPainter& painter) { DrawCtrl(painter); });
}

void CBasicCtrl::paintEvent(QPaintEvent*) {
  PaintDoubleBuffered(*this, [this](QPainter& painter) { DrawCtrl(painter); });
}

void CBasicCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  OnSizeChanged(0, event->size().width(), event->size().height());
}

void CBasicCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    DragParentFromBand(this, event->position().toPoint(), event->globalPosition().toPoint());
  }
  // The press is the control's: passed on, it would reach the dialog, whose own band would
  // start a second drag.
  event->accept();
}

void CBasicCtrl::leaveEvent(QEvent* event) {
  mouseTracking = 0;
  update();
  QWidget::leaveEvent(event);
}

bool DragParentFromBand(QWidget* control, QPoint position, QPoint globalPosition) {
  QWidget* parent = control != nullptr ? control->parentWidget() : nullptr;
  if (parent == nullptr) {
    return false;
  }
  if (control->mapTo(parent, position).y() >= kDragBandHeight) {
    return false;
  }
  StartWindowDrag(parent, globalPosition);
  return true;
}

void DrawStateCell(const CBasicPropertyFrame& record, QPainter& painter, int cell) {
  const QRect source = record.StateCellRect(cell);
  if (source.isEmpty()) {
    return;
  }
  painter.drawImage(QRect(QPoint(record.imageX, record.imageY), source.size()), *record.bgImage,
                    source);
}

void DrawWrappedText(const CBasicPropertyFrame& record, QPainter& painter, const QRect& client) {
  if (record.drawnText.isEmpty() || !record.fontUsable) {
    return;
  }
  const int x = record.textOffsetX == -1 ? 1 : record.textOffsetX;
  const int y = record.textOffsetY == -1 ? 1 : record.textOffsetY;
  const int width = client.width() - 2 * x;
  painter.save();
  painter.setFont(record.textFont);
  painter.setPen(QColor::fromRgba(record.textColor));
  painter.setClipRect(client);
  // Words wrap at the layout width, a word longer than a line breaks inside; a layout width of
  // 0 or less means no wrapping at all. The height is unlimited: the control's edge cuts what
  // lies below.
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(width > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  const qreal layoutWidth = width > 0 ? width : std::numeric_limits<int>::max() / 4;
  painter.drawText(QRectF(x, y, layoutWidth, std::numeric_limits<int>::max() / 4), record.drawnText,
                   option);
  painter.restore();
}
