#include "platform/SystemLanguage.h"

#include <gtest/gtest.h>

#include "ScopedEnvironment.h"

namespace {

using testsupport::ScopedEnvironment;

// Every identifier that selects a language of its own, and the locale that gives it.
TEST(SystemLanguageTest, LocalesGiveTheirWindowsLanguageIdentifiers) {
  struct Case {
    const char* locale;
    std::uint16_t id;
  };
  const Case cases[] = {
      {"zh_CN", 2052}, {"zh_HK", 3076}, {"zh_SG", 4100}, {"zh_MO", 5124}, {"zh_TW", 1028},
      {"ja_JP", 1041}, {"de_DE", 1031}, {"de_CH", 2055}, {"de_AT", 3079}, {"de_LU", 4103},
      {"de_LI", 5127}, {"fr_FR", 1036}, {"fr_BE", 2060}, {"fr_CA", 3084}, {"fr_CH", 4108},
      {"fr_LU", 5132}, {"fr_MC", 6156}, {"ru_RU", 1049}, {"ko_KR", 1042}, {"ko_KR.JOHAB", 2066},
      {"pt_BR", 1046}, {"pt_PT", 2070}, {"es_ES@traditional", 1034}, {"es_MX", 2058},
      {"es_ES", 3082}, {"es_GT", 4106}, {"es_CR", 5130}, {"es_PA", 6154}, {"es_DO", 7178},
      {"es_VE", 8202}, {"es_CO", 9226}, {"es_PE", 10250}, {"es_AR", 11274}, {"es_EC", 12298},
      {"es_CL", 13322}, {"es_UY", 14346}, {"es_PY", 15370}, {"es_BO", 16394}, {"es_SV", 17418},
      {"es_HN", 18442}, {"es_NI", 19466}, {"es_PR", 20490}, {"it_IT", 1040}, {"it_CH", 2064},
      {"nl_NL", 1043}, {"nl_BE", 2067}, {"pl_PL", 1045}, {"da_DK", 1030}, {"en_US", 1033},
      {"en_GB", 2057}, {"sv_SE", 1053},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(LanguageIdFromLocaleName(test.locale), test.id) << test.locale;
  }
}

TEST(SystemLanguageTest, LocaleNamesInEveryWrittenForm) {
  struct Case {
    const char* locale;
    std::uint16_t id;
  };
  const Case cases[] = {
      {"zh_CN.UTF-8", 2052}, {"zh_TW.Big5", 1028}, {"de_AT@euro", 3079}, {"de_AT.UTF-8@euro", 3079},
      {"es-PE", 10250},      {"ZH_tw", 1028},       {" ja_JP.UTF-8 ", 1041},
      // A language alone, or with a territory the table does not know, is the language's default.
      {"de", 1031}, {"de_BE", 1031}, {"zh", 2052}, {"es_ES.UTF-8@euro", 3082},
      // The C locale is English (United States); an unknown language is neutral.
      {"C", 1033}, {"C.UTF-8", 1033}, {"POSIX", 1033}, {"", 1033}, {"xx_YY", 0}, {"tlh", 0},
      // The legacy forms need their exact modifier or codeset.
      {"ko_KR.UTF-8", 1042}, {"es_MX@traditional", 2058},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(LanguageIdFromLocaleName(test.locale), test.id) << '"' << test.locale << '"';
  }
}

TEST(SystemLanguageTest, LcAllBeatsLcMessagesBeatsLang) {
  {
    const ScopedEnvironment all("LC_ALL", "ja_JP.UTF-8");
    const ScopedEnvironment messages("LC_MESSAGES", "de_DE.UTF-8");
    const ScopedEnvironment lang("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(SystemLocaleName(), "ja_JP.UTF-8");
    EXPECT_EQ(GetSystemDefaultLangID(), 1041);
  }
  {
    const ScopedEnvironment all("LC_ALL", "");
    const ScopedEnvironment messages("LC_MESSAGES", "de_DE.UTF-8");
    const ScopedEnvironment lang("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(GetSystemDefaultLangID(), 1031);
  }
  {
    const ScopedEnvironment all("LC_ALL", std::nullopt);
    const ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
    const ScopedEnvironment lang("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(GetSystemDefaultLangID(), 1036);
  }
  {
    const ScopedEnvironment all("LC_ALL", std::nullopt);
    const ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
    const ScopedEnvironment lang("LANG", std::nullopt);
    EXPECT_EQ(SystemLocaleName(), "C");
    EXPECT_EQ(GetSystemDefaultLangID(), 1033);
  }
}

}  // namespace
