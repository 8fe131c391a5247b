#include "layout/BasicPropertyFrame.h"

#include <algorithm>
#include <limits>

#include <QPainter>
#include <QPen>
#include <QWidget>

#include "diag/LogSystem.h"
#include "platform/FontFamilies.h"
#include "platform/SkinFile.h"
#include "platform/WorkingFolder.h"

QRgb ColorRefToArgb(std::uint32_t colorRef) {
  const std::uint32_t red = colorRef & 0xFF;
  const std::uint32_t green = (colorRef >> 8) & 0xFF;
  const std::uint32_t blue = (colorRef >> 16) & 0xFF;
  return 0xFF000000u | red << 16 | green << 8 | blue;
}

QString HighDensityPath(const QString& path) {
  const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  const int suffixStart = dot >= nameStart ? dot : path.size();
  return path.left(suffixStart) + QStringLiteral("@2x") + path.mid(suffixStart);
}

QImage LoadHighDensityImage(const QString& path, QSize size) {
  if (path.isEmpty() || size.isEmpty()) {
    return QImage();
  }
  // The twin is optional: whatever keeps it from loading, the original serves.
  QImage twin = LoadSkinImage(HighDensityPath(path)).image;
  // A twin of another size was drawn for another image; stretched into the original's place it
  // would look worse than the original.
  if (twin.size() != size * 2) {
    return QImage();
  }
  twin.setDevicePixelRatio(2);
  return twin;
}

void DrawSkinImage(QPainter& painter, const QRect& target, const QImage& image, const QImage& twin,
                   const QRect& source) {
  const QPaintDevice* device = painter.device();
  const qreal ratio = device != nullptr ? device->devicePixelRatio() : 1.0;
  if (ratio <= 1.0 || twin.isNull() || twin.size() != image.size() * 2) {
    painter.drawImage(target, image, source);
    return;
  }
  const QRect twinSource(source.topLeft() * 2, source.size() * 2);
  if (ratio == 2.0) {
    // Each pixel of the twin lands on one device pixel.
    painter.drawImage(target, twin, twinSource);
    return;
  }
  // At other ratios the twin is resampled; filtered, so that no pixel row simply disappears.
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, twin, twinSource);
  painter.restore();
}

CBasicPropertyFrame::CBasicPropertyFrame() { SetFont(QStringLiteral("宋体"), 12); }

CBasicPropertyFrame::~CBasicPropertyFrame() = default;

void CBasicPropertyFrame::PaintBackground(QWidget* parent, QWidget* self, QPainter& painter) {
  const QRect client = self != nullptr
                           ? self->rect()
                           : QRect(0, 0, painter.device()->width(), painter.device()->height());
  if ((paintMode & kPaintParentCopy) != 0 && parent != nullptr && self != nullptr) {
    if (!cachedBackground) {
      // The parent renders itself alone (no children, so this window is not painted again)
      // into the copy, from the place where this window sits.
      const QPoint origin = parent->mapFromGlobal(self->mapToGlobal(QPoint(0, 0)));
      const qreal ratio = self->devicePixelRatioF();
      QImage copy(client.size() * ratio, QImage::Format_ARGB32_Premultiplied);
      copy.setDevicePixelRatio(ratio);
      copy.fill(Qt::transparent);
      parent->render(&copy, QPoint(0, 0), QRegion(QRect(origin, client.size())),
                     QWidget::DrawWindowBackground);
      cachedBackground = std::move(copy);
    }
    painter.drawImage(QPoint(0, 0), *cachedBackground);
  }
  if ((paintMode & kPaintFill) != 0) {
    painter.fillRect(client, QColor::fromRgba(bgColor));
  }
  if ((paintMode & kPaintBorder) != 0) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor::fromRgba(borderColor), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(client.left(), client.top(), client.width() - 1, client.height() - 1);
    painter.restore();
  }
  if ((paintMode & kPaintImage) != 0) {
    const QRect whole(0, 0, imageWidth, imageHeight);
    DrawBGImage(painter, whole, whole);
  }
}

