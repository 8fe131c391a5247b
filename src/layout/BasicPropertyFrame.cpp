#include "layout/BasicPropertyFrame.h"

#include <algorithm>
#include <limits>

#include <QPainter>
#include <QPen>
#include <QWidget>

#include "platform/FontFamilies.h"

QRgb ColorRefToArgb(std::uint32_t colorRef) {
  const std::uint32_t red = colorRef & 0xFF;
  const std::uint32_t green = (colorRef >> 8) & 0xFF;
  const std::uint32_t blue = (colorRef >> 16) & 0xFF;
  return 0xFF000000u | red << 16 | green << 8 | blue;
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
  if ((paintMode & kPaintImage) != 0 && bgImage && !bgImage->isNull()) {
    const QRect whole(0, 0, imageWidth, imageHeight);
    painter.drawImage(whole, *bgImage, whole);
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
  const bool known = horizontalMode >= 1 && horizontalMode <= 3 && verticalMode >= 1 &&
                     verticalMode <= 3;
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
  imageX = originX;
  imageY = originY;
  QImage image;
  // An empty layout value names the base folder, a directory; it is simply no image.
  if (!path.isEmpty()) {
    image.load(path);
  }
  imageWidth = image.width();
  imageHeight = image.height();
  statusCount = std::max(count, 1);
  cellWidth = imageWidth / statusCount;
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

QRect CBasicPropertyFrame::StateCellRect(int cell) const {
  if (!bgImage || bgImage->isNull() || cellWidth <= 0 || cell < 0 || cell >= statusCount) {
    return QRect();
  }
  return QRect(cell * cellWidth, 0, cellWidth, imageHeight);
}
