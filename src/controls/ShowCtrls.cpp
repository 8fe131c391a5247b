#include "controls/ShowCtrls.h"

#include <QPainter>

namespace {

// The image's size and cell width, taken again from the image when a setter left them at 0.
void RefreshCellSize(CBasicPropertyFrame& record) {
  if ((record.cellWidth == 0 || record.imageHeight == 0) && record.bgImage &&
      !record.bgImage->isNull()) {
    record.imageWidth = record.bgImage->width();
    record.imageHeight = record.bgImage->height();
    record.cellWidth = record.imageWidth / std::max(record.statusCount, 1);
  }
}

}  // namespace

CShowTextCtrl::CShowTextCtrl(QWidget* parent) : CBasicCtrl(parent) {
  setObjectName(QString::fromUtf16(kShowTextCtrlClass));
}

void CShowTextCtrl::DrawCtrl(QPainter& painter) {
  PaintBackground(parentWidget(), this, painter);
  DrawWrappedText(*this, painter, rect());
}

CShowImageCtrl::CShowImageCtrl(QWidget* parent) : CBasicCtrl(parent) {
  setObjectName(QString::fromUtf16(kShowImageCtrlClass));
}

void CShowImageCtrl::DrawCtrl(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  PaintBackground(parentWidget(), this, painter);
  RefreshCellSize(*this);
  DrawStateCell(*this, painter, currentCell);
}

CShowTextImageCtrl::CShowTextImageCtrl(QWidget* parent) : CBasicCtrl(parent) {
  setObjectName(QString::fromUtf16(kShowTextImageCtrlClass));
}

void CShowTextImageCtrl::DrawCtrl(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  PaintBackground(parentWidget(), this, painter);
  RefreshCellSize(*this);
  DrawStateCell(*this, painter, currentCell);
  DrawWrappedText(*this, painter, rect());
}
