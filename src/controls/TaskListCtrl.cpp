#include "controls/TaskListCtrl.h"

#include <algorithm>
#include <cmath>

#include <QCursor>
#include <QFontMetricsF>
#include <QItemSelection>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimerEvent>
#include <QWheelEvent>

#include "controls/BasicCtrl.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"
#include "platform/FontFamilies.h"

namespace {

// The tip's text sits 3 pixels from its left and top edges and wraps at 250 pixels less both
// side margins.
constexpr int kTipTextOffset = 3;
constexpr int kTipMaxWidth = 250;
// The tip appears this far below the mouse, clear of the cursor.
constexpr int kTipBelowCursor = 21;

// Cell texts are drawn in a band 16 pixels high, 8 pixels below the row's top.
constexpr int kCellTextTop = 8;
constexpr int kCellTextHeight = 16;
// The status icon's place in the row.
constexpr int kIconLeft = 10;
constexpr int kIconTop = 6;
// The column whose texts ending in "%" are progress texts.
constexpr int kProgressColumn = 6;

constexpr QRgb kHeaderGradientTop = 0xFFA9BED3;
constexpr QRgb kHeaderGradientBottom = 0xFFD9EAF6;

// The wrapped lines of `text` laid out `width` pixels wide: words move to the next line as a
// whole, and a word longer than the line breaks inside. Returns the widest line and the total
// height in `size`.
int LayoutWrappedLines(const QFont& font, const QString& text, qreal width, QSizeF* size) {
  QString laidOut = text;
  laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
  QTextLayout layout(laidOut, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  int lines = 0;
  qreal widest = 0;
  qreal height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(std::max<qreal>(width, 1));
    widest = std::max(widest, line.naturalTextWidth());
    height += line.height();
    ++lines;
  }
  layout.endLayout();
  if (size != nullptr) {
    *size = QSizeF(widest, height);
  }
  return lines;
}

// The number a text starts with, read as the C library reads integers: leading blanks, an
// optional sign, then digits; 0 when there is none.
int LeadingNumber(const QString& text) {
  int i = 0;
  while (i < text.size() && text[i].isSpace()) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
    value = std::min<long long>(value * 10 + (text[i].unicode() - u'0'), 1'000'000'000);
  }
  return static_cast<int>(negative ? -value : value);
}

// number × numerator / denominator, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator) {
  return static_cast<int>(
      std::lround(static_cast<double>(number) * numerator / static_cast<double>(denominator)));
}

}  // namespace

QString TrimWithWordEllipsis(const QFontMetricsF& metrics, const QString& text, qreal width) {
  if (metrics.horizontalAdvance(text) <= width) {
    return text;
  }
  const QString ellipsis(QChar(0x2026));
  QString best;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (!text[i].isSpace()) {
      continue;
    }
    QString candidate = text.left(i);
    while (!candidate.isEmpty() && candidate.back().isSpace()) {
      candidate.chop(1);
    }
    if (candidate.isEmpty()) {
      continue;
    }
    candidate += ellipsis;
    if (metrics.horizontalAdvance(candidate) > width) {
      break;
    }
    best = candidate;
  }
  if (!best.isEmpty()) {
    return best;
  }
  return metrics.elidedText(text, Qt::ElideRight, width);
}

bool TextFitsOnOneLine(const QFont& font, const QString& text, int width) {
  return LayoutWrappedLines(font, text, width, nullptr) < 2;
}

// ---------------------------------------------------------------------------------------------

CBasicDrawListCtrl::CBasicDrawListCtrl(QWidget* parent) : CBasicListCtrl(parent) {
  // The list paints every pixel of its client area itself; nothing is erased before.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAttribute(Qt::WA_NoSystemBackground);
}

void CBasicDrawListCtrl::DrawList(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.fillRect(viewport()->rect(), QColor::fromRgba(0xFFFFFFFF));
  DrawListItems(painter);
}

void CBasicDrawListCtrl::DrawListItems(QPainter&) {}

void CBasicDrawListCtrl::OnSizeChanged(int, int cx, int cy) {
  lastClientRect = QRect(0, 0, cx, cy);
}

QImage CBasicDrawListCtrl::RenderBuffer() {
  return RenderToImage(viewport()->size(), [this](QPainter& painter) { DrawList(painter); });
}

