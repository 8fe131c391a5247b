#include "controls/BasicHeaderCtrl.h"

#include <QPaintEvent>
#include <QPainter>

#include "controls/BasicCtrl.h"
#include "platform/SkinFile.h"

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

CSeparatorHeaderCtrl::CSeparatorHeaderCtrl(QWidget* parent) : CBasicHeaderCtrl(parent) {}

void CSeparatorHeaderCtrl::SetSeparatorImage(const QString& path) {
  separatorImage = path.isEmpty() ? QImage() : LoadSkinImage(path).image;
  separatorImage2x = LoadHighDensityImage(path, separatorImage.size());
  separatorWidth = separatorImage.width();
  separatorHeight = separatorImage.height();
  viewport()->update();
}

void CSeparatorHeaderCtrl::DrawSortArrow(QPainter& painter, const QRect& box,
                                         Qt::SortOrder order) const {
  // A small solid triangle at the right of the title's box, pointing up for ascending order.
  constexpr int kArrowWidth = 7;
  constexpr int kArrowHeight = 4;
  constexpr int kArrowRightMargin = 6;
  const int right = box.right() - kArrowRightMargin;
  const int top = box.center().y() - kArrowHeight / 2;
  QPolygon arrow;
  if (order == Qt::AscendingOrder) {
    arrow << QPoint(right - kArrowWidth, top + kArrowHeight) << QPoint(right, top + kArrowHeight)
          << QPoint(right - kArrowWidth / 2, top);
  } else {
    arrow << QPoint(right - kArrowWidth, top) << QPoint(right, top)
          << QPoint(right - kArrowWidth / 2, top + kArrowHeight);
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgba(textColor));
  painter.drawPolygon(arrow);
}

void CSeparatorHeaderCtrl::DrawSections(QPainter& painter, int columnShift, int separatorTop) {
  // Titles are read into a buffer of 256 wide characters, terminator included.
  constexpr int kMaxTitleLength = 255;
  constexpr int kTitleTop = 3;
  const QAbstractItemModel* items = model();
  if (items == nullptr) {
    return;
  }
  const QRect client = viewport()->rect();
  for (int logical = 0; logical < count(); ++logical) {
    // Hidden columns have no width either; neither gets a separator or a title.
    const int width = isSectionHidden(logical) ? 0 : sectionSize(logical);
    if (width == 0) {
      continue;
    }
    const int left = sectionPosition(logical) - columnShift;
    if (!separatorImage.isNull()) {
      DrawSkinImage(painter,
                    QRect(QPoint(left + width - separatorOffset, client.top() + separatorTop),
                          separatorImage.size()),
                    separatorImage, separatorImage2x, separatorImage.rect());
    }
    if (!fontUsable) {
      continue;
    }
    const QString title =
        items->headerData(logical, orientation(), Qt::DisplayRole).toString().left(kMaxTitleLength);
    const QRect box(left - separatorOffset, client.top() + kTitleTop, width,
                    client.height() - kTitleTop);
    painter.save();
    painter.setClipRect(box, Qt::IntersectClip);
    painter.setFont(textFont);
    painter.setPen(QColor::fromRgba(textColor));
    painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, title);
    if (isSortIndicatorShown() && sortIndicatorSection() == logical) {
      DrawSortArrow(painter, box, sortIndicatorOrder());
    }
    painter.restore();
  }
}

void CBasicHeaderCtrl::paintEvent(QPaintEvent*) {
  PaintDoubleBuffered(*viewport(), [this](QPainter& painter) { DrawHeader(painter); });
}
