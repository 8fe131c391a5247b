#include "LayoutDocument.h"

#include <algorithm>

namespace layouttest {

Attributes& Attributes::Set(const QString& name, const QString& value) {
  for (auto& entry : values_) {
    if (entry.first == name) {
      entry.second = value;
      return *this;
    }
  }
  values_.emplace_back(name, value);
  return *this;
}

Attributes& Attributes::Remove(const QString& name) {
  values_.erase(std::remove_if(values_.begin(), values_.end(),
                               [&](const auto& entry) { return entry.first == name; }),
                values_.end());
  return *this;
}

QString Attributes::Text() const {
  QString text;
  for (const auto& [name, value] : values_) {
    text += QStringLiteral(" %1=\"%2\"").arg(name, value.toHtmlEscaped());
  }
  return text;
}

Attributes CtrlAttributes(int ctrlId) {
  return Attributes({{"CtrlID", QString::number(ctrlId)},
                     {"CtrlBGPath", "\\Skin\\button.png"},
                     {"CtrlBGStatusCount", "4"},
                     {"CtrlBGColor", "1,2,3"},
                     {"CtrlBorderColor", "4,5,6"},
                     {"CtrlPaintMode", "4"},
                     {"CtrlClass", "StandardButton"},
                     {"CtrlStyle", "WS_CHILD|WS_VISIBLE"},
                     {"CtrlPosType", "3"},
                     {"CtrlPos", "1,2,3,4"},
                     {"CtrlShow", "5"},
                     {"CtrlText", "Text " + QString::number(ctrlId)},
                     {"CtrlTextOffSet", "0,6"},
                     {"CtrlTextColor", "7,8,9"},
                     {"CtrlFont", "Tahoma"},
                     {"CtrlFontSize", "12"},
                     {"CtrlDiscrip", "Description"}});
}

Attributes LookAttributes() {
  return Attributes({{"DialogBGPath", "\\Skin\\background.png"},
                     {"DialogBGColor", "255,255,255"},
                     {"DlgPaintMode", "8"},
                     {"DlgTextOffSet", "0,0"},
                     {"DlgTextColor", "244,245,247"},
                     {"DialogFont", "Tahoma"},
                     {"DialogFontSize", "12"},
                     {"DialogPos", "0,0,328,245"}});
}

Attributes DialogAttributes(int dialogId, const QString& text) {
  return Attributes({{"DialogID", QString::number(dialogId)},
                     {"DialogText", text},
                     {"DialogDiscrip", "About " + text}});
}

QString Element(const QString& name, const Attributes& attributes, const QString& content) {
  if (content.isEmpty()) {
    return QStringLiteral("<%1%2/>\r\n").arg(name, attributes.Text());
  }
  return QStringLiteral("<%1%2>\r\n%3</%1>\r\n").arg(name, attributes.Text(), content);
}

QString Ctrl(int ctrlId) { return Element("CtrlInfo", CtrlAttributes(ctrlId)); }

QString String(const QString& id, const QString& value) {
  return Element("StringInfo", Attributes({{"StringID", id}, {"StringValue", value}}));
}

QByteArray Document(const QString& body) {
  return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" +
         Element("WindowInformation", Attributes({}), body).toUtf8();
}

}  // namespace layouttest