void CBasicDrawListCtrl::paintEvent(QPaintEvent*) {
  PaintDoubleBuffered(*viewport(), [this](QPainter& painter) { DrawList(painter); });
}

void CBasicDrawListCtrl::resizeEvent(QResizeEvent* event) {
  CBasicListCtrl::resizeEvent(event);
  OnSizeChanged(0, viewport()->width(), viewport()->height());
}

// ---------------------------------------------------------------------------------------------

CShowTaskHeaderCtrl::CShowTaskHeaderCtrl(QWidget* parent) : CSeparatorHeaderCtrl(parent) {}

void CShowTaskHeaderCtrl::DrawHeaderItems(QPainter& painter) {
  const QRect client = viewport()->rect();
  QLinearGradient gradient(client.left(), client.top(), client.left(),
                           client.top() + client.height());
  gradient.setColorAt(0, QColor::fromRgba(kHeaderGradientTop));
  gradient.setColorAt(1, QColor::fromRgba(kHeaderGradientBottom));
  gradient.setSpread(QGradient::RepeatSpread);
  painter.fillRect(client, gradient);

  // The separators hang one pixel above the header's top edge.
  DrawSections(painter, 0, -1);
}

void CShowTaskHeaderCtrl::mouseMoveEvent(QMouseEvent* event) {
  mouseTracking = 1;
  CBasicHeaderCtrl::mouseMoveEvent(event);
}

bool CShowTaskHeaderCtrl::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) {
    mouseTracking = 0;
  }
  return CBasicHeaderCtrl::viewportEvent(event);
}

// ---------------------------------------------------------------------------------------------

CShowTaskListCtrl::CShowTaskListCtrl(QWidget* parent) : CBasicDrawListCtrl(parent) {
  setObjectName(QString::fromUtf16(kShowTaskListCtrlClass));

  header_ = new CShowTaskHeaderCtrl(this);
  setHorizontalHeader(header_);
  verticalHeader()->hide();
  // The list scrolls with its own bars; the built-in ones stay off and at 0.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAutoScroll(false);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_Hover);

  const QString arial = ResolveFontFamily(QStringLiteral("Arial"));
  if (!arial.isEmpty()) {
    listFont.setFamilies({arial});
  }
  listFont.setPixelSize(11);

  verticalBar_ = new QScrollBar(Qt::Vertical, viewport());
  horizontalBar_ = new QScrollBar(Qt::Horizontal, viewport());
  SetCtrlId(verticalBar_, kTaskListVScrollId);
  SetCtrlId(horizontalBar_, kTaskListHScrollId);
  for (QScrollBar* bar : {verticalBar_, horizontalBar_}) {
    // Positions are pixels: a line step moves one pixel, a page step one page.
    bar->setSingleStep(1);
    bar->setRange(0, 0);
    bar->hide();
    // The wheel scrolls the list by its own rule also when it turns over a bar.
    bar->installEventFilter(this);
  }
  connect(verticalBar_, &QScrollBar::valueChanged, this, [this] { InvalidateItemArea(); });
  connect(horizontalBar_, &QScrollBar::valueChanged, this, [this](int position) {
    header_->separatorOffset = position;
    header_->setOffset(position);
    header_->viewport()->repaint();
    InvalidateItemArea();
  });

  tip_ = new CShowTextCtrl(viewport());
  SetCtrlId(tip_, kTaskListTipId);
  tip_->setGeometry(0, 0, 10, 10);
  tip_->paintMode = kPaintFill | kPaintBorder;
  tip_->bgColor = tipBackColour;
  tip_->textColor = tipTextColour | 0xFF000000u;
  tip_->hide();

  // Rows, columns and widths change the scrollable size; the bars follow without losing their
  // place (a size change starts them again at 0).
  const auto contentChanged = [this] {
    LayoutScrollBars(true);
    viewport()->update();
  };
  const QAbstractItemModel* items = model();
  connect(items, &QAbstractItemModel::rowsInserted, this, contentChanged);
  connect(items, &QAbstractItemModel::rowsRemoved, this, contentChanged);
  connect(items, &QAbstractItemModel::columnsInserted, this, contentChanged);
  connect(items, &QAbstractItemModel::columnsRemoved, this, contentChanged);
  connect(items, &QAbstractItemModel::modelReset, this, contentChanged);
  connect(items, &QAbstractItemModel::layoutChanged, this, contentChanged);
  connect(items, &QAbstractItemModel::dataChanged, this, [this] { viewport()->update(); });
  connect(header_, &QHeaderView::sectionResized, this, contentChanged);

  updateGeometries();
}

