#pragma once

#include <QImage>
#include <QPainter>

template <typename Draw>
QImage DrawBuffer(QSize size, qreal ratio, Draw&& draw) {
  QImage buffer(size * ratio, QImage::Format_ARGB32_Premultiplied);
  buffer.setDevicePixelRatio(ratio);
  // An unpainted pixel of a skinned window is black, as in a fresh memory bitmap.
  buffer.fill(Qt::black);
  QPainter painter(&buffer);
  draw(painter);
  return buffer;
}

template <typename Draw>
void PaintDoubleBuffered(QWidget& widget, Draw&& draw) {
  const QImage buffer =
      DrawBuffer(widget.size(), widget.devicePixelRatioF(), std::forward<Draw>(draw));
  QPainter screen(&widget);
  screen.drawImage(QPoint(0, 0), buffer);
}

template <typename Draw>
QImage RenderToImage(QSize size, Draw&& draw) {
  return DrawBuffer(size, 1.0, std::forward<Draw>(draw));
}
