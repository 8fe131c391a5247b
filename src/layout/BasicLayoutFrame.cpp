#include "layout/BasicLayoutFrame.h"

#include <optional>

#include <QFile>
#include <QFontMetrics>

#include "layout/BasicPropertyFrame.h"
#include "platform/FontFamilies.h"
#include "platform/WorkingFolder.h"

namespace {

constexpr int kMaxFaceNameLength = 31;

// The whole file, or nothing when it cannot be read or is too large.
std::optional<QByteArray> ReadDocumentFile(const QString& path, LayoutReadReport& report) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    report.notes << QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return std::nullopt;
  }
  const QByteArray content = file.read(kMaxLayoutFileSize + 1);
  if (content.size() > kMaxLayoutFileSize) {
    report.notes << QStringLiteral("%1 is larger than %2 bytes and was not read")
                        .arg(path)
                        .arg(kMaxLayoutFileSize);
    return std::nullopt;
  }
  if (file.error() != QFileDevice::NoError) {
    report.notes << QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return std::nullopt;
  }
  return content;
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
  if (!document) {
    // A file that cannot be read is an empty document: nothing is found.
    return true;
  }
  return ReadLayoutDocument(*document, dialogId, variant, GetWorkingBaseFolder(), dialogInfo_,
                            &readReport_);
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
  if (!inserted && entry->second != control) {
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
  if (height < 1) {
    return nullptr;
  }
  auto font = std::make_unique<QFont>();
  const QString family = ResolveFontFamily(faceName.left(kMaxFaceNameLength));
  if (!family.isEmpty()) {
    font->setFamilies({family});
  }
  // A positive height asks for the cell height, not the em size: start from the em size and
  // shrink it until ascent and descent fit.
  font->setPixelSize(height);
  for (int size = height; size > 1; --size) {
    font->setPixelSize(size);
    const QFontMetrics metrics(*font);
    if (metrics.ascent() + metrics.descent() <= height) {
      break;
    }
  }
  fonts_.push_back(std::move(font));
  return fonts_.back().get();
}

void CBasicLayoutFrame::ReleaseCtrls() {
  fonts_.clear();
  for (Table& table : tables_) {
    for (auto& entry : table) {
      // A control whose window its parent already destroyed is gone from the pointer.
      delete entry.second.data();
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
      // Pixels outside the buffer come out transparent.
      properties->cachedBackground = dialogBuffer.copy(QRect(origin, control->size()));
    }
  }
}
