#pragma once

// The self-drawn task list: a report list whose rows, cells, status icons, progress texts,
// scroll bars, selection and rubber band are all handled here, while the rows, the cell texts,
// the column widths and the selection state stay in the underlying table. Its header is drawn
// with a vertical gradient, and a hover tip shows the full text of a cell that is too narrow.

#include <optional>

#include <QBasicTimer>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>

#include "controls/BasicHeaderCtrl.h"
#include "controls/BasicListCtrl.h"

class QFontMetricsF;
class QScrollBar;
class CShowTextCtrl;

inline constexpr char16_t kShowTaskListCtrlClass[] = u"ShowTaskListCtrl";

// Control identifiers of the task list's own children.
inline constexpr int kTaskListVScrollId = 1001;
inline constexpr int kTaskListHScrollId = 1002;
inline constexpr int kTaskListTipId = 1003;

// Identifiers and periods of the hover tip timers.
inline constexpr int kTipDelayTimer = 1;  // the mouse rested long enough: show the tip
inline constexpr int kTipHideTimer = 2;   // the tip has been shown long enough: hide it
inline constexpr int kTipWatchTimer = 3;  // the mouse left the rows: hide the tip
inline constexpr int kTipDelayMs = 500;
inline constexpr int kTipHideMs = 5000;
inline constexpr int kTipWatchMs = 100;

// `text` shortened to fit `width` on one line: whole words followed by an ellipsis, or single
// characters followed by an ellipsis when not even the first word fits. A text that fits is
// returned as it is.
QString TrimWithWordEllipsis(const QFontMetricsF& metrics, const QString& text, qreal width);

// True when `text`, laid out with `font` in a box `width` pixels wide, stays on one line: its
// wrapped height is below twice the font's height. Words longer than the box break inside.
bool TextFitsOnOneLine(const QFont& font, const QString& text, int width);

// A list that paints its whole client area (the viewport) double-buffered through DrawList.
class CBasicDrawListCtrl : public CBasicListCtrl {
 public:
  explicit CBasicDrawListCtrl(QWidget* parent = nullptr);

  // Fills the client area with opaque white, then draws the items.
  virtual void DrawList(QPainter& painter);
  // Empty here.
  virtual void DrawListItems(QPainter& painter);
  // Called after every size change of the client area; stores it in the record.
  virtual void OnSizeChanged(int sizeType, int cx, int cy);

  // The client area as one paint would put it on the screen.
  QImage RenderBuffer();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

// The task list's header: a vertical gradient, a separator at the right edge of every column and
// the centred titles, all shifted left by the list's horizontal scroll position.
class CShowTaskHeaderCtrl : public CSeparatorHeaderCtrl {
 public:
  explicit CShowTaskHeaderCtrl(QWidget* parent = nullptr);

  // The separator offset holds the list's horizontal scroll position.
  void DrawHeaderItems(QPainter& painter) override;

  // Set while the mouse is over the header; it has no visible effect.
  int mouseTracking = 0;

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;
};

class CShowTaskListCtrl : public CBasicDrawListCtrl {
 public:
  explicit CShowTaskListCtrl(QWidget* parent = nullptr);
  ~CShowTaskListCtrl() override;

  void DrawList(QPainter& painter) override;
  void DrawListItems(QPainter& painter) override;
  void OnSizeChanged(int sizeType, int cx, int cy) override;

  // The cell of the state strip that shows a row's status (subitem 2), given its subitems 14
  // and 16; −1 for no icon.
  static int StatusIconCell(const QString& status, const QString& subItem14,
                            const QString& subItem16);

  // The text of subitem `column` of `row`; empty when the row, the column or the cell is missing.
  QString SubItemText(int row, int column) const;
  // The text a cell shows: the subitem text, except that column 6 of a row whose status is "J"
  // shows subitem 5 with a percent sign appended.
  QString CellDisplayText(int row, int column) const;

  // The only selected row, or −1 when none or several rows are selected.
  int SingleSelectedRow() const;
  bool IsRowSelected(int row) const;
  void SetRowSelected(int row, bool selected);

