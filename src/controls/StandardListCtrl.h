#pragma once

// The device list of the main dialog: a report list whose rows Qt draws, framed by the skinned
// border of its base and topped by a skinned column header. The header stretches a background
// image over itself, puts a separator image at the right edge of every column and centres the
// column titles in its own font and colour, with an arrow in the title of the column the rows are
// sorted by.
//
// The list is worked with the keyboard as a desktop list is: the arrow keys, Page Up, Page Down,
// Home and End move the selection (Home and End to the first and the last row), Return and Enter
// ask the dialog to open the selected row. With the focus it shows a focus ring (FocusCue.h): its
// frame in the row text colour, and a dotted ring around the current row. A cell whose text does
// not fit its column, and is drawn shortened, carries its whole text as its tooltip, unless its
// row has a tooltip of its own. The menu key, Shift+F10 and a right click (which selects the row
// under the mouse) ask the dialog for a menu; Ctrl+C asks it to copy.

#include <cstdint>
#include <vector>

#include <QImage>
#include <QPoint>

#include "controls/BasicHeaderCtrl.h"
#include "controls/BasicListCtrl.h"

inline constexpr char16_t kStandardListCtrlClass[] = u"StandardListCtrl";

class CStandardHeaderCtrl : public CSeparatorHeaderCtrl {
 public:
  explicit CStandardHeaderCtrl(QWidget* parent = nullptr);

  // The stretched background (its rightmost 50 columns and bottom 5 rows are never shown), then
  // for every column that has a width its separator and its centred title.
  // The separator offset stays 0 here.
  void DrawHeaderItems(QPainter& painter) override;
};

class CStandardListCtrl : public CBasicListCtrl {
 public:
  // How the cells of a column align their text; the title is centred either way.
  enum class ColumnAlign { Left, Center, Right };

  explicit CStandardListCtrl(QWidget* parent = nullptr);

  CStandardHeaderCtrl* GetHeaderCtrl() const { return header_; }

  // The header's title font: `family` (or the installed family that draws it), `size` pixels.
  void SetHeaderFont(const QString& family, int size);
  // The header's title colour from a layout colour text "R,G,B"; a text that is not a colour
  // keeps the previous one.
  void SetHeaderTextColor(const QString& colorText);
  // The header's stretched background and its column separator.
  void SetHeaderImages(const QString& backgroundPath, const QString& separatorPath);

  // Inserts a column before `index` (an index past the end appends) and returns where it went.
  int InsertColumn(int index, const QString& title, ColumnAlign align, int width);
  // Inserts a row before `index` (an index outside the rows appends) with `text` in its first
  // cell and returns the row's index.
  int InsertItem(int index, const QString& text);
  // False when the cell does not exist. The cell's tooltip is its text when the text does not
  // fit the column, none otherwise.
  bool SetItemText(int row, int column, const QString& text);
  // Empty when the cell does not exist or holds nothing.
  QString GetItemText(int row, int column) const;
  void DeleteAllItems();
  // Removes one row; nothing for a row that does not exist.
  void RemoveItem(int row);
  int GetItemCount() const { return rowCount(); }
  // The lowest selected row, or -1 when none is selected.
  int GetFirstSelectedRow() const;
  // Selects ROW alone and makes it the current row; -1 clears the selection.
  void SelectRow(int row);

  // A row's own tooltip, shown over each of its cells (empty: the cells' own).
  void SetRowToolTip(int row, const QString& text);
  // Draws a row's text in grey (a device that is gone), or in the rows' colour again. DESCRIPTION
  // is what a screen reader says of the greyed row's cells besides their text.
  void SetRowGreyed(int row, bool greyed, const QString& description = QString());
  bool RowGreyed(int row) const;

  // The text by which a cell sorts; without one it sorts by its text.
  void SetItemSortKey(int row, int column, const QString& key);
  // From now on a click on a column title sends kNotifyColumnClick (ClickedColumn() tells which).
  void SetColumnsClickable(bool on);
  int ClickedColumn() const { return clickedColumn_; }
  // Sorts the rows by COLUMN, stably, and marks the column's title; -1 marks none (the rows stay).
  void SortItems(int column, Qt::SortOrder order);
  // The order is the list's own record: the header flips its arrow by itself on a click, before
  // the dialog hears of the click.
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }

  // Where the menu that kNotifyRightClick asks for goes, in global coordinates: at the mouse, or
  // for a key below the current row (the list's top-left corner without one).
  QPoint ContextMenuPoint() const { return contextMenuPoint_; }

  // The text colour of the rows, as the layout gives it (COLORREF 0x00BBGGRR).
  void SetRowTextColor(std::uint32_t colorRef);
  // The font of the rows and of the header's own height; the row height follows it.
  void SetListFont(const QFont& font);
  void SetGridLines(bool on);
  // With full-row selection a click selects the whole row; otherwise the clicked cell.
  void SetFullRowSelect(bool on);
  // With single selection at most one row is selected; otherwise Ctrl and Shift extend it.
  void SetSingleSelection(bool on);

  // From now on the columns share the list's inside width in the proportions of the widths they
  // were inserted with, whenever that width changes (a vertical scroll bar coming or going, a
  // resize), so that no horizontal scroll bar shows while the texts fit.
  void FitColumnsToWidth();

  // True when `text` drawn in a cell of `column` does not fit and is shortened.
  bool TextElided(int column, const QString& text) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Return and Enter send kNotifyReturn; a key that changes the selection sends
  // kNotifyItemChanged once the selection is settled, so the dialog can read it.
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  // The viewport's size changed.
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ScaleColumns();
  void UpdateRowHeight();
  // The tooltips of the cells of one column, or of all columns, for the current widths and font.
  void UpdateColumnToolTips(int column);
  void UpdateAllToolTips();
  void UpdateCellToolTip(QTableWidgetItem* cell, int column);
  // The dotted ring around the current row, on the viewport.
  void DrawRowFocusRing(QPainter& painter);

  CStandardHeaderCtrl* header_;
  // Set by a left press in the item area; the release that follows is the click.
  bool leftPressed_ = false;
  int clickedColumn_ = -1;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  QPoint contextMenuPoint_;
  // The widths the columns were inserted with, and whether they are scaled to the width.
  std::vector<int> insertedWidths_;
  bool fitColumns_ = false;
};
