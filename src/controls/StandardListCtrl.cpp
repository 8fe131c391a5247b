#include "controls/StandardListCtrl.h"

#include <algorithm>

#include <QContextMenuEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include "controls/CtrlNotify.h"
#include "controls/FocusCue.h"
#include "layout/LayoutValues.h"

namespace {

// The header's background image keeps a margin that is never shown: only its top-left part,
// without the rightmost 50 columns and the bottom 5 rows, is stretched over the header.
constexpr int kBackgroundUnusedRight = 50;
constexpr int kBackgroundUnusedBottom = 5;
// The separator hangs from this many pixels below the header's top.
constexpr int kSeparatorTop = 4;
// A desktop list view's rows are a few pixels taller than a line of their font.
constexpr int kRowPadding = 4;

Qt::Alignment CellAlignment(CStandardListCtrl::ColumnAlign align) {
  switch (align) {
    case CStandardListCtrl::ColumnAlign::Center:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case CStandardListCtrl::ColumnAlign::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case CStandardListCtrl::ColumnAlign::Left:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// Draws the cells as Qt does, without the style's focus frame around the current cell: the list
// draws its own ring around the whole row, and a second one around a single cell would only
// confuse.
class RowFocusDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~QStyle::State_HasFocus;
  }
};

// Roles of the data a cell keeps besides its text.
constexpr int kSortKeyRole = Qt::UserRole;
constexpr int kRowToolTipRole = Qt::UserRole + 1;
constexpr int kGreyedRole = Qt::UserRole + 2;

// The text of a device that has gone: the rows' grey of a desktop list's disabled items.
const QColor kGreyedText(0x8c, 0x8c, 0x8c);

// A cell that sorts by its sort key when it has one, by its text otherwise.
class ListCell : public QTableWidgetItem {
 public:
  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant mine = data(kSortKeyRole);
    const QVariant theirs = other.data(kSortKeyRole);
    if (mine.isValid() && theirs.isValid()) {
      return mine.toString() < theirs.toString();
    }
    return text() < other.text();
  }
};

bool IsEnterKey(const QKeyEvent& event) {
  return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
         (event.modifiers() & ~Qt::KeypadModifier) == 0;
}

}  // namespace

CStandardHeaderCtrl::CStandardHeaderCtrl(QWidget* parent) : CSeparatorHeaderCtrl(parent) {
  // A click on a title neither sorts nor selects the column, and columns stay in their order,
  // so logical and visual indexes agree. A column may be dragged down to zero width.
  setSectionsClickable(false);
  setHighlightSections(false);
  setSectionsMovable(false);
  setStretchLastSection(false);
  setMinimumSectionSize(0);
  setSectionResizeMode(QHeaderView::Interactive);
}

void CStandardHeaderCtrl::DrawHeaderItems(QPainter& painter) {
  const QRect client = rect();
  if (bgImage && !bgImage->isNull()) {
    const QRect source(0, 0, imageWidth - kBackgroundUnusedRight,
                       imageHeight - kBackgroundUnusedBottom);
    // An image no larger than the unused margin has nothing to show.
    if (source.isValid()) {
      painter.save();
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      DrawBGImage(painter, client, source);
      painter.restore();
    }
  }
  // The columns scroll with the list: their place in the viewport.
  DrawSections(painter, offset(), kSeparatorTop);
}

CStandardListCtrl::CStandardListCtrl(QWidget* parent)
    : CBasicListCtrl(parent), header_(new CStandardHeaderCtrl(this)) {
  setHorizontalHeader(header_);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  // The defaults of a desktop report list: rows are read, never edited in place; no grid,
  // cells selected one by one, several rows with Ctrl and Shift.
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setCornerButtonEnabled(false);
  setWordWrap(false);
  setTabKeyNavigation(false);
  setItemDelegate(new RowFocusDelegate(this));
  UpdateRowHeight();
  // A column made narrower may shorten texts that fitted, a wider one show them whole.
  connect(header_, &QHeaderView::sectionResized, this,
          [this](int column, int, int) { UpdateColumnToolTips(column); });
}

void CStandardListCtrl::SetHeaderFont(const QString& family, int size) {
  header_->SetFont(family, size);
  header_->viewport()->update();
}

void CStandardListCtrl::SetHeaderTextColor(const QString& colorText) {
  const QRgb current = header_->textColor;
  std::uint32_t colorRef = static_cast<std::uint32_t>(qRed(current)) |
                           static_cast<std::uint32_t>(qGreen(current)) << 8 |
                           static_cast<std::uint32_t>(qBlue(current)) << 16;
  ParseColor(colorText, colorRef);
  header_->SetTextColor(colorRef);
  header_->viewport()->update();
}

