#pragma once

// A borderless skinned dialog built from its layout the way the main window is: the control
// factory's nine passes create its controls, its background is painted by its paint mode, and
// after each paint its see-through controls get a fresh copy of what lies under them. The main
// window derives from it; the layout preview uses it as it is.

#include "controls/BasicDialog.h"

class CLayoutDialog : public CBasicNoneBorderDlg {
 public:
  // The window shape comes from the deployed skin's BMP.
  CLayoutDialog();

  // Releases the controls, runs the creation passes, then BindControls.
  void ApplyCtrlInfo() override;
  // The property record's background steps (the layout's background image), antialiased.
  void DrawDialog(QPainter& painter) override;
  void OnDialogDrawn(const QImage& buffer) override;
};
