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
