#pragma once

// A text laid out in lines once and drawn at every paint. The text controls paint the same text
// again and again (on every hover, every countdown tick of a neighbour, every exposure); laying
// it out anew each time costs in proportion to its length, which a layout document chooses.

#include <memory>

#include <QFont>
#include <QPointF>
#include <QString>

class QPainter;
class QTextLayout;

class WrappedTextLayout {
 public:
  // Draws `text` with the painter's font and pen, its first line's top at `origin`, left-aligned,
  // wrapped at word boundaries (inside a word longer than a line) at `width`, or not wrapped when
  // `width` is 0 or less; a line break in the text starts a new line. Only the lines that begin
  // above `origin.y() + visibleHeight` are laid out: the caller's clip cuts the rest. The lines
  // are placed as QPainter::drawText places them, so the pixels are the same. The layout is kept
  // and made again only when the text, the font, the width, the visible height, the layout
  // direction or the device's resolution change.
  void Draw(QPainter& painter, QPointF origin, const QString& text, qreal width,
            qreal visibleHeight);

  // How many times a text was laid out since construction.
  int LayoutCount() const { return layoutCount_; }

 private:
  QString text_;
  QFont font_;
  qreal width_ = 0;
  qreal visibleHeight_ = 0;
  Qt::LayoutDirection direction_ = Qt::LeftToRight;
  int dpi_ = 0;
  // Shared by copies of the record: a layout is never changed once it is made.
  std::shared_ptr<QTextLayout> layout_;
  int layoutCount_ = 0;
};
