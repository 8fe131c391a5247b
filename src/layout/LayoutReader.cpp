#include "layout/LayoutReader.h"

#include <algorithm>

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QXmlStreamReader>

#include "layout/LayoutValues.h"
#include "platform/WorkingFolder.h"

namespace {

// A value as a note quotes it: its beginning only, so that a note stays one short line.
QString Excerpt(const QString& text) {
  constexpr qsizetype kLength = 80;
  return text.size() <= kLength ? text : text.left(kLength) + QStringLiteral("...");
}

// The notes about reached limits: the first few of each kind in full, then only a count, so that
// a document with thousands of long texts gives a few lines, not thousands.
class LimitNotes {
 public:
  enum Kind { Text, Path, Size, kKindCount };
  static constexpr int kDetailedPerKind = 5;

  explicit LimitNotes(LayoutReadReport* report) : report_(report) {}

  void Add(Kind kind, const QString& note) {
    if (report_ == nullptr) {
      return;
    }
    report_->limited = true;
    if (++counts_[kind] <= kDetailedPerKind) {
      report_->notes << note;
    }
  }

  // One line per kind for what was only counted.
  void Finish() {
    static constexpr const char* kWhat[kKindCount] = {"texts were cut", "image paths were refused",
                                                      "sizes were cut"};
    for (int kind = 0; kind < kKindCount; ++kind) {
      if (counts_[kind] > kDetailedPerKind && report_ != nullptr) {
        report_->notes << QStringLiteral("%1 more %2 the same way")
                              .arg(counts_[kind] - kDetailedPerKind)
                              .arg(QLatin1String(kWhat[kind]));
      }
    }
  }

 private:
  LayoutReadReport* report_;
  int counts_[kKindCount] = {};
};

// Reads attributes of one element and remembers the first that is missing.
class AttributeReader {
 public:
  AttributeReader(const QDomElement& element, LayoutReadReport* report, LimitNotes& limits)
      : element_(element), report_(report), limits_(limits) {}

  QString Where() const {
    return QStringLiteral("%1 element at line %2")
        .arg(element_.tagName())
        .arg(element_.lineNumber());
  }

  // False, with the report filled in, when the element lacks the attribute.
  bool Text(const char* name, QString& value) {
    const QString key = QString::fromLatin1(name);
    if (!element_.hasAttribute(key)) {
      if (report_ != nullptr) {
        report_->error = QStringLiteral("%1 has no %2 attribute").arg(Where(), key);
      }
      return false;
    }
    value = element_.attribute(key);
    return true;
  }

  // A text that is drawn or shown: cut to kMaxLayoutTextLength.
  bool ShownText(const char* name, QString& value) {
    if (!Text(name, value)) {
      return false;
    }
    if (value.size() > kMaxLayoutTextLength) {
      const qsizetype length = value.size();
      qsizetype cut = kMaxLayoutTextLength;
      if (value.at(cut - 1).isHighSurrogate()) {
        --cut;
      }
      value.truncate(cut);
      limits_.Add(LimitNotes::Text, QStringLiteral("%1: %2 of %3 characters cut to %4")
                                        .arg(Where(), QLatin1String(name))
                                        .arg(length)
                                        .arg(cut));
    }
    return true;
  }

  bool Int(const char* name, std::int32_t& value) {
    QString text;
    if (!Text(name, text)) {
      return false;
    }
    value = ReadLayoutInt(text);
    return true;
  }

  bool Path(const char* name, const QString& baseFolder, QString& value) {
    QString text;
    if (!Text(name, text)) {
      return false;
    }
    value = JoinLayoutPath(baseFolder, text);
    // A document names images below the base folder only; "\..\..\etc\x" or a value without
    // the leading separator (which names a sibling of the folder) is read as no image.
    if (!value.isEmpty() && !LiesInsideFolder(value, baseFolder)) {
      limits_.Add(LimitNotes::Path,
                  QStringLiteral("%1: %2 \"%3\" leads out of the base folder %4; read as no image")
                      .arg(Where(), QLatin1String(name), Excerpt(text), baseFolder));
      value = JoinLayoutPath(baseFolder, QString());
    }
    return true;
  }