CShowTaskListCtrl::~CShowTaskListCtrl() {
  verticalBar_->removeEventFilter(this);
  horizontalBar_->removeEventFilter(this);
  disconnect(model(), nullptr, this, nullptr);
  disconnect(header_, nullptr, this, nullptr);
}

int CShowTaskListCtrl::StatusIconCell(const QString& status, const QString& subItem14,
                                      const QString& subItem16) {
  if (status == u"R") {
    return subItem16 == u"1" ? 4 : 0;
  }
  static constexpr struct {
    char16_t status;
    int cell;
  } kCells[] = {{u'W', 2}, {u'C', 5}, {u'P', 6}, {u'E', 3}, {u'S', 1}, {u'J', 4}, {u'D', 3}};
  if (status.size() == 1) {
    for (const auto& entry : kCells) {
      if (status[0] == QChar(entry.status)) {
        return entry.cell;
      }
    }
  }
  return subItem14.isEmpty() ? -1 : 3;
}

QString CShowTaskListCtrl::SubItemText(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
    return QString();
  }
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

QString CShowTaskListCtrl::CellDisplayText(int row, int column) const {
  if (column == kProgressColumn && SubItemText(row, 2) == u"J") {
    return SubItemText(row, 5) + QLatin1Char('%');
  }
  return SubItemText(row, column);
}

int CShowTaskListCtrl::SingleSelectedRow() const {
  const QItemSelectionModel* selection = selectionModel();
  if (selection == nullptr) {
    return -1;
  }
  // The ranges of one selected row all lie on that row, however the model split them.
  int row = -1;
  for (const QItemSelectionRange& range : selection->selection()) {
    if (range.top() != range.bottom() || (row != -1 && row != range.top())) {
      return -1;
    }
    row = range.top();
  }
  return row != -1 && IsRowSelected(row) ? row : -1;
}

bool CShowTaskListCtrl::IsRowSelected(int row) const {
  return selectionModel() != nullptr && row >= 0 && row < rowCount() && columnCount() > 0 &&
         selectionModel()->isRowSelected(row, QModelIndex());
}

void CShowTaskListCtrl::SetRowSelected(int row, bool selected) {
  if (row < 0 || row >= rowCount() || columnCount() == 0) {
    return;
  }
  selectionModel()->select(model()->index(row, 0), (selected ? QItemSelectionModel::Select
                                                             : QItemSelectionModel::Deselect) |
                                                       QItemSelectionModel::Rows);
}

void CShowTaskListCtrl::ClearSelection() { selectionModel()->clearSelection(); }

int CShowTaskListCtrl::RowContentTop(int row, int single) const {
  if (single < 0 || row <= single) {
    return row * rowHeight;
  }
  return selectedRowHeight + (row - 1) * rowHeight;
}

int CShowTaskListCtrl::RowContentHeight(int row, int single) const {
  return row == single ? selectedRowHeight : rowHeight;
}

QRect CShowTaskListCtrl::RowRect(int row) const {
  const int single = SingleSelectedRow();
  return QRect(0, RowContentTop(row, single) + headerHeight - VerticalPosition(),
               viewport()->width(), RowContentHeight(row, single));
}

int CShowTaskListCtrl::RowHitTest(QPoint point) const {
  if (rowHeight <= 0) {
    return -1;
  }
  const int y = point.y() + VerticalPosition() - headerHeight;
  // A point above the first row (under the header) is on no row; integer division alone would
  // take the last 29 pixels above it for row 0.
  if (y < 0) {
    return -1;
  }
  const int single = SingleSelectedRow();
  int row = 0;
  if (single < 0) {
    row = y / rowHeight;
  } else if (y >= selectedRowHeight + rowHeight * single) {
    row = (rowHeight + y - selectedRowHeight) / rowHeight;
  } else if (y < rowHeight * single) {
    row = y / rowHeight;
  } else {
    row = single;
  }
  return row < rowCount() ? row : -1;
}

int CShowTaskListCtrl::ColumnHitTest(int x) const {
  int start = -HorizontalPosition();
  for (int column = 0; column < columnCount(); ++column) {
    const int width = columnWidth(column);
    if (x >= start && x < start + width) {
      return column;
    }
    start += width;
  }
  return -1;
}

