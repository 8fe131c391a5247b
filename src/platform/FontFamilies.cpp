#include "platform/FontFamilies.h"

#include <fontconfig/fontconfig.h>

#include <memory>
#include <vector>

#include <QFontDatabase>
#include <QGuiApplication>

namespace {

struct Substitution {
  const char16_t* family;
  const char16_t* substitutes[3];
};

// Metric-compatible families first, then families of the same script that the supported systems
// install. The CJK families end in WenQuanYi Zen Hei, which also has kana and hangul, so that a
// system with only that CJK family still draws Japanese and Korean captions.
constexpr Substitution kSubstitutions[] = {
    {u"Tahoma", {u"Liberation Sans", u"DejaVu Sans", nullptr}},
    {u"MS Shell Dlg", {u"Liberation Sans", u"DejaVu Sans", nullptr}},
    {u"Arial", {u"Liberation Sans", nullptr, nullptr}},
    {u"宋体", {u"WenQuanYi Zen Hei", u"Noto Sans CJK SC", nullptr}},
    {u"SimSun", {u"WenQuanYi Zen Hei", u"Noto Sans CJK SC", nullptr}},
    {u"Meiryo", {u"Noto Sans CJK JP", u"IPAGothic", u"WenQuanYi Zen Hei"}},
    {u"Malgun Gothic", {u"Noto Sans CJK KR", u"NanumGothic", u"WenQuanYi Zen Hei"}},
};

struct FcPatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct FcObjectSetDeleter {
  void operator()(FcObjectSet* set) const { FcObjectSetDestroy(set); }
};
struct FcFontSetDeleter {
  void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};

// Every name of every installed font family as fontconfig knows it: a family carries one name per
// language it was named in (WenQuanYi Zen Hei is also 文泉驿正黑 and 文泉驛正黑), and which of them
// the desktop's font list shows depends on the session's language.
std::vector<QStringList> ListFamilyNames() {
  std::vector<QStringList> families;
  const std::unique_ptr<FcPattern, FcPatternDeleter> pattern(FcPatternCreate());
  const std::unique_ptr<FcObjectSet, FcObjectSetDeleter> objects(
      FcObjectSetBuild(FC_FAMILY, static_cast<char*>(nullptr)));
  if (!pattern || !objects) {
    return families;
  }
  const std::unique_ptr<FcFontSet, FcFontSetDeleter> fonts(
      FcFontList(nullptr, pattern.get(), objects.get()));
  if (!fonts) {
    return families;
  }
  for (int font = 0; font < fonts->nfont; ++font) {
    QStringList names;
    FcChar8* value = nullptr;
    for (int index = 0;
         FcPatternGetString(fonts->fonts[font], FC_FAMILY, index, &value) == FcResultMatch;
         ++index) {
      names << QString::fromUtf8(reinterpret_cast<const char*>(value));
    }
    if (!names.isEmpty()) {
      families.push_back(std::move(names));
    }
  }
  return families;
}

// The fonts of a running session do not change under it, so the list is read once.
const std::vector<QStringList>& FamilyNames() {
  static const std::vector<QStringList> names = ListFamilyNames();
  return names;
}

QString ListedFamily(const QStringList& listed, const QString& name) {
  for (const QString& family : listed) {
    if (family.compare(name, Qt::CaseInsensitive) == 0) {
      return family;
    }
  }
  return QString();
}

// The name under which the font database lists the family that `name` names in any language.
QString InstalledFamily(const QStringList& listed, const QString& name) {
  QString found = ListedFamily(listed, name);
  if (!found.isEmpty()) {
    return found;
  }
  for (const QStringList& names : FamilyNames()) {
    if (!names.contains(name, Qt::CaseInsensitive)) {
      continue;
    }
    for (const QString& other : names) {
      found = ListedFamily(listed, other);
      if (!found.isEmpty()) {
        return found;
      }
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

QStringList FontFamilyNames(const QString& family) {
  for (const QStringList& names : FamilyNames()) {
    if (names.contains(family, Qt::CaseInsensitive)) {
      return names;
    }
  }
  return {};
}

QString ResolveFontFamily(const QString& family) {
  if (family.isEmpty() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return QString();
  }
  const QStringList listed = QFontDatabase::families();
  QString found = InstalledFamily(listed, family);
  if (!found.isEmpty()) {
    return found;
  }
  for (const QString& substitute : FontSubstitutes(family)) {
    found = InstalledFamily(listed, substitute);
    if (!found.isEmpty()) {
      return found;
    }
  }
  return QString();
}
