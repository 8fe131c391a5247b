#pragma once

// The base of the skinned lists: a report list (rows, columns, a header) with a property record.
// With paint mode bit 1 it keeps a 1-pixel frame around its item area and draws it in the
// border colour (in the rows' text colour while the list shows the focus, FocusCue.h); without
// it the items take the whole widget and no frame is drawn.

#include <QTableWidget>

#include "layout/BasicPropertyFrame.h"

class CBasicListCtrl : public QTableWidget, public CBasicPropertyFrame {
 public:
  explicit CBasicListCtrl(QWidget* parent = nullptr);

  // Lays the item area out again for the current paint mode; the factory calls it after it has
  // written the paint mode, as the window's creation would.
  void UpdateBorderMargins();

 protected:
  bool event(QEvent* event) override;
};