void CBasicPropertyFrame::MoveByAnchor(QWidget* child, int dx, int dy, int horizontalMode,
                                       int verticalMode) {
  if (child == nullptr) {
    return;
  }
  // In 64 bits, so that no sum of a far position and a large change overflows.
  const QRect geometry = child->geometry();
  std::int64_t left = geometry.x();
  std::int64_t top = geometry.y();
  std::int64_t right = left + geometry.width();
  std::int64_t bottom = top + geometry.height();
  const bool known =
      horizontalMode >= 1 && horizontalMode <= 3 && verticalMode >= 1 && verticalMode <= 3;
  if (known) {
    if (horizontalMode == 2) {
      left += dx;
    }
    if (horizontalMode == 2 || horizontalMode == 3) {
      right += dx;
    }
    if (verticalMode == 2) {
      top += dy;
    }
    if (verticalMode == 2 || verticalMode == 3) {
      bottom += dy;
    }
  }
  const auto clamp = [](std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min() / 2,
                                                     std::numeric_limits<int>::max() / 2));
  };
  child->setGeometry(clamp(left), clamp(top), clamp(std::max<std::int64_t>(0, right - left)),
                     clamp(std::max<std::int64_t>(0, bottom - top)));
  child->update();
}

void CBasicPropertyFrame::OnParentSized(int, int) {}

void CBasicPropertyFrame::SetBGImage(const QString& path, int count, int originX, int originY) {
  bgImage.reset();
  bgImage2x = QImage();
  imageX = originX;
  imageY = originY;
  QImage image;
  // An empty layout value names the base folder, a directory; it is simply no image.
  if (!path.isEmpty() && path != GetWorkingBaseFolder()) {
    LoadedSkinImage loaded = LoadSkinImage(path);
    if (loaded.image.isNull()) {
      WriteLog("Skin image %s %s; it is not drawn", path.toLocal8Bit().constData(),
               loaded.problem.toLocal8Bit().constData());
    }
    image = std::move(loaded.image);
  }
  imageWidth = image.width();
  imageHeight = image.height();
  statusCount = std::max(count, 1);
  cellWidth = imageWidth / statusCount;
  bgImage2x = LoadHighDensityImage(path, image.size());
  bgImage = std::move(image);
}

void CBasicPropertyFrame::SetBGColor(std::uint32_t colorRef) { bgColor = ColorRefToArgb(colorRef); }

void CBasicPropertyFrame::SetTextColor(std::uint32_t colorRef) {
  textColor = ColorRefToArgb(colorRef);
}

void CBasicPropertyFrame::SetText(const QString& newText, int offsetX, int offsetY) {
  // A copy that is never null, so that "set to empty" differs from "never set".
  drawnText = newText.isNull() ? QStringLiteral("") : newText;
  textOffsetX = offsetX;
  textOffsetY = offsetY;
}

void CBasicPropertyFrame::SetFont(const QString& family, int size) {
  fontFamily = family;
  const QString installed = ResolveFontFamily(family);
  textFont = QFont();
  if (!installed.isEmpty()) {
    textFont.setFamilies({installed});
  }
  if (size > 0) {
    textFont.setPixelSize(size);
  }
  textFont.setStyle(QFont::StyleNormal);
  textFont.setWeight(QFont::Normal);
  fontUsable = !installed.isEmpty() && size > 0;
}

void CBasicPropertyFrame::SetToolTip(const QString& tip, QWidget* control) {
  toolTipText = tip;
  if (control != nullptr) {
    control->setToolTip(tip);
  }
}

void CBasicPropertyFrame::DrawBGImage(QPainter& painter, const QRect& target,
                                      const QRect& source) const {
  if (bgImage && !bgImage->isNull()) {
    DrawSkinImage(painter, target, *bgImage, bgImage2x, source);
  }
}

QRect CBasicPropertyFrame::StateCellRect(int cell) const {
  if (!bgImage || bgImage->isNull() || cellWidth <= 0 || cell < 0 || cell >= statusCount) {
    return QRect();
  }
  return QRect(cell * cellWidth, 0, cellWidth, imageHeight);
}
