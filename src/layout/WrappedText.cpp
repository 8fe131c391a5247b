#include "layout/WrappedText.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

namespace {

// The width QPainter::drawText gives a line that does not wrap.
constexpr qreal kUnwrappedLineWidth = 0x01000000;

std::shared_ptr<QTextLayout> LayOut(const QString& text, const QFont& font, qreal width,
                                    qreal visibleHeight, Qt::LayoutDirection direction) {
  // As QPainter::drawText reads a text: a carriage return is a blank, a line feed breaks the line.
  QString prepared = text;
  for (QChar& character : prepared) {
    if (character == QLatin1Char('\r')) {
      character = QLatin1Char(' ');
    } else if (character == QLatin1Char('\n')) {
      character = QChar::LineSeparator;
    }
  }
  auto layout = std::make_shared<QTextLayout>(prepared, font);
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(width > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  option.setTextDirection(direction);
  layout->setTextOption(option);
  layout->setCacheEnabled(true);

  // Lines follow each other at the font's leading, each on a whole pixel, as drawText puts them.
  const qreal lineWidth = width > 0 ? width : kUnwrappedLineWidth;
  const qreal leading = QFontMetricsF(font).leading();
  qreal height = -leading;
  layout->beginLayout();
  for (;;) {
    QTextLine line = layout->createLine();
    if (!line.isValid()) {
      break;
    }
    line.setLineWidth(lineWidth);
    height = std::ceil(height + leading);
    line.setPosition(QPointF(0, height));
    height += line.ascent() + line.descent();
    if (height >= visibleHeight) {
      break;
    }
  }
  layout->endLayout();
  return layout;
}

}  // namespace

void WrappedTextLayout::Draw(QPainter& painter, QPointF origin, const QString& text, qreal width,
                             qreal visibleHeight) {
  if (text.isEmpty()) {
    return;
  }
  const QFont font = painter.font();
  const Qt::LayoutDirection direction = painter.layoutDirection();
  const int dpi = painter.device() != nullptr ? painter.device()->logicalDpiY() : 0;
  const qreal visible = std::max<qreal>(visibleHeight, 1);
  if (!layout_ || text != text_ || font != font_ || width != width_ || visible != visibleHeight_ ||
      direction != direction_ || dpi != dpi_) {
    text_ = text;
    font_ = font;
    width_ = width;
    visibleHeight_ = visible;
    direction_ = direction;
    dpi_ = dpi;
    layout_ = LayOut(text, font, width, visible, direction);
    ++layoutCount_;
  }
  for (int index = 0; index < layout_->lineCount(); ++index) {
    layout_->lineAt(index).draw(&painter, origin);
  }
}
