#pragma once

// The base of the skinned text and image controls: a widget with a property record that paints
// itself completely, double-buffered, never erases its background, and drags its dialog when it
// is pressed inside the dialog's top band.

#include <QWidget>

#include "layout/BasicPropertyFrame.h"

class QFont;
class QImage;
class QMouseEvent;

class CBasicCtrl : public QWidget, public CBasicPropertyFrame {
 public:
  explicit CBasicCtrl(QWidget* parent = nullptr);

  // Draws the control's content into the off-screen buffer; empty here.
  virtual void DrawCtrl(QPainter& painter);
  // A second drawing hook; empty and never called.
  virtual void DrawCtrlExtra(QPainter& painter);
  // Called after every size change; stores the new client rectangle in the record.
  virtual void OnSizeChanged(int sizeType, int cx, int cy);

  // Shows `text` instead of the current text, at the same text offset: repaints and tells
  // assistive technologies, which read a text control by the text it shows (CtrlAccessible.h).
  void ChangeText(const QString& text);

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

// Where a mouse event happened in `widget`, in logical pixels with their fraction. Qt hands a
// widget its mouse position rounded to whole logical pixels, while at a device pixel ratio above 1
// a press lands between them (device row 55 at ratio 2 is logical 27.5, which Qt rounds to 28);
// the position in the window keeps the fraction.
QPointF PressPosition(const QWidget& widget, const QMouseEvent& event);

// Forwards a press at `position` (in `control`'s coordinates) to the dialog drag when it lies
// in the top band of the control's parent. Returns true when a drag started. The position keeps
// its fraction: at a device pixel ratio above 1 a press lands between logical pixels, and one at
// 27.5 lies inside the band, as it does for the dialog itself.
bool DragParentFromBand(QWidget* control, QPointF position, QPoint globalPosition);

// Draws cell `cell` of the record's state strip at the image origin, unscaled in logical pixels
// (from the strip's twin of twice the size on a device with more device pixels).
void DrawStateCell(const CBasicPropertyFrame& record, QPainter& painter, int cell);

// Where the top of a caption's line goes in a control `height` pixels high when the layout puts
// the caption at `top`. A layout places a caption as one em of its font high, sized for the family
// it names; the family that serves here has its own ascent and descent (CJK families reserve much
// more room above and below their glyphs than the families the layouts were written for), so its
// real line is centred on that em-high slot, then moved just as far as it must to lie inside the
// control. A line taller than the control is centred on it: it loses the font's own leading
// evenly above and below, never the glyphs.
int CaptionTop(int top, int height, const QFont& font);

// Draws the record's text as the text controls do: from the text offset (−1 means 1), left-aligned,
// wrapped at word boundaries at the client width less twice the offset, cut by the control's edge.
// The first line's top follows CaptionTop.
void DrawWrappedText(const CBasicPropertyFrame& record, QPainter& painter, const QRect& client);

#include "controls/BasicCtrl.inl"