  // Row geometry in client coordinates: the full client width, the row's top shifted by the
  // header and the vertical scroll position; the single selected row is selectedRowHeight high.
  QRect RowRect(int row) const;
  // The row at client point `point`, or −1 when it lies below the last row.
  int RowHitTest(QPoint point) const;
  // The column at client x `x`, or −1 when no column covers it.
  int ColumnHitTest(int x) const;
  // The client area without the header band and without the visible scroll bars.
  QRect ItemAreaRect() const;

  // Recomputes range, page and visibility of the own scroll bars for the current size and
  // content, and moves both positions back to 0.
  void UpdateScrollBars();
  // Scrolls by n pixels, clamped to the scrollable range.
  void ScrollVertically(int pixels);
  void ScrollHorizontally(int pixels);
  int VerticalPosition() const;
  int HorizontalPosition() const;

  // Runs the hover tip timer `id` (1, 2 or 3); the timers land here, and tests call it directly.
  void OnTimer(int id);
  bool IsTimerActive(int id) const;

  CShowTaskHeaderCtrl* header() const { return header_; }
  CShowTextCtrl* hoverTip() const { return tip_; }
  QScrollBar* verticalBar() const { return verticalBar_; }
  QScrollBar* horizontalBar() const { return horizontalBar_; }

  int tipVisible = 0;
  int tipShownForCell = 0;
  int hoverRow = -1;
  int hoverColumn = -1;
  int tipPointX = -1;
  int tipPointY = -1;
  int rowHeight = 30;
  int selectedRowHeight = 30;
  int headerHeight = 20;
  int vScrollWidth = 16;
  int hScrollHeight = 16;
  int mouseX = -1;
  int mouseY = -1;
  int mouseTracking = 0;
  // The font of the progress text, also used to decide whether a cell needs the tip.
  QFont listFont;
  // Nothing sets the progress images or the progress rectangle; without them only the progress
  // text is drawn.
  std::optional<QImage> progressBackground;
  std::optional<QImage> progressFill;
  int progressOffsetX = 0;
  int progressOffsetY = 0;
  int progressWidth = 0;
  int progressHeight = 0;
  QRgb selectedFillColour = 0xFFE8F5FF;
  QRgb gridLineColour = 0xFFF4F4F6;
  QRgb bandFillColour = 0x96DAE9FD;
  QRgb bandBorderColour = 0x96ADCFF8;
  QRgb tipBackColour = 0xFFFEF5BD;
  QRgb tipTextColour = 0xFF9B6912;
  int anchorRow = -1;
  int bandOriginX = -1;
  int bandOriginY = -1;
  int bandActive = 0;

 protected:
  // Where the cursor is now, in client coordinates. Tests override it to hold the cursor still.
  virtual QPoint CursorPosition() const;

  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void scrollTo(const QModelIndex& index, ScrollHint hint) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  bool viewportEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  // Content coordinates of a row: its top and its height.
  int RowContentTop(int row, int single) const;
  int RowContentHeight(int row, int single) const;
  int ContentHeight() const;
  int ContentWidth() const;
  // Places and sizes the bars; `keepPositions` keeps the current positions (clamped) instead of
  // starting again at 0.
  void LayoutScrollBars(bool keepPositions);
  void SelectionClick(QPoint point, Qt::KeyboardModifiers modifiers);
  void FinishBand();
  QRect BandRect() const;
  void InvalidateItemArea();
  void OnMouseLeave();
  void OnWheel(int delta);
  void UpdateHoverTip(QPoint point);
  void ShowTip(int row, int column, QPoint point);
  void HideTip();
  void StartTimer(int id, int milliseconds);
  void KillTimer(int id);
  void DrawProgress(QPainter& painter, const QString& text, int cellLeft, int cellWidth,
                    int rowTop);
  void ClearSelection();

  CShowTaskHeaderCtrl* header_ = nullptr;
  CShowTextCtrl* tip_ = nullptr;
  QScrollBar* verticalBar_ = nullptr;
  QScrollBar* horizontalBar_ = nullptr;
  QBasicTimer timers_[4];
};
