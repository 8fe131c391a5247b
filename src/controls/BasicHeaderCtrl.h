#pragma once

// The base of the skinned list headers: a horizontal header with a property record that paints
// itself double-buffered (background steps, then its items) and scales its own height.

#include <QHeaderView>

#include "layout/BasicPropertyFrame.h"

// The header height for a default height and a scale: the single-precision factor multiplied in
// double precision and truncated, so 0.9 turns 20 into 17 (0.9f is just below 0.9).
int ScaledHeaderHeight(int height, float scale);

class CBasicHeaderCtrl : public QHeaderView, public CBasicPropertyFrame {
 public:
  explicit CBasicHeaderCtrl(QWidget* parent = nullptr);

  // The background steps of the paint mode (the header's parent is the list), then the items.
  virtual void DrawHeader(QPainter& painter);
  // Empty here.
  virtual void DrawHeaderItems(QPainter& painter);

  // The header as one paint would put it on the screen.
  QImage RenderBuffer();

  QSize sizeHint() const override;

  // Applied to the header's default height at its next layout.
  float heightScale = 1.0f;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A header that draws, for every column with a width, a separator image at the column's right
// edge and the column's title centred in the column: the part the list headers share.
class CSeparatorHeaderCtrl : public CBasicHeaderCtrl {
 public:
  explicit CSeparatorHeaderCtrl(QWidget* parent = nullptr);

  // Loads the separator and its twin of twice the size (HighDensityPath), if one fits; a file
  // that is not a readable image leaves no separators.
  void SetSeparatorImage(const QString& path);

  // For every section with a width, from `columnShift` pixels left of its position: the
  // separator at (right − separatorOffset, top + separatorTop), the title centred in
  // (left − separatorOffset, top + 3, width, height − 3), wrapped at word boundaries and cut at
  // the column's edges, in the record's font and text colour (no titles without a usable font).
  void DrawSections(QPainter& painter, int columnShift, int separatorTop);
  // The arrow of the column the rows are sorted by, inside its title's BOX.
  void DrawSortArrow(QPainter& painter, const QRect& box, Qt::SortOrder order) const;

  QImage separatorImage;
  // Drawn instead of separatorImage on devices with more than one device pixel to a logical one.
  QImage separatorImage2x;
  int separatorWidth = 0;
  int separatorHeight = 0;
  // Subtracted from a column's right edge for its separator and from its left edge for its title.
  int separatorOffset = 0;
};
