#include "platform/FontFamilies.h"

#include <gtest/gtest.h>

namespace {

// The fonts the setup script installs: fonts-liberation, fonts-dejavu-core, fonts-wqy-zenhei.
TEST(FontFamiliesTest, LayoutFamiliesResolveToInstalledFamilies) {
  struct Case {
    QString family;
    QString expected;
  };
  const Case cases[] = {
      {"Tahoma", "Liberation Sans"},
      {"tahoma", "Liberation Sans"},
      {"MS Shell Dlg", "Liberation Sans"},
      {"Arial", "Liberation Sans"},
      {"宋体", "WenQuanYi Zen Hei"},
      {"SimSun", "WenQuanYi Zen Hei"},
      // An installed family is itself, whatever the case of the name.
      {"DejaVu Sans", "DejaVu Sans"},
      {"dejavu sans", "DejaVu Sans"},
      // Neither installed nor substituted: a failed font.
      {"NoSuchFontFamily", ""},
      {"courier New", ""},
      {"Tahoma ", ""},
      {"", ""},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ResolveFontFamily(test.family), test.expected) << test.family.toStdString();
  }
}

TEST(FontFamiliesTest, SubstitutesArePreferredInOrder) {
  EXPECT_EQ(FontSubstitutes("Tahoma"), QStringList({"Liberation Sans", "DejaVu Sans"}));
  EXPECT_EQ(FontSubstitutes("SIMSUN"), QStringList({"WenQuanYi Zen Hei", "Noto Sans CJK SC"}));
  EXPECT_TRUE(FontSubstitutes("Liberation Sans").isEmpty());
}

}  // namespace