  bool Color(const char* name, QString& text, std::uint32_t& colorRef) {
    if (!Text(name, text)) {
      return false;
    }
    ParseColor(text, colorRef);
    return true;
  }

  bool Point(const char* name, std::int32_t& x, std::int32_t& y) {
    QString text;
    if (!Text(name, text)) {
      return false;
    }
    ParsePoint(text, x, y);
    return true;
  }

  bool Rect(const char* name, LayoutRect& rect) {
    QString text;
    if (!Text(name, text)) {
      return false;
    }
    ParseRect(text, rect);
    return true;
  }

  // A control's rectangle with its width and height cut to kMaxLayoutDialogSize.
  bool CtrlRect(const char* name, LayoutRect& rect) {
    if (!Rect(name, rect)) {
      return false;
    }
    const std::int64_t width = std::int64_t{rect.right} - rect.left;
    const std::int64_t height = std::int64_t{rect.bottom} - rect.top;
    if (width > kMaxLayoutDialogSize || height > kMaxLayoutDialogSize) {
      rect.right = static_cast<std::int32_t>(rect.left +
                                             std::min<std::int64_t>(width, kMaxLayoutDialogSize));
      rect.bottom = static_cast<std::int32_t>(rect.top +
                                              std::min<std::int64_t>(height, kMaxLayoutDialogSize));
      limits_.Add(LimitNotes::Size,
                  QStringLiteral("%1: %2 of %3 x %4 pixels cut to at most %5 x %5")
                      .arg(Where(), QLatin1String(name))
                      .arg(width)
                      .arg(height)
                      .arg(kMaxLayoutDialogSize));
    }
    return true;
  }

  bool Style(const char* name, std::uint32_t& style) {
    QString text;
    if (!Text(name, text)) {
      return false;
    }
    style = ParseStyle(text);
    return true;
  }