QRect CShowTaskListCtrl::ItemAreaRect() const {
  const int right = viewport()->width() - (verticalBar_->isHidden() ? 0 : vScrollWidth);
  const int bottom = viewport()->height() - (horizontalBar_->isHidden() ? 0 : hScrollHeight);
  return QRect(0, headerHeight, std::max(0, right), std::max(0, bottom - headerHeight));
}

int CShowTaskListCtrl::ContentHeight() const {
  const int rows = rowCount();
  if (rows > 0 && SingleSelectedRow() >= 0) {
    return (rows - 1) * rowHeight + selectedRowHeight;
  }
  return rows * rowHeight;
}

int CShowTaskListCtrl::ContentWidth() const {
  int width = 0;
  for (int column = 0; column < columnCount(); ++column) {
    width += columnWidth(column);
  }
  return width;
}

void CShowTaskListCtrl::UpdateScrollBars() { LayoutScrollBars(false); }

void CShowTaskListCtrl::LayoutScrollBars(bool keepPositions) {
  const int width = viewport()->width();
  const int height = viewport()->height();
  bool showVertical = false;
  bool showHorizontal = false;
  int contentHeight = 0;
  int contentWidth = 0;
  if (rowCount() > 0) {
    contentHeight = ContentHeight();
    contentWidth = ContentWidth();
    // 1: the content needs the bar anyway; 2: it needs it only if the other bar takes its room;
    // 3: it fits even then.
    const int itemHeight = height - headerHeight;
    const int verticalNeed = contentHeight > itemHeight                   ? 1
                             : contentHeight > itemHeight - hScrollHeight ? 2
                                                                          : 3;
    const int horizontalNeed = contentWidth > width                   ? 1
                               : contentWidth <= width - vScrollWidth ? 3
                                                                      : 2;
    showVertical = verticalNeed == 1 || (verticalNeed == 2 && horizontalNeed == 1);
    showHorizontal = horizontalNeed == 1 || (horizontalNeed == 2 && verticalNeed == 1);
  }
  const auto configure = [keepPositions](QScrollBar* bar, int content, int page, bool show) {
    const int position = keepPositions && show ? bar->value() : 0;
    page = std::max(page, 0);
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, content - page));
    bar->setValue(position);
  };
  configure(verticalBar_, contentHeight, height - hScrollHeight - headerHeight, showVertical);
  configure(horizontalBar_, contentWidth, width - vScrollWidth, showHorizontal);

  verticalBar_->setGeometry(
      width - vScrollWidth, headerHeight, vScrollWidth,
      std::max(0, height - headerHeight - (showHorizontal ? hScrollHeight : 0)));
  horizontalBar_->setGeometry(0, height - hScrollHeight,
                              std::max(0, width - (showVertical ? vScrollWidth : 0)),
                              hScrollHeight);
  verticalBar_->setVisible(showVertical);
  horizontalBar_->setVisible(showHorizontal);
}

void CShowTaskListCtrl::ScrollVertically(int pixels) {
  verticalBar_->setValue(verticalBar_->value() + pixels);
}

void CShowTaskListCtrl::ScrollHorizontally(int pixels) {
  horizontalBar_->setValue(horizontalBar_->value() + pixels);
}

int CShowTaskListCtrl::VerticalPosition() const {
  return verticalBar_ != nullptr ? verticalBar_->value() : 0;
}

int CShowTaskListCtrl::HorizontalPosition() const {
  return horizontalBar_ != nullptr ? horizontalBar_->value() : 0;
}

void CShowTaskListCtrl::InvalidateItemArea() { viewport()->update(ItemAreaRect()); }

// --- Drawing ---------------------------------------------------------------------------------

void CShowTaskListCtrl::DrawList(QPainter& painter) {
  PaintBackground(parentWidget(), viewport(), painter);
  DrawListItems(painter);
  // What the list drew under its header becomes the header's see-through background.
  if (painter.device() != nullptr && painter.device()->devType() == QInternal::Image) {
    const auto* buffer = static_cast<const QImage*>(painter.device());
    const QRect under = header_->geometry().translated(-viewport()->geometry().topLeft());
    const qreal ratio = buffer->devicePixelRatio();
    QImage copy = buffer->copy(QRect(under.topLeft() * ratio, under.size() * ratio));
    copy.setDevicePixelRatio(ratio);
    header_->cachedBackground = std::move(copy);
  }
}

