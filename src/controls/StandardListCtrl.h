#pragma once

// The device list of the main dialog: a report list whose rows Qt draws, framed by the skinned
// border of its base and topped by a skinned column header. The header stretches a background
// image over itself, puts a separator image at the right edge of every column and centres the
// column titles in its own font and colour.

#include <cstdint>

#include <QImage>

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
  // False when the cell does not exist.
  bool SetItemText(int row, int column, const QString& text);
  // Empty when the cell does not exist or holds nothing.
  QString GetItemText(int row, int column) const;
  void DeleteAllItems();
  int GetItemCount() const { return rowCount(); }
  // The lowest selected row, or -1 when none is selected.
  int GetFirstSelectedRow() const;

  // The text colour of the rows, as the layout gives it (COLORREF 0x00BBGGRR).
  void SetRowTextColor(std::uint32_t colorRef);
  // The font of the rows and of the header's own height; the row height follows it.
  void SetListFont(const QFont& font);
  void SetGridLines(bool on);
  // With full-row selection a click selects the whole row; otherwise the clicked cell.
  void SetFullRowSelect(bool on);
  // With single selection at most one row is selected; otherwise Ctrl and Shift extend it.
  void SetSingleSelection(bool on);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateRowHeight();

  CStandardHeaderCtrl* header_;
  // Set by a left press in the item area; the release that follows is the click.
  bool leftPressed_ = false;
};