 private:
  const QDomElement& element_;
  LayoutReadReport* report_;
  LimitNotes& limits_;
};

void Note(LayoutReadReport* report, const QString& note) {
  if (report != nullptr) {
    report->notes << note;
  }
}

void MarkUnreadable(LayoutReadReport* report) {
  if (report != nullptr) {
    report->unreadable = true;
  }
}

// True when no element lies deeper than kMaxLayoutDepth. Malformed bytes pass: the DOM parser
// rejects them itself.
bool NestingIsShallow(const QByteArray& document) {
  QXmlStreamReader reader(document);
  int depth = 0;
  while (!reader.atEnd()) {
    const QXmlStreamReader::TokenType token = reader.readNext();
    if (token == QXmlStreamReader::StartElement) {
      if (++depth > kMaxLayoutDepth) {
        return false;
      }
    } else if (token == QXmlStreamReader::EndElement) {
      --depth;
    }
  }
  return true;
}

// The window's size is the right and bottom of its rectangle; both are cut to the limit.
void LimitDialogSize(const QDomElement& look, LayoutRect& rect, LayoutReadReport* report,
                     LimitNotes& limits) {
  if (rect.right <= kMaxLayoutDialogSize && rect.bottom <= kMaxLayoutDialogSize) {
    return;
  }
  limits.Add(LimitNotes::Size,
             QStringLiteral("the dialog of %1 x %2 pixels (DialogPos at line %3) is larger than "
                            "%4 x %4; its size is cut to that")
                 .arg(rect.right)
                 .arg(rect.bottom)
                 .arg(look.lineNumber())
                 .arg(kMaxLayoutDialogSize));
  if (report != nullptr) {
    report->dialogTooLarge = true;
  }
  rect.right = std::min(rect.right, kMaxLayoutDialogSize);
  rect.bottom = std::min(rect.bottom, kMaxLayoutDialogSize);
}

bool ReadDialogLook(const QDomElement& look, const QString& baseFolder, DialogInfo& record,
                    LayoutReadReport* report, LimitNotes& limits) {
  AttributeReader attributes(look, report, limits);
  const bool read = attributes.Path("DialogBGPath", baseFolder, record.bgPath) &&
                    attributes.Color("DialogBGColor", record.bgColorText, record.bgColor) &&
                    attributes.Int("DlgPaintMode", record.paintMode) &&
                    attributes.Point("DlgTextOffSet", record.textOffsetX, record.textOffsetY) &&
                    attributes.Color("DlgTextColor", record.textColorText, record.textColor) &&
                    attributes.Text("DialogFont", record.font) &&
                    attributes.Int("DialogFontSize", record.fontSize) &&
                    attributes.Rect("DialogPos", record.rect);
  if (read) {
    LimitDialogSize(look, record.rect, report, limits);
  }
  return read;
}

// Fills `ctrl` from one CtrlInfo element. The colours and the rectangle are not reset first: a
// value that cannot be parsed keeps the previous control's value.
bool ReadCtrl(const QDomElement& element, const QString& baseFolder, CtrlInfo& ctrl,
              LayoutReadReport* report, LimitNotes& limits) {
  ctrl.ctrlID = 0;
  ctrl.statusCount = 0;
  ctrl.paintMode = 0;
  ctrl.style = 0;
  ctrl.textColor = 0;
  ctrl.textOffsetX = 0;
  ctrl.textOffsetY = 0;
  ctrl.fontSize = 0;
  ctrl.posType = 0;
  ctrl.show = 0;
  ctrl.bgPath.clear();
  ctrl.className.clear();
  ctrl.description.clear();
  ctrl.text.clear();
  ctrl.textColorText.clear();
  ctrl.font.clear();

  AttributeReader attributes(element, report, limits);
  return attributes.Int("CtrlID", ctrl.ctrlID) &&
         attributes.Path("CtrlBGPath", baseFolder, ctrl.bgPath) &&
         attributes.Int("CtrlBGStatusCount", ctrl.statusCount) &&
         attributes.Color("CtrlBGColor", ctrl.bgColorText, ctrl.bgColor) &&
         attributes.Color("CtrlBorderColor", ctrl.borderColorText, ctrl.borderColor) &&
         attributes.Int("CtrlPaintMode", ctrl.paintMode) &&
         attributes.Text("CtrlClass", ctrl.className) &&
         attributes.Style("CtrlStyle", ctrl.style) && attributes.Int("CtrlPosType", ctrl.posType) &&
         attributes.CtrlRect("CtrlPos", ctrl.rect) && attributes.Int("CtrlShow", ctrl.show) &&
         attributes.ShownText("CtrlText", ctrl.text) &&
         attributes.Point("CtrlTextOffSet", ctrl.textOffsetX, ctrl.textOffsetY) &&
         attributes.Color("CtrlTextColor", ctrl.textColorText, ctrl.textColor) &&
         attributes.Text("CtrlFont", ctrl.font) && attributes.Int("CtrlFontSize", ctrl.fontSize) &&
         attributes.ShownText("CtrlDiscrip", ctrl.description);
}

bool ReadStrings(const QDomElement& dialog, DialogInfo& record, LayoutReadReport* report,
                 LimitNotes& limits) {
  const QDomNodeList strings = dialog.elementsByTagName(QStringLiteral("StringInfo"));
  for (int index = 0; index < strings.length(); ++index) {
    const QDomElement element = strings.item(index).toElement();
    AttributeReader attributes(element, report, limits);
    QString id;
    QString value;
    if (!attributes.Text("StringID", id) || !attributes.ShownText("StringValue", value)) {
      return false;
    }
    record.strings.try_emplace(id, value);
  }
  return true;
}

}  // namespace