void CShowTaskListCtrl::DrawListItems(QPainter& painter) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  const int width = viewport()->width();
  const int height = viewport()->height();
  painter.fillRect(QRect(0, headerHeight, width, height - headerHeight), QColor::fromRgba(bgColor));

  const int single = SingleSelectedRow();
  const int verticalPosition = VerticalPosition();
  const int horizontalPosition = HorizontalPosition();
  const QFontMetricsF metrics(textFont);
  const QPen gridPen(QColor::fromRgba(gridLineColour), 1);
  const QPen textPen(QColor::fromRgba(textColor));
  for (int row = 0; row < rowCount(); ++row) {
    const int top = RowContentTop(row, single) + headerHeight - verticalPosition;
    const int rowHeightHere = RowContentHeight(row, single);
    if (top - 1 > height) {
      break;  // This row and all after it lie below the client area.
    }
    if (top + rowHeightHere < 0) {
      continue;
    }
    if (IsRowSelected(row)) {
      painter.fillRect(QRect(0, top, width, rowHeightHere - 1),
                       QColor::fromRgba(selectedFillColour));
    }
    painter.setPen(gridPen);
    painter.drawLine(0, top - 1, width, top - 1);

    painter.setPen(textPen);
    painter.setFont(textFont);
    int cellLeft = -horizontalPosition;
    for (int column = 0; column < columnCount(); ++column) {
      const int cellWidth = columnWidth(column);
      if (cellWidth == 0) {
        continue;
      }
      const QString text = CellDisplayText(row, column);
      if (column == kProgressColumn && text.endsWith(QLatin1Char('%'))) {
        DrawProgress(painter, text, cellLeft, cellWidth, top);
      } else if (fontUsable) {
        painter.drawText(QRectF(cellLeft, top + kCellTextTop, cellWidth, kCellTextHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         TrimWithWordEllipsis(metrics, text, cellWidth));
      }
      cellLeft += cellWidth;
    }

    const int cell =
        StatusIconCell(SubItemText(row, 2), SubItemText(row, 14), SubItemText(row, 16));
    const QRect source = StateCellRect(cell);
    if (!source.isEmpty()) {
      DrawBGImage(painter,
                  QRect(QPoint(-horizontalPosition + kIconLeft, top + kIconTop), source.size()),
                  source);
    }
  }

  if (bandActive != 0) {
    painter.setPen(QPen(QColor::fromRgba(bandBorderColour), 1));
    painter.setBrush(QColor::fromRgba(bandFillColour));
    painter.drawRect(BandRect());
  }
  painter.restore();
}

void CShowTaskListCtrl::DrawProgress(QPainter& painter, const QString& text, int cellLeft,
                                     int cellWidth, int rowTop) {
  if (progressOffsetX >= cellWidth) {
    return;
  }
  const int room = cellWidth - progressOffsetX;
  const int barWidth = std::min(progressWidth, room);
  const QPoint barOrigin(cellLeft + progressOffsetX, rowTop + progressOffsetY);
  if (progressBackground && !progressBackground->isNull()) {
    painter.drawImage(barOrigin, *progressBackground, QRect(0, 0, barWidth, progressHeight));
    const int filled = std::min(MulDiv(LeadingNumber(text), progressWidth, 100), room);
    if (progressFill && !progressFill->isNull() && filled > 0) {
      painter.drawImage(barOrigin, *progressFill, QRect(0, 0, filled, progressHeight));
    }
  }
  // A bar without size leaves only its origin: the text is centred on that point, unclipped.
  int flags = Qt::AlignCenter;
  if (barWidth <= 0 || progressHeight <= 0) {
    flags |= Qt::TextDontClip;
  }
  painter.save();
  painter.setFont(listFont);
  painter.drawText(QRectF(barOrigin, QSizeF(std::max(barWidth, 0), std::max(progressHeight, 0))),
                   flags, text);
  painter.restore();
}

void CShowTaskListCtrl::OnSizeChanged(int sizeType, int cx, int cy) {
  UpdateScrollBars();
  InvalidateItemArea();
  CBasicDrawListCtrl::OnSizeChanged(sizeType, cx, cy);
}

// --- Layout of the table's own parts ---------------------------------------------------------

