#include "controls/StandardListCtrl.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/CtrlNotify.h"
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
      painter.drawImage(client, *bgImage, source);
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
  UpdateRowHeight();
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
  return at;
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
    cell = new QTableWidgetItem;
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (const QTableWidgetItem* titleItem = horizontalHeaderItem(column)) {
      cell->setTextAlignment(Qt::Alignment(QFlag(titleItem->textAlignment())));
    }
    setItem(row, column, cell);
  }
  cell->setText(text);
  return true;
}

QString CStandardListCtrl::GetItemText(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

void CStandardListCtrl::DeleteAllItems() { setRowCount(0); }

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

void CStandardListCtrl::SetGridLines(bool on) { setShowGrid(on); }

void CStandardListCtrl::SetFullRowSelect(bool on) {
  setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void CStandardListCtrl::SetSingleSelection(bool on) {
  setSelectionMode(on ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
}

void CStandardListCtrl::mousePressEvent(QMouseEvent* event) {
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
  }
}

void CStandardListCtrl::UpdateRowHeight() {
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);
}
