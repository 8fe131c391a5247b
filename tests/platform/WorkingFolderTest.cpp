#include "platform/WorkingFolder.h"

#include <gtest/gtest.h>

#include "ScopedEnvironment.h"

namespace {

using testsupport::ScopedEnvironment;

TEST(WorkingFolderTest, BaseFolderIsTheDataFolderWithoutTrailingSeparator) {
  {
    const ScopedEnvironment data("XDG_DATA_HOME", "/tmp/tarvelo-data/");
    EXPECT_EQ(GetWorkingBaseFolder(), "/tmp/tarvelo-data");
  }
  {
    const ScopedEnvironment data("XDG_DATA_HOME", std::nullopt);
    const ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(GetWorkingBaseFolder(), "/home/someone/.local/share");
  }
}

TEST(WorkingFolderTest, RelativeSkinPathsJoinWithForwardSlashes) {
  struct Case {
    QString base;
    QString relative;
    QString expected;
  };
  const Case cases[] = {
      {"/data", "\\ORVAKSearchTools\\Picture\\logo.png", "/data/ORVAKSearchTools/Picture/logo.png"},
      {"/data", "\\ORVAKSearchTools", "/data/ORVAKSearchTools"},
      // An empty layout value names the base folder itself, which is no image.
      {"/data", "", "/data"},
      {"/data", "/already/forward", "/data/already/forward"},
      // Without a base folder there is no path at all, not one at the file system root.
      {"", "\\ORVAKSearchTools\\Picture\\logo.png", ""},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(JoinLayoutPath(test.base, test.relative), test.expected) << test.relative.toStdString();
  }
  const ScopedEnvironment data("XDG_DATA_HOME", "/tmp/tarvelo-data");
  EXPECT_EQ(MakeLayoutPath("\\ORVAKSearchTools\\WndLayoutInfo.xml"),
            "/tmp/tarvelo-data/ORVAKSearchTools/WndLayoutInfo.xml");
}

}  // namespace
