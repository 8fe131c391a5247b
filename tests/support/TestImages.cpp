#include "TestImages.h"

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "TemporaryDirectory.h"

namespace testsupport {

QImage PositionImage(QSize size, int tag) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      image.setPixel(x, y, qRgb(x, y, tag));
    }
  }
  return image;
}

QRgb Over(QRgb over, QRgb under) {
  const int alpha = qAlpha(over);
  const auto channel = [alpha](int top, int bottom) {
    return (top * alpha + bottom * (255 - alpha) + 127) / 255;
  };
  return qRgb(channel(qRed(over), qRed(under)), channel(qGreen(over), qGreen(under)),
              channel(qBlue(over), qBlue(under)));
}

int ChannelDistance(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                   std::abs(qBlue(a) - qBlue(b))});
}

QString SaveImage(const TemporaryDirectory& folder, const QImage& image, const std::string& name) {
  const QString path = QString::fromStdString(folder.File(name));
  EXPECT_TRUE(image.save(path));
  return path;
}

}  // namespace testsupport