void CShowTaskListCtrl::updateGeometries() {
  // The header lies over the top of the client area, which the list draws whole; the table's own
  // layout would put the items below the header instead, so it is not used.
  setViewportMargins(0, 0, 0, 0);
  if (header_ != nullptr) {
    const QRect client = viewport()->geometry();
    header_->setGeometry(client.left(), client.top(), client.width(), headerHeight);
    header_->raise();
  }
  QAbstractItemView::updateGeometries();
}

// The list draws every row at its own scroll position, so the table never scrolls its pixels
// (that would also move the bars and the tip, which are children of the client area).
void CShowTaskListCtrl::scrollContentsBy(int, int) {}

void CShowTaskListCtrl::scrollTo(const QModelIndex&, ScrollHint) {}

void CShowTaskListCtrl::selectionChanged(const QItemSelection& selected,
                                         const QItemSelection& deselected) {
  CBasicDrawListCtrl::selectionChanged(selected, deselected);
  // A single selected row may be taller than the others, which changes the content height.
  LayoutScrollBars(true);
  viewport()->update();
}

// --- Mouse -----------------------------------------------------------------------------------

bool CShowTaskListCtrl::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) {
    OnMouseLeave();
  }
  return CBasicDrawListCtrl::viewportEvent(event);
}

bool CShowTaskListCtrl::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == verticalBar_ || watched == horizontalBar_) && event->type() == QEvent::Wheel) {
    OnWheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
    return true;
  }
  return CBasicDrawListCtrl::eventFilter(watched, event);
}

void CShowTaskListCtrl::OnMouseLeave() {
  mouseX = mouseY = -1;
  tipPointX = tipPointY = -1;
  mouseTracking = 0;
  InvalidateItemArea();
}

void CShowTaskListCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  mouseX = point.x();
  mouseY = point.y();
  mouseTracking = 1;
  UpdateHoverTip(point);
  InvalidateItemArea();
  event->accept();
}

void CShowTaskListCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  // The band is drawn up to the last known mouse position, which is the press until a move.
  mouseX = point.x();
  mouseY = point.y();
  if (event->button() == Qt::LeftButton) {
    SelectionClick(point, event->modifiers());
  } else if (event->button() == Qt::RightButton &&
             (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) == 0) {
    const int row = RowHitTest(point);
    if (row == -1 || !IsRowSelected(row)) {
      ClearSelection();
      SetRowSelected(row, true);
      InvalidateItemArea();
    }
  }
  event->accept();
}

void CShowTaskListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint point = event->position().toPoint();
    mouseX = point.x();
    mouseY = point.y();
    if (bandActive != 0) {
      FinishBand();
    }
  } else if (event->button() == Qt::RightButton) {
    SendCtrlMessage(this, kTaskListRightButtonMessage, GetCtrlId(this), 0);
  }
  event->accept();
}

