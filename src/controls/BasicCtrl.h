#pragma once

// The base of the skinned text and image controls: a widget with a property record that paints
// itself completely, double-buffered, never erases its background, and drags its dialog when it
// is pressed inside the dialog's top band.

#include <QWidget>

#include "layout/BasicPropertyFrame.h"

class QImage;

class CBasicCtrl : public QWidget, public CBasicPropertyFrame {
 public:
  explicit CBasicCtrl(QWidget* parent = nullptr);

  // Draws the control's content into the off-screen buffer; empty here.
  virtual void DrawCtrl(QPainter& painter);
  // A second drawing hook; empty and never called.
  virtual void DrawCtrlExtra(QPainter& painter);
  // Called after every size change; stores the new client rectangle in the record.
  virtual void OnSizeChanged(int sizeType, int cx, int cy);

  // The whole control as one paint would put it on the screen.
  QImage RenderBuffer();

  // Set while the control tracks the mouse for leave and hover; cleared when the mouse leaves.
  int mouseTracking = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

// The double-buffered paint that every skinned window shares: `draw` paints the whole client
// area into an image of the widget's size (device pixel ratio included), which is then put on
// the widget in one piece.
template <typename Draw>
void PaintDoubleBuffered(QWidget& widget, Draw&& draw);

// What `draw` paints into a fresh black buffer of `size` logical pixels at `ratio`.
template <typename Draw>
QImage DrawBuffer(QSize size, qreal ratio, Draw&& draw);

// What `draw` paints into a fresh buffer of `size` (device pixel ratio 1): the RenderBuffer() of
// the skinned windows, which tests and previews compare with what reaches the screen.
template <typename Draw>
QImage RenderToImage(QSize size, Draw&& draw);

// Forwards a press at `position` (in `control`'s coordinates) to the dialog drag when it lies
// in the top band of the control's parent. Returns true when a drag started.
bool DragParentFromBand(QWidget* control, QPoint position, QPoint globalPosition);

// Draws cell `cell` of the record's state strip at the image origin, unscaled.
void DrawStateCell(const CBasicPropertyFrame& record, QPainter& painter, int cell);

// Draws the record's text as the text controls do: from the text offset (−1 means 1), left-aligned,
// wrapped at word boundaries at the client width less twice the offset, cut by the control's edge.
void DrawWrappedText(const CBasicPropertyFrame& record, QPainter& painter, const QRect& client);

#include "controls/BasicCtrl.inl"
