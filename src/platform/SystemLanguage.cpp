#include "platform/SystemLanguage.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

struct LocaleLanguageId {
  const char* name;  // "ll" for the language's default, "ll_TT" for one territory
  std::uint16_t id;
};

// The identifiers are those of the Windows SDK (MAKELANGID of primary and sub-language).
constexpr LocaleLanguageId kLanguageIds[] = {
    // English
    {"en", 1033}, {"en_US", 1033}, {"en_GB", 2057}, {"en_AU", 3081}, {"en_CA", 4105},
    {"en_NZ", 5129}, {"en_IE", 6153}, {"en_ZA", 7177}, {"en_IN", 16393}, {"en_SG", 18441},
    // Chinese
    {"zh", 2052}, {"zh_CN", 2052}, {"zh_TW", 1028}, {"zh_HK", 3076}, {"zh_SG", 4100},
    {"zh_MO", 5124},
    // Japanese, Korean
    {"ja", 1041}, {"ja_JP", 1041}, {"ko", 1042}, {"ko_KR", 1042},
    // German
    {"de", 1031}, {"de_DE", 1031}, {"de_CH", 2055}, {"de_AT", 3079}, {"de_LU", 4103},
    {"de_LI", 5127},
    // French
    {"fr", 1036}, {"fr_FR", 1036}, {"fr_BE", 2060}, {"fr_CA", 3084}, {"fr_CH", 4108},
    {"fr_LU", 5132}, {"fr_MC", 6156},
    // Russian
    {"ru", 1049}, {"ru_RU", 1049},
    // Portuguese
    {"pt", 1046}, {"pt_BR", 1046}, {"pt_PT", 2070},
    // Spanish
    {"es", 3082}, {"es_ES", 3082}, {"es_MX", 2058}, {"es_GT", 4106}, {"es_CR", 5130},
    {"es_PA", 6154}, {"es_DO", 7178}, {"es_VE", 8202}, {"es_CO", 9226}, {"es_PE", 10250},
    {"es_AR", 11274}, {"es_EC", 12298}, {"es_CL", 13322}, {"es_UY", 14346}, {"es_PY", 15370},
    {"es_BO", 16394}, {"es_SV", 17418}, {"es_HN", 18442}, {"es_NI", 19466}, {"es_PR", 20490},
    {"es_US", 21514},
    // Italian, Dutch, Polish, Danish
    {"it", 1040}, {"it_IT", 1040}, {"it_CH", 2064}, {"nl", 1043}, {"nl_NL", 1043},
    {"nl_BE", 2067}, {"pl", 1045}, {"pl_PL", 1045}, {"da", 1030}, {"da_DK", 1030},
    // Languages without a layout of their own
    {"ar", 1025}, {"bg", 1026}, {"ca", 1027}, {"cs", 1029}, {"el", 1032}, {"fi", 1035},
    {"he", 1037}, {"hu", 1038}, {"is", 1039}, {"nb", 1044}, {"no", 1044}, {"ro", 1048},
    {"hr", 1050}, {"sk", 1051}, {"sq", 1052}, {"sv", 1053}, {"sv_FI", 2077}, {"th", 1054},
    {"tr", 1055}, {"id", 1057}, {"uk", 1058}, {"sl", 1060}, {"et", 1061}, {"lv", 1062},
    {"lt", 1063}, {"vi", 1066}, {"nn", 2068}, {"sr", 3098},
};

std::uint16_t Lookup(const QByteArray& name) {
  for (const LocaleLanguageId& entry : kLanguageIds) {
    if (name == entry.name) {
      return entry.id;
    }
  }
  return 0;
}

}  // namespace

QString SystemLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty()) {
      return value;
    }
  }
  return QStringLiteral("C");
}

std::uint16_t LanguageIdFromLocaleName(const QString& localeName) {
  // language[_territory][.codeset][@modifier]
  QString name = localeName.trimmed();
  QString modifier;
  QString codeset;
  if (const qsizetype at = name.indexOf(QLatin1Char('@')); at >= 0) {
    modifier = name.mid(at + 1);
    name.truncate(at);
  }
  if (const qsizetype dot = name.indexOf(QLatin1Char('.')); dot >= 0) {
    codeset = name.mid(dot + 1);
    name.truncate(dot);
  }
  name.replace(QLatin1Char('-'), QLatin1Char('_'));
  if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX")) {
    return 1033;
  }
  const qsizetype underscore = name.indexOf(QLatin1Char('_'));
  const QString language = name.left(underscore < 0 ? name.size() : underscore).toLower();
  const QString territory = underscore < 0 ? QString() : name.mid(underscore + 1).toUpper();

  if (language == QLatin1String("ko") && codeset.compare(QLatin1String("JOHAB"), Qt::CaseInsensitive) == 0) {
    return 2066;
  }
  if (language == QLatin1String("es") && territory == QLatin1String("ES") &&
      modifier == QLatin1String("traditional")) {
    return 1034;
  }
  if (!territory.isEmpty()) {
    if (const std::uint16_t id = Lookup((language + QLatin1Char('_') + territory).toLatin1())) {
      return id;
    }
  }
  return Lookup(language.toLatin1());
}

std::uint16_t GetSystemDefaultLangID() { return LanguageIdFromLocaleName(SystemLocaleName()); }