// The second press of a double click selects nothing more; editing and activation stay off.
void CShowTaskListCtrl::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void CShowTaskListCtrl::SelectionClick(QPoint point, Qt::KeyboardModifiers modifiers) {
  const int row = RowHitTest(point);
  if (row == -1) {
    ClearSelection();
    InvalidateItemArea();
    bandActive = 1;
    bandOriginX = point.x();
    bandOriginY = point.y();
    return;
  }
  bandActive = 0;
  if ((modifiers & Qt::ShiftModifier) != 0) {
    if (anchorRow == -1) {
      anchorRow = row;
    }
    const int first = std::clamp(std::min(anchorRow, row), 0, rowCount() - 1);
    const int last = std::clamp(std::max(anchorRow, row), 0, rowCount() - 1);
    selectionModel()->select(QItemSelection(model()->index(first, 0), model()->index(last, 0)),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else if ((modifiers & Qt::ControlModifier) != 0) {
    SetRowSelected(row, !IsRowSelected(row));
    anchorRow = row;
  } else {
    ClearSelection();
    SetRowSelected(row, true);
    anchorRow = row;
  }
  InvalidateItemArea();
}

QRect CShowTaskListCtrl::BandRect() const {
  const int x = std::clamp(mouseX, 0, viewport()->width());
  const int y = std::clamp(mouseY, headerHeight, std::max(headerHeight, viewport()->height()));
  const int left = std::min(bandOriginX, x);
  const int top = std::min(bandOriginY, y);
  return QRect(left, top, std::max(bandOriginX, x) - left, std::max(bandOriginY, y) - top);
}

void CShowTaskListCtrl::FinishBand() {
  const int top = BandRect().top();
  bandActive = 0;
  const int rows = rowCount();
  for (int row = 0; row < rows; ++row) {
    if (headerHeight + (row + 1) * rowHeight - VerticalPosition() > top) {
      selectionModel()->select(QItemSelection(model()->index(row, 0), model()->index(rows - 1, 0)),
                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
      break;
    }
  }
  InvalidateItemArea();
}

void CShowTaskListCtrl::wheelEvent(QWheelEvent* event) {
  OnWheel(event->angleDelta().y());
  event->accept();
}

void CShowTaskListCtrl::OnWheel(int delta) {
  if (!verticalBar_->isHidden()) {
    ScrollVertically(-delta);
  } else if (!horizontalBar_->isHidden()) {
    ScrollHorizontally(-delta);
  }
  HideTip();
  InvalidateItemArea();
}

// --- Hover tip -------------------------------------------------------------------------------

QPoint CShowTaskListCtrl::CursorPosition() const {
  return viewport()->mapFromGlobal(QCursor::pos());
}

void CShowTaskListCtrl::UpdateHoverTip(QPoint point) {
  const int row = RowHitTest(point);
  const int column = ColumnHitTest(point.x());
  if (row == -1 || column == -1) {
    if (tipVisible != 0) {
      tipShownForCell = 0;
      HideTip();
    }
    return;
  }
  if (row != hoverRow || column != hoverColumn) {
    hoverRow = row;
    hoverColumn = column;
    tipShownForCell = 0;
    HideTip();
  }
  if (tipVisible != 0) {
    StartTimer(kTipHideTimer, kTipHideMs);
  } else {
    tipPointX = point.x();
    tipPointY = point.y();
    StartTimer(kTipDelayTimer, kTipDelayMs);
  }
}

void CShowTaskListCtrl::OnTimer(int id) {
  switch (id) {
    case kTipDelayTimer: {
      KillTimer(kTipDelayTimer);
      const QPoint tipPoint(tipPointX, tipPointY);
      if (CursorPosition() == tipPoint && tipShownForCell == 0) {
        tipVisible = 1;
        tipShownForCell = 1;
        ShowTip(RowHitTest(tipPoint), ColumnHitTest(tipPoint.x()), tipPoint);
        StartTimer(kTipHideTimer, kTipHideMs);
        StartTimer(kTipWatchTimer, kTipWatchMs);
      }
      break;
    }
    case kTipHideTimer:
      HideTip();
      break;
    case kTipWatchTimer: {
      const QPoint cursor = CursorPosition();
      if (!viewport()->rect().contains(cursor) || RowHitTest(cursor) == -1) {
        HideTip();
      }
      break;
    }
    default:
      break;
  }
}

bool CShowTaskListCtrl::IsTimerActive(int id) const {
  return id > 0 && id < 4 && timers_[id].isActive();
}

void CShowTaskListCtrl::StartTimer(int id, int milliseconds) {
  timers_[id].start(milliseconds, this);
}

void CShowTaskListCtrl::KillTimer(int id) { timers_[id].stop(); }

void CShowTaskListCtrl::timerEvent(QTimerEvent* event) {
  for (int id = 1; id < 4; ++id) {
    if (timers_[id].timerId() == event->timerId()) {
      OnTimer(id);
      return;
    }
  }
  CBasicDrawListCtrl::timerEvent(event);
}

void CShowTaskListCtrl::ShowTip(int row, int column, QPoint point) {
  if (row < 0 || column < 0) {
    return;
  }
  const QString text = SubItemText(row, column);
  if (TextFitsOnOneLine(listFont, text, columnWidth(column))) {
    return;
  }
  tip_->SetText(text, kTipTextOffset, kTipTextOffset);
  QSizeF measured;
  LayoutWrappedLines(tip_->textFont, text, kTipMaxWidth - 2 * kTipTextOffset, &measured);
  const int width = static_cast<int>(2 * kTipTextOffset + measured.width() + 1);
  const int height = static_cast<int>(kTipTextOffset + measured.height());
  tip_->setGeometry(point.x(), point.y() + kTipBelowCursor, width, height);
  tip_->show();
  tip_->raise();
  tip_->update();
}

void CShowTaskListCtrl::HideTip() {
  tipVisible = 0;
  KillTimer(kTipWatchTimer);
  KillTimer(kTipHideTimer);
  tip_->hide();
  InvalidateItemArea();
}
