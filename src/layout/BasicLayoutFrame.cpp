#include "layout/BasicLayoutFrame.h"

#include <optional>

#include <QFontMetrics>

#include "diag/LogSystem.h"
#include "layout/BasicPropertyFrame.h"
#include "platform/FontFamilies.h"
#include "platform/SkinFile.h"
#include "platform/WorkingFolder.h"

namespace {

constexpr int kMaxFaceNameLength = 31;

// The whole file, or nothing when it is not a regular file, cannot be read or is too large.
std::optional<QByteArray> ReadDocumentFile(const QString& path, LayoutReadReport& report) {
  SkinFileContent content = ReadSkinFile(path, kMaxLayoutFileSize);
  if (!content.read) {
    report.notes << QStringLiteral("cannot read %1: it %2").arg(path, content.problem);
    report.unreadable = true;
    return std::nullopt;
  }
  return std::move(content.bytes);
}

}  // namespace

CBasicLayoutFrame::CBasicLayoutFrame() = default;

CBasicLayoutFrame::~CBasicLayoutFrame() { ReleaseCtrls(); }

void CBasicLayoutFrame::LoadLayoutFile(const QString& relativePath, std::int32_t dialogId,
                                       const QString& variant) {
  LoadAndApply(MakeLayoutPath(relativePath), dialogId, variant);
}

void CBasicLayoutFrame::LoadAndApply(const QString& path, std::int32_t dialogId,
                                     const QString& variant) {
  ReadLayout(path, dialogId, variant);
  ApplyLayout();
}

bool CBasicLayoutFrame::ReadLayout(const QString& path, std::int32_t dialogId,
                                   const QString& variant) {
  ResetDialogInfo(dialogInfo_);
  readReport_ = LayoutReadReport();
  if (path.isEmpty()) {
    readReport_.error = QStringLiteral("no layout path");
    return false;
  }
  const std::optional<QByteArray> document = ReadDocumentFile(path, readReport_);
  // A file that cannot be read is an empty document: nothing is found.
  const bool read =
      !document || ReadLayoutDocument(*document, dialogId, variant, GetWorkingBaseFolder(),
                                      dialogInfo_, &readReport_);
  // What the window shows differs from the document: the log says why.
  if (readReport_.unreadable || readReport_.limited) {
    for (const QString& note : readReport_.notes) {
      WriteLog("Layout %s: %s", path.toLocal8Bit().constData(), note.toLocal8Bit().constData());
    }
  }
  return read;
}

void CBasicLayoutFrame::ApplyLayout() {
  ApplyDialogInfo();
  ApplyCtrlInfo();
}

void CBasicLayoutFrame::ApplyDialogInfo() {}

void CBasicLayoutFrame::ApplyCtrlInfo() { ReleaseCtrls(); }

void CBasicLayoutFrame::BindControls() {}

bool CBasicLayoutFrame::ControlsBound() const { return true; }

QString CBasicLayoutFrame::GetLayoutString(const QString& id) const {
  const auto found = dialogInfo_.strings.find(id);
  return found == dialogInfo_.strings.end() ? QStringLiteral("") : found->second;
}

int CBasicLayoutFrame::GetCtrlInfo(std::int32_t ctrlId, CtrlInfo& info) const {
  const auto found = dialogInfo_.ctrls.find(ctrlId);
  if (found == dialogInfo_.ctrls.end()) {
    return 1;
  }
  info = found->second;
  return 0;
}

const CBasicLayoutFrame::Table& CBasicLayoutFrame::TableOf(CtrlTable table) const {
  return tables_[static_cast<std::size_t>(table)];
}

void CBasicLayoutFrame::AddCtrl(CtrlTable table, std::int32_t ctrlId, QWidget* control) {
  auto& entries = tables_[static_cast<std::size_t>(table)];
  const auto [entry, inserted] = entries.try_emplace(ctrlId, control);
  if (inserted || entry->second == control) {
    return;
  }
  if (entry->second.isNull()) {
    // The control filed before is gone with its window; the identifier is free again.
    entry->second = control;
  } else {
    delete control;
  }
}

