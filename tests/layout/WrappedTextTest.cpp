// Wrapped text is laid out once and drawn from the kept layout: the same pixels as
// QPainter::drawText, and a new layout only when what it depends on changes.

#include "layout/WrappedText.h"

#include <limits>

#include <gtest/gtest.h>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTextOption>

namespace {

constexpr QSize kSize(120, 60);

QFont TextFont() {
  QFont font;
  font.setPixelSize(12);
  return font;
}

QImage Blank() {
  QImage image(kSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  return image;
}

// What the text controls drew before the layout was kept: drawText with a wrapping option into a
// rectangle of unlimited height.
QImage DrawnByPainter(const QString& text, QPointF origin, qreal width) {
  QImage image = Blank();
  QPainter painter(&image);
  painter.setFont(TextFont());
  painter.setClipRect(QRect(QPoint(0, 0), kSize));
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(width > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  const qreal layoutWidth = width > 0 ? width : std::numeric_limits<int>::max() / 4;
  painter.drawText(QRectF(origin.x(), origin.y(), layoutWidth, std::numeric_limits<int>::max() / 4),
                   text, option);
  return image;
}

QImage DrawnByLayout(WrappedTextLayout& layout, const QString& text, QPointF origin, qreal width) {
  QImage image = Blank();
  QPainter painter(&image);
  painter.setFont(TextFont());
  painter.setClipRect(QRect(QPoint(0, 0), kSize));
  layout.Draw(painter, origin, text, width, kSize.height() - origin.y());
  return image;
}

TEST(WrappedTextTest, DrawsTheSamePixelsAsDrawText) {
  const struct {
    const char* text;
    QPointF origin;
    qreal width;
  } cases[] = {
      {"Device List", {13, 2}, 94},
      {"Searching new devices please wait a little longer", {13, 2}, 94},
      {"Averyveryverylongwordthatbreaksinsideitself and more", {1, 1}, 60},
      {"first line\nsecond line\r\nthird", {0, 0}, 118},
      {"no wrapping at all even when it is long", {2, 3}, 0},
      {"many lines that run far below the bottom edge of the control and are cut there",
       {5, 40},
       50},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.text);
    WrappedTextLayout layout;
    EXPECT_EQ(DrawnByLayout(layout, test.text, test.origin, test.width),
              DrawnByPainter(test.text, test.origin, test.width));
  }
}

TEST(WrappedTextTest, LaysOutAgainOnlyWhenSomethingItDependsOnChanges) {
  WrappedTextLayout layout;
  const QString text = QString(4096, QLatin1Char('w'));
  for (int paint = 0; paint < 5; ++paint) {
    DrawnByLayout(layout, text, {1, 1}, 100);
  }
  EXPECT_EQ(layout.LayoutCount(), 1);
  // A copy of the same text, another text, another width, another room below.
  DrawnByLayout(layout, QString(text), {1, 1}, 100);
  EXPECT_EQ(layout.LayoutCount(), 1);
  DrawnByLayout(layout, text + "x", {1, 1}, 100);
  EXPECT_EQ(layout.LayoutCount(), 2);
  DrawnByLayout(layout, text + "x", {1, 1}, 90);
  EXPECT_EQ(layout.LayoutCount(), 3);
  DrawnByLayout(layout, text + "x", {1, 20}, 90);
  EXPECT_EQ(layout.LayoutCount(), 4);
  // Moving the text does not change its lines.
  DrawnByLayout(layout, text + "x", {7, 20}, 90);
  EXPECT_EQ(layout.LayoutCount(), 4);
}

}  // namespace
