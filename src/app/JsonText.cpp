#include "app/JsonText.h"

std::string JsonString(const QString& text) {
  QString escaped;
  escaped.reserve(text.size() + 2);
  escaped += QLatin1Char('"');
  for (qsizetype index = 0; index < text.size(); ++index) {
    const QChar ch = text.at(index);
    const char16_t code = ch.unicode();
    if (code == u'"') {
      escaped += QLatin1String("\\\"");
    } else if (code == u'\\') {
      escaped += QLatin1String("\\\\");
    } else if (code < 0x20) {
      escaped += QString::asprintf("\\u%04x", static_cast<unsigned>(code));
    } else if (ch.isHighSurrogate() && index + 1 < text.size() &&
               text.at(index + 1).isLowSurrogate()) {
      escaped += ch;
      escaped += text.at(++index);
    } else if (ch.isSurrogate()) {
      // A lone half of a pair has no UTF-8 form; the replacement character keeps the output
      // valid.
      escaped += QChar(QChar::ReplacementCharacter);
    } else {
      escaped += ch;
    }
  }
  escaped += QLatin1Char('"');
  return escaped.toUtf8().toStdString();
}
