#pragma once

// The skinned dialogs: a dialog that owns its layout store and its own property record, paints its
// whole client area itself, double-buffered, and listens to its controls. The borderless variant
// adds dragging by its top band and a window shape cut out of a key-colour bitmap.

#include <QDialog>
#include <QRegion>

#include "controls/CtrlNotify.h"
#include "layout/BasicLayoutFrame.h"
#include "layout/BasicPropertyFrame.h"

class QImage;

// Show commands of the layout's CtrlShow (SW_HIDE and SW_SHOW; every other value shows).
inline constexpr int kShowCommandHide = 0;
inline constexpr int kShowCommandShow = 5;
void ApplyShowCommand(QWidget* widget, int showCommand);
// Places a control at a layout rectangle in its parent's client coordinates.
void PlaceByRect(QWidget* widget, const LayoutRect& rect);

// The colour of a pixel that a window-shape bitmap cuts out: RGB(210, 10, 10).
inline constexpr QRgb kRegionKeyColor = 0xFFD20A0A;
// Only the top rows of a window-shape bitmap are scanned for the key colour.
inline constexpr int kRegionScanRows = 35;

// The window shape of a client area of `size` from a window-shape bitmap: the client rectangle
// with every horizontal run of key-colour pixels in the first rows cut out (combined by XOR).
QRegion RegionFromKeyColor(const QImage& bitmap, QSize size);

// True when the windows go to a Wayland compositor (Qt's platform "wayland", "wayland-egl", ...).
// There a window's mask does not cut its look, only its input: a shaped window is translucent and
// paints its shape itself, the mask still shaping its input. A window cannot raise itself there
// either; it asks the compositor with an activation token.
bool IsWaylandPlatform();

class CBasicDialog : public QDialog,
                     public CBasicPropertyFrame,
                     public CBasicLayoutFrame,
                     public CCtrlNotifySink {
 public:
  CBasicDialog();
  ~CBasicDialog() override;

  // Draws the dialog's background into the off-screen buffer: here the dialog record's
  // background colour over the whole client area, whatever the paint mode.
  virtual void DrawDialog(QPainter& painter);
  // Called after every size change; stores the new client rectangle in the property record.
  virtual void OnSizeChanged(int sizeType, int cx, int cy);
  // Gives the window rounded corners. Nothing calls it.
  virtual void SetRoundRegion();
  // Called once, before the dialog is first shown. Returns true.
  virtual bool OnInitDialog();
  // Called after each paint with the freshly drawn buffer, before it goes to the screen.
  virtual void OnDialogDrawn(const QImage& buffer);

  // The layout store's operations as the dialog applies them.
  void LoadLayoutFile(const QString& relativePath, std::int32_t dialogId,
                      const QString& variant) override;
  void ApplyDialogInfo() override;
  void ApplyCtrlInfo() override;

  // Runs OnInitDialog if it has not run yet, then the dialog modally.
  int DoModal();
  // Runs OnInitDialog if it has not run yet.
  void EnsureInitialized();

  // The client area as one paint would put it on the screen (without the controls).
  QImage RenderBuffer();

  void OnCtrlCommand(int ctrlId, int notifyCode) override;
  void OnCtrlNotify(int ctrlId, int notifyCode) override;
  void OnCtrlMessage(int message, int wParam, int lParam) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool initialized_ = false;
};

// A translucent dialog (on Wayland: see IsWaylandPlatform) paints only inside its mask.
class CBasicNoneBorderDlg : public CBasicDialog {
 public:
  CBasicNoneBorderDlg();

  void SetRegionBitmapPath(const QString& path);
  // Makes the dialog a translucent window that paints its shape: the pixels outside the mask
  // transparent. The constructor calls it on Wayland; elsewhere the mask cuts the window itself.
  void UseTranslucentShape();
  // Reshapes the window from regionBitmapPath on every size change.
  void OnSizeChanged(int sizeType, int cx, int cy) override;

  // Path of the BMP that gives the window its shape; empty for a rectangular window.
  QString regionBitmapPath;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};