void CStandardListCtrl::SetHeaderImages(const QString& backgroundPath,
                                        const QString& separatorPath) {
  header_->SetBGImage(backgroundPath, 1, 0, 0);
  header_->SetSeparatorImage(separatorPath);
  header_->viewport()->update();
}

int CStandardListCtrl::InsertColumn(int index, const QString& title, ColumnAlign align, int width) {
  const int at = index < 0 || index > columnCount() ? columnCount() : index;
  insertColumn(at);
  // The title item keeps the alignment for the cells that the column receives later.
  auto* titleItem = new QTableWidgetItem(title);
  titleItem->setTextAlignment(CellAlignment(align));
  setHorizontalHeaderItem(at, titleItem);
  setColumnWidth(at, width);
  insertedWidths_.insert(insertedWidths_.begin() + at, width);
  ScaleColumns();
  return at;
}

void CStandardListCtrl::FitColumnsToWidth() {
  fitColumns_ = true;
  ScaleColumns();
}

void CStandardListCtrl::resizeEvent(QResizeEvent* event) {
  CBasicListCtrl::resizeEvent(event);
  ScaleColumns();
}

void CStandardListCtrl::ScaleColumns() {
  long long total = 0;
  for (const int width : insertedWidths_) {
    total += std::max(0, width);
  }
  const int inside = viewport()->width();
  if (!fitColumns_ || total <= 0 || inside <= 0) {
    return;
  }
  // Each column its share, rounded down; the last takes what rounding left, so that together
  // they fill the inside exactly.
  int given = 0;
  for (std::size_t column = 0; column < insertedWidths_.size(); ++column) {
    const int width = column + 1 == insertedWidths_.size()
                          ? inside - given
                          : static_cast<int>(std::max(0, insertedWidths_[column]) * inside / total);
    setColumnWidth(static_cast<int>(column), width);
    given += width;
  }
}

int CStandardListCtrl::InsertItem(int index, const QString& text) {
  const int at = index < 0 || index > rowCount() ? rowCount() : index;
  insertRow(at);
  SetItemText(at, 0, text);
  return at;
}

bool CStandardListCtrl::SetItemText(int row, int column, const QString& text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
    return false;
  }
  QTableWidgetItem* cell = item(row, column);
  if (cell == nullptr) {
    cell = new ListCell;
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (const QTableWidgetItem* titleItem = horizontalHeaderItem(column)) {
      cell->setTextAlignment(Qt::Alignment(QFlag(titleItem->textAlignment())));
    }
    setItem(row, column, cell);
  }
  cell->setText(text);
  UpdateCellToolTip(cell, column);
  return true;
}

