// Capture files: one per received datagram, numbered across ports, exactly the bytes received.

#include "CaptureWriter.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace nassim {
namespace {

namespace fs = std::filesystem;

TEST(CaptureFileName, NumbersWithAtLeastFourDigits) {
  EXPECT_EQ(CaptureFileName(68, 1), "68-0001.bin");
  EXPECT_EQ(CaptureFileName(1900, 42), "1900-0042.bin");
  EXPECT_EQ(CaptureFileName(68, 9999), "68-9999.bin");
  EXPECT_EQ(CaptureFileName(1900, 12345), "1900-12345.bin");
}

class CaptureWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "nassim-capture-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  fs::path root_;
};

TEST_F(CaptureWriterTest, WritesEachDatagramWholeUnderARunningNumber) {
  // The folder need not exist yet.
  const fs::path folder = root_ / "a" / "capture";
  CaptureWriter writer(folder.string());
  const std::string request("\x0b\x01\0\0\xff", 5);
  const std::string search = "M-SEARCH * HTTP/1.1\r\n\r\n";
  EXPECT_EQ(writer.Write(68, request.data(), request.size()), (folder / "68-0001.bin").string());
  writer.Write(1900, search.data(), search.size());
  writer.Write(68, "", 0);

  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  // No half-written file is left behind.
  EXPECT_EQ(names, (std::set<std::string>{"68-0001.bin", "1900-0002.bin", "68-0003.bin"}));
  EXPECT_EQ(Read(folder / "68-0001.bin"), request);
  EXPECT_EQ(Read(folder / "1900-0002.bin"), search);
  EXPECT_EQ(Read(folder / "68-0003.bin"), "");
}

TEST_F(CaptureWriterTest, ReportsAFolderItCannotWrite) {
  const fs::path blocker = root_ / "file";
  std::ofstream(blocker) << "x";
  EXPECT_THROW(CaptureWriter((blocker / "capture").string()), fs::filesystem_error);
}

}  // namespace
}  // namespace nassim