void ResetDialogInfo(DialogInfo& record) {
  record.dialogID = 0;
  record.bgPath.clear();
  record.text.clear();
  record.description.clear();
  record.textColorText.clear();
  record.font.clear();
  record.paintMode = 0;
  record.textColor = 0;
  record.textOffsetX = 0;
  record.textOffsetY = 0;
  record.fontSize = 0;
  record.ctrls.clear();
  record.strings.clear();
}

bool ReadLayoutDocument(const QByteArray& document, std::int32_t dialogId, const QString& variant,
                        const QString& baseFolder, DialogInfo& record, LayoutReadReport* report) {
  QDomDocument dom;
  if (!NestingIsShallow(document)) {
    Note(report, QStringLiteral("not a layout document: elements nested deeper than %1 levels")
                     .arg(kMaxLayoutDepth));
    MarkUnreadable(report);
    return true;
  }
  QString message;
  int line = 0;
  int column = 0;
  if (!dom.setContent(document, false, &message, &line, &column)) {
    Note(report, QStringLiteral("not an XML document: %1 (line %2, column %3)")
                     .arg(message)
                     .arg(line)
                     .arg(column));
    MarkUnreadable(report);
    return true;
  }

  LimitNotes limits(report);
  // The working CtrlInfo record lives through the whole read, so that an unreadable colour or
  // rectangle of one control keeps the value of the control read before it.
  CtrlInfo ctrl;
  bool matched = false;
  std::size_t ctrlsLeftOut = 0;
  const QDomNodeList dialogs = dom.elementsByTagName(QStringLiteral("DialogInfo"));
  bool read = true;
  for (int index = 0; read && index < dialogs.length(); ++index) {
    const QDomElement dialog = dialogs.item(index).toElement();
    if (dialog.parentNode().nodeName() != QLatin1String("WindowInformation") ||
        !dialog.parentNode().isElement()) {
      continue;
    }
    AttributeReader attributes(dialog, report, limits);
    std::int32_t id = 0;
    if (!attributes.Int("DialogID", id)) {
      read = false;
      break;
    }
    if (id != dialogId) {
      continue;
    }
    matched = true;
    record.dialogID = dialogId;
    if (!attributes.ShownText("DialogText", record.text) ||
        !attributes.ShownText("DialogDiscrip", record.description)) {
      read = false;
      break;
    }

    // An empty name would select any first child; no element has an empty name.
    const QDomElement look = variant.isEmpty() ? QDomElement() : dialog.firstChildElement(variant);
    if (look.isNull()) {
      Note(report, QStringLiteral("DialogInfo %1 at line %2 has no %3 element")
                       .arg(dialogId)
                       .arg(dialog.lineNumber())
                       .arg(variant));
    } else {
      if (!ReadDialogLook(look, baseFolder, record, report, limits)) {
        read = false;
        break;
      }
      const QDomNodeList ctrls = look.elementsByTagName(QStringLiteral("CtrlInfo"));
      for (int ctrlIndex = 0; ctrlIndex < ctrls.length(); ++ctrlIndex) {
        if (!ReadCtrl(ctrls.item(ctrlIndex).toElement(), baseFolder, ctrl, report, limits)) {
          read = false;
          break;
        }
        // Every element is still read, so that a missing attribute further down is found.
        if (record.ctrls.size() >= kMaxLayoutCtrls && !record.ctrls.contains(ctrl.ctrlID)) {
          ++ctrlsLeftOut;
          continue;
        }
        record.ctrls.try_emplace(ctrl.ctrlID, ctrl);
      }
    }
    if (read && !ReadStrings(dialog, record, report, limits)) {
      read = false;
    }
  }
  if (ctrlsLeftOut > 0) {
    Note(report, QStringLiteral("%1 controls beyond the first %2 were left out")
                     .arg(ctrlsLeftOut)
                     .arg(kMaxLayoutCtrls));
    if (report != nullptr) {
      report->limited = true;
    }
  }
  limits.Finish();
  if (read && !matched) {
    Note(report, QStringLiteral("no DialogInfo with DialogID %1").arg(dialogId));
  }
  return read;
}