QWidget* CBasicLayoutFrame::FindCtrl(CtrlTable table, std::int32_t ctrlId) const {
  const Table& entries = TableOf(table);
  const auto found = entries.find(ctrlId);
  return found == entries.end() ? nullptr : found->second.data();
}

QWidget* CBasicLayoutFrame::FindButtonCtrl(std::int32_t ctrlId) const {
  return FindCtrl(CtrlTable::Button, ctrlId);
}

QWidget* CBasicLayoutFrame::FindStaticCtrl(std::int32_t ctrlId) const {
  return FindCtrl(CtrlTable::Static, ctrlId);
}

QWidget* CBasicLayoutFrame::FindListCtrl(std::int32_t ctrlId) const {
  return FindCtrl(CtrlTable::List, ctrlId);
}

std::vector<std::int32_t> CBasicLayoutFrame::CtrlIds(CtrlTable table) const {
  std::vector<std::int32_t> ids;
  for (const auto& entry : TableOf(table)) {
    ids.push_back(entry.first);
  }
  return ids;
}

const QFont* CBasicLayoutFrame::CreateLayoutFont(const QString& faceName, int height) {
  auto font = std::make_unique<QFont>();
  const QString family = ResolveFontFamily(faceName.left(kMaxFaceNameLength));
  if (!family.isEmpty()) {
    font->setFamilies({family});
  }
  if (height < 0) {
    // A negative height is the em size itself.
    font->setPixelSize(std::min(-static_cast<qint64>(height), qint64{kMaxLayoutFontHeight}));
  } else if (height > 0) {
    // A positive height is the cell height (ascent + descent), which is larger than the em size:
    // scale the em size by one measurement, then step down while the cell is still too tall.
    const int cell = std::min(height, kMaxLayoutFontHeight);
    font->setPixelSize(cell);
    const int measured = QFontMetrics(*font).ascent() + QFontMetrics(*font).descent();
    int size =
        measured > cell ? std::max(1, static_cast<int>(qint64{cell} * cell / measured)) : cell;
    for (;; --size) {
      font->setPixelSize(size);
      const QFontMetrics metrics(*font);
      if (size == 1 || metrics.ascent() + metrics.descent() <= cell) {
        break;
      }
    }
  }
  // Height 0 keeps the default size of the family.
  fonts_.push_back(std::move(font));
  return fonts_.back().get();
}

void CBasicLayoutFrame::ReleaseCtrls() {
  fonts_.clear();
  for (Table& table : tables_) {
    for (auto& entry : table) {
      // A control whose window its parent already destroyed is gone from the pointer.
      if (QWidget* control = entry.second.data()) {
        // The dialog is told nothing: when the store goes with the dialog, the dialog class
        // that would receive the news is already destroyed.
        control->setAttribute(Qt::WA_NoChildEventsForParent);
        delete control;
      }
      entry.second = nullptr;
    }
    table.clear();
  }
}

void CBasicLayoutFrame::CaptureCtrlBackgrounds(const QImage& dialogBuffer, QWidget* dialog) {
  if (dialog == nullptr) {
    return;
  }
  for (const CtrlTable which : {CtrlTable::Button, CtrlTable::Static}) {
    for (const auto& [id, pointer] : TableOf(which)) {
      QWidget* control = pointer.data();
      auto* properties = dynamic_cast<CBasicPropertyFrame*>(control);
      if (control == nullptr || properties == nullptr) {
        continue;
      }
      const QPoint origin = dialog->mapFromGlobal(control->mapToGlobal(QPoint(0, 0)));
      // The buffer may hold more pixels than the dialog has logical ones. Pixels outside it come
      // out transparent.
      const qreal ratio = dialogBuffer.devicePixelRatio();
      const QRect logical(origin, control->size());
      QImage copy = dialogBuffer.copy(
          QRectF(QPointF(logical.topLeft()) * ratio, QSizeF(logical.size()) * ratio).toRect());
      copy.setDevicePixelRatio(ratio);
      properties->cachedBackground = std::move(copy);
    }
  }
}
