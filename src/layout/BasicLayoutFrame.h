#pragma once

// The layout store: one dialog's layout read from a layout document, the owner of the controls
// and fonts created from it, and the apply sequence through which skinned dialogs size themselves
// and create their controls. Every skinned dialog inherits it; it is used from the dialog's
// thread only.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "layout/LayoutReader.h"
#include "layout/LayoutRecords.h"

// Files larger than this are not read, whatever size they report: a layout document is a few
// kilobytes.
inline constexpr qint64 kMaxLayoutFileSize = 16 * 1024 * 1024;
// Font heights beyond this are taken as this: no window draws text a few thousand pixels tall.
inline constexpr int kMaxLayoutFontHeight = 4096;

class CBasicLayoutFrame {
 public:
  // The tables of created controls, in the order in which they are released. Only the button,
  // static and list tables are filled by the control factory.
  enum class CtrlTable { Button, Static, Spare1, Spare2, List, Spare3 };
  static constexpr std::size_t kCtrlTableCount = 6;

  CBasicLayoutFrame();
  // Releases the controls and fonts.
  virtual ~CBasicLayoutFrame();
  CBasicLayoutFrame(const CBasicLayoutFrame&) = delete;
  CBasicLayoutFrame& operator=(const CBasicLayoutFrame&) = delete;

  // Loads the layout document at `relativePath` below the working base folder
  // ("\ORVAKSearchTools\WndLayoutInfo.xml") and applies it.
  virtual void LoadLayoutFile(const QString& relativePath, std::int32_t dialogId,
                              const QString& variant);
  // ReadLayout, then ApplyLayout whatever the read gave.
  virtual void LoadAndApply(const QString& path, std::int32_t dialogId, const QString& variant);
  // Reads the document at the absolute `path` into the dialog record (LayoutReader.h). Returns
  // false for an empty path or an element that lacks an attribute. A file that is missing, not a
  // regular file (a FIFO, a device, a folder), too large or not XML reads as an empty document:
  // true, with nothing found and the report marked unreadable. The file is read with
  // ReadSkinFile (SkinFile.h), so nothing blocks or reads without end. When the document cannot
  // be read or a limit of the reader is reached, each note also goes to the diagnostic log.
  virtual bool ReadLayout(const QString& path, std::int32_t dialogId, const QString& variant);
  // ApplyDialogInfo, then ApplyCtrlInfo.
  virtual void ApplyLayout();
  // Empty; dialogs apply the dialog record to their window.
  virtual void ApplyDialogInfo();
  // Releases the controls and fonts; dialogs create or lay out their controls.
  virtual void ApplyCtrlInfo();
  // Empty; a dialog looks up the controls it works with.
  virtual void BindControls();
  // True; a dialog answers whether all the controls it needs were found.
  virtual bool ControlsBound() const;

  // The value of the string `id`, or "" when the document defines none.
  QString GetLayoutString(const QString& id) const;
  // 0 and a copy of the control record when the control table has `ctrlId`; 1, with `info`
  // untouched, when it has not.
  int GetCtrlInfo(std::int32_t ctrlId, CtrlInfo& info) const;
  const DialogInfo& GetDialogInfo() const { return dialogInfo_; }
  // What the last ReadLayout found worth telling a skin author.
  const LayoutReadReport& GetReadReport() const { return readReport_; }

  // Files a created control; the store owns it from now on. An identifier already in the table
  // keeps its control and the new one is deleted.
  void AddCtrl(CtrlTable table, std::int32_t ctrlId, QWidget* control);
  // The control filed under `ctrlId`, or null. Valid until the next ReleaseCtrls.
  QWidget* FindCtrl(CtrlTable table, std::int32_t ctrlId) const;
  QWidget* FindButtonCtrl(std::int32_t ctrlId) const;
  QWidget* FindStaticCtrl(std::int32_t ctrlId) const;
  QWidget* FindListCtrl(std::int32_t ctrlId) const;
  // The identifiers of a table, ascending.
  std::vector<std::int32_t> CtrlIds(CtrlTable table) const;

  // A font of the installed family that draws `faceName` (at most its first 31 characters), or of
  // the default family when none does: a positive `height` is the cell height (ascent +
  // descent), a negative one the em size, 0 the family's default size. The store keeps the font
  // until ReleaseCtrls.
  const QFont* CreateLayoutFont(const QString& faceName, int height);
  std::size_t FontCount() const { return fonts_.size(); }

  // Deletes the fonts, then the controls of the six tables in table order. The parent of a
  // control gets no child event for it, so the store may go after the dialog's own parts.
  void ReleaseCtrls();

  // Gives every control of the button table, then of the static table, a fresh copy of the
  // dialog pixels under it, taken from `dialogBuffer`, into which `dialog` has just drawn its
  // client area. Controls whose window is gone are skipped; the list table is left alone.
  void CaptureCtrlBackgrounds(const QImage& dialogBuffer, QWidget* dialog);

 protected:
  DialogInfo dialogInfo_;

 private:
  using Table = std::map<std::int32_t, QPointer<QWidget>>;
  const Table& TableOf(CtrlTable table) const;

  LayoutReadReport readReport_;
  std::vector<std::unique_ptr<QFont>> fonts_;
  std::array<Table, kCtrlTableCount> tables_;
};
