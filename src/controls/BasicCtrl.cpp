#include "controls/BasicCtrl.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QFontInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>

#include "controls/CtrlAccessible.h"
#include "controls/CtrlNotify.h"

CBasicCtrl::CBasicCtrl(QWidget* parent) : QWidget(parent) {
  // The control paints every pixel itself; nothing is erased before.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  // Screen readers see a label or a graphic, not an unnamed filler.
  InstallCtrlAccessibility();
  RefreshCtrlAccessibility(this);
}

void CBasicCtrl::ChangeText(const QString& text) {
  SetText(text, textOffsetX, textOffsetY);
  update();
  AnnounceTextChange(this);
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
    DragParentFromBand(this, PressPosition(*this, *event), event->globalPosition().toPoint());
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

QPointF PressPosition(const QWidget& widget, const QMouseEvent& event) {
  const QPointF rounded = event.position();
  const QPointF exact = widget.mapFrom(widget.window(), event.scenePosition());
  // An event made up for the widget alone may carry the widget's own position as its window
  // position; its rounded position is then all there is.
  if (std::abs(exact.x() - rounded.x()) <= 0.5 && std::abs(exact.y() - rounded.y()) <= 0.5) {
    return exact;
  }
  return rounded;
}

bool DragParentFromBand(QWidget* control, QPointF position, QPoint globalPosition) {
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
  record.DrawBGImage(painter, QRect(QPoint(record.imageX, record.imageY), source.size()), source);
}

int CaptionTop(int top, int height, const QFont& font) {
  const QFontMetrics metrics(font);
  const int line = metrics.ascent() + metrics.descent();
  // Integer division truncates toward zero: of an odd number of spare or missing pixels, the odd
  // one goes below the line.
  const int slotted = top + (QFontInfo(font).pixelSize() - line) / 2;
  if (line <= height) {
    return std::clamp(slotted, 0, height - line);
  }
  return (height - line) / 2;
}

void DrawWrappedText(const CBasicPropertyFrame& record, QPainter& painter, const QRect& client) {
  if (record.drawnText.isEmpty() || !record.fontUsable) {
    return;
  }
  const int x = record.textOffsetX == -1 ? 1 : record.textOffsetX;
  const int y = CaptionTop(record.textOffsetY == -1 ? 1 : record.textOffsetY, client.height(),
                           record.textFont);
  const int width = client.width() - 2 * x;
  painter.save();
  painter.setFont(record.textFont);
  painter.setPen(QColor::fromRgba(record.textColor));
  painter.setClipRect(client);
  // Words wrap at the layout width, a word longer than a line breaks inside; a layout width of
  // 0 or less means no wrapping at all. The control's edge cuts what lies below. The lines are
  // laid out once and kept with the record until the text, font or size changes.
  record.wrappedText.Draw(painter, QPointF(x, y), record.drawnText, width > 0 ? width : 0,
                          client.bottom() + 1 - y);
  painter.restore();
}