QString CStandardListCtrl::GetItemText(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

void CStandardListCtrl::DeleteAllItems() { setRowCount(0); }

void CStandardListCtrl::RemoveItem(int row) {
  if (row >= 0 && row < rowCount()) {
    removeRow(row);
  }
}

void CStandardListCtrl::SelectRow(int row) {
  if (row < 0 || row >= rowCount()) {
    clearSelection();
    return;
  }
  selectionModel()->setCurrentIndex(
      model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CStandardListCtrl::SetRowToolTip(int row, const QString& text) {
  for (int column = 0; column < columnCount(); ++column) {
    if (QTableWidgetItem* cell = item(row, column)) {
      cell->setData(kRowToolTipRole, text.isEmpty() ? QVariant() : QVariant(text));
      UpdateCellToolTip(cell, column);
    }
  }
}

void CStandardListCtrl::SetRowGreyed(int row, bool greyed, const QString& description) {
  for (int column = 0; column < columnCount(); ++column) {
    if (QTableWidgetItem* cell = item(row, column)) {
      cell->setData(kGreyedRole, greyed ? QVariant(true) : QVariant());
      cell->setData(Qt::ForegroundRole, greyed ? QVariant(QBrush(kGreyedText)) : QVariant());
      cell->setData(Qt::AccessibleDescriptionRole,
                    greyed && !description.isEmpty() ? QVariant(description) : QVariant());
    }
  }
}

bool CStandardListCtrl::RowGreyed(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell != nullptr && cell->data(kGreyedRole).toBool();
}

void CStandardListCtrl::SetItemSortKey(int row, int column, const QString& key) {
  if (QTableWidgetItem* cell = item(row, column)) {
    cell->setData(kSortKeyRole, key);
  }
}

void CStandardListCtrl::SetColumnsClickable(bool on) {
  header_->setSectionsClickable(on);
  disconnect(header_, &QHeaderView::sectionClicked, this, nullptr);
  if (on) {
    connect(header_, &QHeaderView::sectionClicked, this, [this](int column) {
      clickedColumn_ = column;
      SendCtrlNotify(this, kNotifyColumnClick);
    });
  }
}

void CStandardListCtrl::SortItems(int column, Qt::SortOrder order) {
  if (column < 0 || column >= columnCount()) {
    sortColumn_ = -1;
    header_->setSortIndicatorShown(false);
    header_->setSortIndicator(-1, Qt::AscendingOrder);
    return;
  }
  sortColumn_ = column;
  sortOrder_ = order;
  header_->setSortIndicator(column, order);
  header_->setSortIndicatorShown(true);
  sortItems(column, order);
  header_->viewport()->update();
}

int CStandardListCtrl::GetFirstSelectedRow() const {
  int first = -1;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
    if (first < 0 || index.row() < first) {
      first = index.row();
    }
  }
  return first;
}

void CStandardListCtrl::SetRowTextColor(std::uint32_t colorRef) {
  QPalette colours = palette();
  colours.setColor(QPalette::Text, QColor::fromRgba(ColorRefToArgb(colorRef)));
  setPalette(colours);
}

void CStandardListCtrl::SetListFont(const QFont& font) {
  // The header takes the font as well, as a desktop list passes its font on to its header:
  // the header's default height follows it, its titles keep the header's own font.
  setFont(font);
}

void CStandardListCtrl::SetGridLines(bool on) {
  setShowGrid(on);
  // A grid line takes a pixel of every cell.
  UpdateAllToolTips();
}

void CStandardListCtrl::SetFullRowSelect(bool on) {
  setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void CStandardListCtrl::SetSingleSelection(bool on) {
  setSelectionMode(on ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
}

bool CStandardListCtrl::TextElided(int column, const QString& text) const {
  // The style draws a cell's text inside a margin on either side, in the cell less its grid
  // line, and shortens it when its natural width exceeds what is left.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int room = columnWidth(column) - (showGrid() ? 1 : 0) - 2 * margin;
  return QFontMetricsF(font()).horizontalAdvance(text) > room;
}

void CStandardListCtrl::mousePressEvent(QMouseEvent* event) {
  NoteMouseUse(this);
  QTableWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) {
    return;
  }
  leftPressed_ = true;
  // A plain click on the empty space below the rows clears the selection at once, as on the
  // desktop; Qt would otherwise keep it until the release, or keep it altogether.
  const bool extending = (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) != 0;
  if (!extending && !indexAt(event->position().toPoint()).isValid()) {
    clearSelection();
  }
}

void CStandardListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  QTableWidget::mouseReleaseEvent(event);
  // The dialog hears of the click once the selection is settled, so it can read it.
  if (event->button() == Qt::LeftButton && leftPressed_) {
    leftPressed_ = false;
    SendCtrlNotify(this, kNotifyClick);
  }
}

void CStandardListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableWidget::mouseDoubleClickEvent(event);
  // The first click of the pair has been reported; the release of the second one is not a
  // click of its own.
  leftPressed_ = false;
  if (event->button() == Qt::LeftButton) {
    SendCtrlNotify(this, kNotifyDoubleClick);
  }
}

void CStandardListCtrl::changeEvent(QEvent* event) {
  CBasicListCtrl::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    UpdateRowHeight();
    UpdateAllToolTips();
  } else if (event->type() == QEvent::StyleChange) {
    UpdateAllToolTips();
  }
}

void CStandardListCtrl::keyPressEvent(QKeyEvent* event) {
  NoteKeyboardUse(this);
  if (IsEnterKey(*event)) {
    // The key stops here: the dialog hears of it as the list's notification, not as a key that
    // its default button would take.
    event->accept();
    if (!event->isAutoRepeat()) {
      SendCtrlNotify(this, kNotifyReturn);
    }
    return;
  }
  if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
    // The desktop's other key for a menu, besides the menu key.
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    contextMenuEvent(&menu);
    event->accept();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    // Qt would copy the current cell's text; what a row's copy holds is the dialog's to say.
    event->accept();
    SendCtrlNotify(this, kNotifyCopyKey);
    return;
  }
  const QItemSelection before = selectionModel()->selection();
  QTableWidget::keyPressEvent(event);
  if (selectionModel()->selection() != before) {
    SendCtrlNotify(this, kNotifyItemChanged);
  }
}

void CStandardListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  if (event->reason() == QContextMenuEvent::Mouse) {
    // As on the desktop, a right click selects the row under the mouse first, or clears the
    // selection over the empty space, and the menu is for that row.
    const QModelIndex under = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    const int row = under.isValid() ? under.row() : -1;
    if (row < 0 || !selectionModel()->isRowSelected(row, QModelIndex())) {
      SelectRow(row);
      SendCtrlNotify(this, kNotifyItemChanged);
    }
    contextMenuPoint_ = event->globalPos();
  } else {
    const int row = currentIndex().isValid() ? currentIndex().row() : GetFirstSelectedRow();
    const QPoint corner =
        row >= 0 ? QPoint(columnViewportPosition(0) + 8, rowViewportPosition(row) + rowHeight(row))
                 : QPoint(0, 0);
    contextMenuPoint_ = viewport()->mapToGlobal(corner);
  }
  SendCtrlNotify(this, kNotifyRightClick);
}

QModelIndex CStandardListCtrl::moveCursor(CursorAction cursorAction,
                                          Qt::KeyboardModifiers modifiers) {
  // In a table Home and End go to the first and the last cell of the row; in a list of rows they
  // go to the first and the last row, which a table does with Ctrl.
  if (cursorAction == MoveHome || cursorAction == MoveEnd) {
    modifiers |= Qt::ControlModifier;
  }
  return QTableWidget::moveCursor(cursorAction, modifiers);
}

void CStandardListCtrl::paintEvent(QPaintEvent* event) {
  QTableWidget::paintEvent(event);
  if (ShowsFocusCue(this)) {
    QPainter painter(viewport());
    DrawRowFocusRing(painter);
  }
}

void CStandardListCtrl::focusInEvent(QFocusEvent* event) {
  const bool hadCurrent = currentIndex().isValid();
  QTableWidget::focusInEvent(event);
  // Qt makes the first row current when the focus comes without a click to a list that has no
  // current row, without selecting it; the first Down would then pass over that row. Without a
  // selection the list keeps no current row, so that Down selects the first row however the
  // focus came.
  if (!hadCurrent && currentIndex().isValid() && !selectionModel()->hasSelection()) {
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
  NoteFocusIn(this, *event);
  // The frame is the list's own, the row ring the viewport's.
  update();
  viewport()->update();
}

void CStandardListCtrl::focusOutEvent(QFocusEvent* event) {
  QTableWidget::focusOutEvent(event);
  update();
  viewport()->update();
}

void CStandardListCtrl::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableWidget::currentChanged(current, previous);
  // Qt repaints the two cells; the ring goes around the whole row.
  viewport()->update();
}

void CStandardListCtrl::UpdateRowHeight() {
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);
}

void CStandardListCtrl::UpdateColumnToolTips(int column) {
  for (int row = 0; row < rowCount(); ++row) {
    if (QTableWidgetItem* cell = item(row, column)) {
      UpdateCellToolTip(cell, column);
    }
  }
}

void CStandardListCtrl::UpdateAllToolTips() {
  for (int column = 0; column < columnCount(); ++column) {
    UpdateColumnToolTips(column);
  }
}

void CStandardListCtrl::UpdateCellToolTip(QTableWidgetItem* cell, int column) {
  const QString rowTip = cell->data(kRowToolTipRole).toString();
  const QString tip = !rowTip.isEmpty()                  ? rowTip
                      : TextElided(column, cell->text()) ? cell->text()
                                                         : QString();
  // Setting the same tip again would still tell the view that the cell changed.
  if (cell->toolTip() != tip) {
    cell->setToolTip(tip);
  }
}

void CStandardListCtrl::DrawRowFocusRing(QPainter& painter) {
  const QModelIndex current = currentIndex();
  if (!current.isValid() || columnCount() == 0) {
    return;
  }
  const int row = current.row();
  const int lastColumn = columnCount() - 1;
  const int left = columnViewportPosition(0);
  const int right = columnViewportPosition(lastColumn) + columnWidth(lastColumn);
  // The row without the grid line below it, the same rectangle its selection fills.
  const int height = rowHeight(row) - (showGrid() ? 1 : 0);
  const QRect ring(left, rowViewportPosition(row), right - left - (showGrid() ? 1 : 0), height);
  // On a selected row the ring takes the colour of the selected text, elsewhere that of the rows'
  // text: either reads on what lies under it.
  const bool selected = selectionModel()->isRowSelected(row, QModelIndex());
  const QColor colour = palette().color(selected ? QPalette::HighlightedText : QPalette::Text);
  DrawFocusRing(painter, ring.intersected(viewport()->rect()), colour);
}
