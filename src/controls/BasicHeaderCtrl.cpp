#include "controls/BasicHeaderCtrl.h"

#include <QPaintEvent>
#include <QPainter>

#include "controls/BasicCtrl.h"

int ScaledHeaderHeight(int height, float scale) {
  return static_cast<int>(static_cast<double>(height) * static_cast<double>(scale));
}

CBasicHeaderCtrl::CBasicHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBasicHeaderCtrl::DrawHeader(QPainter& painter) {
  PaintBackground(parentWidget(), this, painter);
  DrawHeaderItems(painter);
}

void CBasicHeaderCtrl::DrawHeaderItems(QPainter&) {}

QImage CBasicHeaderCtrl::RenderBuffer() {
  return RenderToImage(viewport()->size(), [this](QPainter& painter) { DrawHeader(painter); });
}

QSize CBasicHeaderCtrl::sizeHint() const {
  QSize hint = QHeaderView::sizeHint();
  hint.setHeight(ScaledHeaderHeight(hint.height(), heightScale));
  return hint;
}

void CBasicHeaderCtrl::paintEvent(QPaintEvent*) {
  PaintDoubleBuffered(*viewport(), [this](QPainter& painter) { DrawHeader(painter); });
}
