#include "layout/LayoutReader.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QXmlStreamReader>

#include "layout/LayoutValues.h"
#include "platform/WorkingFolder.h"

namespace {

// Reads attributes of one element and remembers the first that is missing.
class AttributeReader {
 public:
  AttributeReader(const QDomElement& element, LayoutReadReport* report)
      : element_(element), report_(report) {}

  // False, with the report filled in, when the element lacks the attribute.
  bool Text(const char* name, QString& value) {
    const QString key = QString::fromLatin1(name);
    if (!element_.hasAttribute(key)) {
      if (report_ != nullptr) {
        report_->error = QStringLiteral("%1 element at line %2 has no %3 attribute")
                             .arg(element_.tagName())
                             .arg(element_.lineNumber())
                             .arg(key);
      }
      return false;
    }
    value = element_.attribute(key);
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
};

void Note(LayoutReadReport* report, const QString& note) {
  if (report != nullptr) {
    report->notes << note;
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

bool ReadDialogLook(const QDomElement& look, const QString& baseFolder, DialogInfo& record,
                    LayoutReadReport* report) {
  AttributeReader attributes(look, report);
  return attributes.Path("DialogBGPath", baseFolder, record.bgPath) &&
         attributes.Color("DialogBGColor", record.bgColorText, record.bgColor) &&
         attributes.Int("DlgPaintMode", record.paintMode) &&
         attributes.Point("DlgTextOffSet", record.textOffsetX, record.textOffsetY) &&
         attributes.Color("DlgTextColor", record.textColorText, record.textColor) &&
         attributes.Text("DialogFont", record.font) &&
         attributes.Int("DialogFontSize", record.fontSize) &&
         attributes.Rect("DialogPos", record.rect);
}

// Fills `ctrl` from one CtrlInfo element. The colours and the rectangle are not reset first: a
// value that cannot be parsed keeps the previous control's value.
bool ReadCtrl(const QDomElement& element, const QString& baseFolder, CtrlInfo& ctrl,
              LayoutReadReport* report) {
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

  AttributeReader attributes(element, report);
  return attributes.Int("CtrlID", ctrl.ctrlID) &&
         attributes.Path("CtrlBGPath", baseFolder, ctrl.bgPath) &&
         attributes.Int("CtrlBGStatusCount", ctrl.statusCount) &&
         attributes.Color("CtrlBGColor", ctrl.bgColorText, ctrl.bgColor) &&
         attributes.Color("CtrlBorderColor", ctrl.borderColorText, ctrl.borderColor) &&
         attributes.Int("CtrlPaintMode", ctrl.paintMode) &&
         attributes.Text("CtrlClass", ctrl.className) &&
         attributes.Style("CtrlStyle", ctrl.style) &&
         attributes.Int("CtrlPosType", ctrl.posType) && attributes.Rect("CtrlPos", ctrl.rect) &&
         attributes.Int("CtrlShow", ctrl.show) && attributes.Text("CtrlText", ctrl.text) &&
         attributes.Point("CtrlTextOffSet", ctrl.textOffsetX, ctrl.textOffsetY) &&
         attributes.Color("CtrlTextColor", ctrl.textColorText, ctrl.textColor) &&
         attributes.Text("CtrlFont", ctrl.font) && attributes.Int("CtrlFontSize", ctrl.fontSize) &&
         attributes.Text("CtrlDiscrip", ctrl.description);
}

bool ReadStrings(const QDomElement& dialog, DialogInfo& record, LayoutReadReport* report) {
  const QDomNodeList strings = dialog.elementsByTagName(QStringLiteral("StringInfo"));
  for (int index = 0; index < strings.length(); ++index) {
    const QDomElement element = strings.item(index).toElement();
    AttributeReader attributes(element, report);
    QString id;
    QString value;
    if (!attributes.Text("StringID", id) || !attributes.Text("StringValue", value)) {
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
    return true;
  }

  // The working CtrlInfo record lives through the whole read, so that an unreadable colour or
  // rectangle of one control keeps the value of the control read before it.
  CtrlInfo ctrl;
  bool matched = false;
  const QDomNodeList dialogs = dom.elementsByTagName(QStringLiteral("DialogInfo"));
  for (int index = 0; index < dialogs.length(); ++index) {
    const QDomElement dialog = dialogs.item(index).toElement();
    if (dialog.parentNode().nodeName() != QLatin1String("WindowInformation") ||
        !dialog.parentNode().isElement()) {
      continue;
    }
    AttributeReader attributes(dialog, report);
    std::int32_t id = 0;
    if (!attributes.Int("DialogID", id)) {
      return false;
    }
    if (id != dialogId) {
      continue;
    }
    matched = true;
    record.dialogID = dialogId;
    if (!attributes.Text("DialogText", record.text) ||
        !attributes.Text("DialogDiscrip", record.description)) {
      return false;
    }

    // An empty name would select any first child; no element has an empty name.
    const QDomElement look = variant.isEmpty() ? QDomElement() : dialog.firstChildElement(variant);
    if (look.isNull()) {
      Note(report, QStringLiteral("DialogInfo %1 at line %2 has no %3 element")
                       .arg(dialogId)
                       .arg(dialog.lineNumber())
                       .arg(variant));
    } else {
      if (!ReadDialogLook(look, baseFolder, record, report)) {
        return false;
      }
      const QDomNodeList ctrls = look.elementsByTagName(QStringLiteral("CtrlInfo"));
      for (int ctrlIndex = 0; ctrlIndex < ctrls.length(); ++ctrlIndex) {
        if (!ReadCtrl(ctrls.item(ctrlIndex).toElement(), baseFolder, ctrl, report)) {
          return false;
        }
        record.ctrls.try_emplace(ctrl.ctrlID, ctrl);
      }
    }
    if (!ReadStrings(dialog, record, report)) {
      return false;
    }
  }
  if (!matched) {
    Note(report, QStringLiteral("no DialogInfo with DialogID %1").arg(dialogId));
  }
  return true;
}
