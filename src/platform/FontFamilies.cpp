#include "platform/FontFamilies.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace {

struct Substitution {
  const char16_t* family;
  const char16_t* substitutes[2];
};

// Metric-compatible families first, then a family of the same script that every supported
// system has.
constexpr Substitution kSubstitutions[] = {
    {u"Tahoma", {u"Liberation Sans", u"DejaVu Sans"}},
    {u"MS Shell Dlg", {u"Liberation Sans", u"DejaVu Sans"}},
    {u"Arial", {u"Liberation Sans", nullptr}},
    {u"宋体", {u"WenQuanYi Zen Hei", u"Noto Sans CJK SC"}},
    {u"SimSun", {u"WenQuanYi Zen Hei", u"Noto Sans CJK SC"}},
};

QString InstalledFamily(const QStringList& installed, const QString& family) {
  for (const QString& name : installed) {
    if (name.compare(family, Qt::CaseInsensitive) == 0) {
      return name;
    }
  }
  return QString();
}

}  // namespace

QStringList FontSubstitutes(const QString& family) {
  QStringList result;
  for (const Substitution& entry : kSubstitutions) {
    if (family.compare(QString::fromUtf16(entry.family), Qt::CaseInsensitive) != 0) {
      continue;
    }
    for (const char16_t* substitute : entry.substitutes) {
      if (substitute != nullptr) {
        result << QString::fromUtf16(substitute);
      }
    }
  }
  return result;
}

QString ResolveFontFamily(const QString& family) {
  if (family.isEmpty() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return QString();
  }
  const QStringList installed = QFontDatabase::families();
  QString found = InstalledFamily(installed, family);
  if (!found.isEmpty()) {
    return found;
  }
  for (const QString& substitute : FontSubstitutes(family)) {
    found = InstalledFamily(installed, substitute);
    if (!found.isEmpty()) {
      return found;
    }
  }
  return QString();
}
