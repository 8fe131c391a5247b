#pragma once

#include <QImage>
#include <QPainter>

template <typename Draw>
void PaintDoubleBuffered(QWidget& widget, Draw&& draw) {
  const qreal ratio = widget.devicePixelRatioF();
  QImage buffer(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
  buffer.setDevicePixelRatio(ratio);
  // An unpainted pixel of a skinned window is black, as in a fresh memory bitmap.
  buffer.fill(Qt::black);
  {
    QPainter painter(&buffer);
    draw(painter);
  }
  QPainter screen(&widget);
  screen.drawImage(QPoint(0, 0), buffer);
}
