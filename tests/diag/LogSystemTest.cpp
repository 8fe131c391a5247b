#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diag/LogSystem.h"

namespace {

namespace fs = std::filesystem;

LogClockReading FixedClock() {
  LogClockReading reading;
  reading.localTime.tm_mday = 7;
  reading.localTime.tm_hour = 9;
  reading.localTime.tm_min = 5;
  reading.localTime.tm_sec = 3;
  reading.microseconds = 250;
  return reading;
}

LogClockReading WholeSecondClock() {
  LogClockReading reading = FixedClock();
  reading.microseconds = 0;
  return reading;
}

class LogSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tarvelo-log-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "diag.log").string();
    SetLogClock(&FixedClock);
    SetLogEchoStream(stdout);
  }
  void TearDown() override {
    SetLogState(false, nullptr);
    SetLogClock(nullptr);
    SetLogEchoStream(stdout);
    fs::remove_all(folder_);
  }

  std::string FileText() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path folder_;
  std::string path_;
};

TEST_F(LogSystemTest, OffOrWithoutPathTouchesNeitherFileNorStandardOutput) {
  struct Case {
    bool enabled;
    bool withPath;
  };
  for (const Case c : {Case{false, true}, Case{true, false}, Case{false, false}}) {
    SetLogState(c.enabled, c.withPath ? path_.c_str() : "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteLog("abc"), 0);
    EXPECT_EQ(WriteTimeLog("abc"), 0);
    CloseLog();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(path_)) << "enabled " << c.enabled << " path " << c.withPath;
    EXPECT_FALSE(IsLogEnabled());
  }
}

TEST_F(LogSystemTest, LinesCarryTheirStampsInBothWriters) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("abc"), 1);
  EXPECT_EQ(WriteTimeLog("abc"), 1);
  SetLogClock(&WholeSecondClock);
  EXPECT_EQ(WriteTimeLog("port %d", 67), 1);
  const std::string expected =
      "abc*[07::09:05:03]\r\n"
      "[--09:05:03.000250--]*abc\r\n"
      "[--09:05:03--]*port 67\r\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(FileText(), expected);
}

TEST_F(LogSystemTest, PercentSignsInArgumentsAreWrittenUnchanged) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("%s", "100%d %s %n"), 1);
  const std::string expected = "100%d %s %n*[07::09:05:03]\r\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(FileText(), expected);
}

TEST_F(LogSystemTest, MessagesAndLinesOverTheLimitAreDropped) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  const std::string fits(1023 - 20, 'x');  // 20 = "*[07::09:05:03]\r\n" + slack
  const std::string exactlyLimit(1023, 'y');
  const std::string overLimit(1024, 'z');
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("%s", fits.c_str()), 1);
  // Accepted as a message, but the stamped line no longer fits.
  EXPECT_EQ(WriteLog("%s", exactlyLimit.c_str()), 0);
  EXPECT_EQ(WriteTimeLog("%s", exactlyLimit.c_str()), 0);
  EXPECT_EQ(WriteLog("%s", overLimit.c_str()), 0);
  EXPECT_EQ(WriteLog("%s", ""), 0);
  EXPECT_EQ(WriteLog(nullptr), 0);
  const std::string expected = fits + "*[07::09:05:03]\r\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(FileText(), expected);
}

TEST_F(LogSystemTest, LongestLineThatFitsIsKept) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  // "*[07::09:05:03]\r\n" is 17 characters.
  const std::string message(1023 - 17, 'm');
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("%s", message.c_str()), 1);
  EXPECT_EQ(WriteLog("%s", (message + "m").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().size(), 1023u);
}

TEST_F(LogSystemTest, CloseLogAppendsTheExitLineToTheFileOnly) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  testing::internal::CaptureStdout();
  WriteLog("a");
  CloseLog();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a*[07::09:05:03]\r\n");
  EXPECT_EQ(FileText(), "a*[07::09:05:03]\r\n------Exit Log System-------\r\n");
}

TEST_F(LogSystemTest, UnopenableFileStillEchoesAndReportsALine) {
  const std::string unreachable = (folder_ / "missing-folder" / "diag.log").string();
  ASSERT_TRUE(SetLogState(true, unreachable.c_str()));
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("abc"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "abc*[07::09:05:03]\r\n");
  EXPECT_FALSE(fs::exists(unreachable));
}

TEST_F(LogSystemTest, EchoCanBeSentElsewhereOrSilenced) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  SetLogEchoStream(nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteLog("quiet"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(FileText(), "quiet*[07::09:05:03]\r\n");
}

TEST_F(LogSystemTest, PathLongerThanItsBufferIsRefusedAndLeavesTheLogOff) {
  const std::string tooLong(kLogPathSize, 'p');
  EXPECT_FALSE(SetLogState(true, tooLong.c_str()));
  EXPECT_FALSE(IsLogEnabled());
  EXPECT_TRUE(SetLogState(true, path_.c_str()));
  EXPECT_TRUE(IsLogEnabled());
}

TEST_F(LogSystemTest, LinesOfManyThreadsStayWhole) {
  ASSERT_TRUE(SetLogState(true, path_.c_str()));
  SetLogEchoStream(nullptr);
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string payload(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) {
        WriteLog("%d:%s", t, payload.c_str());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::istringstream lines(FileText());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_GE(line.size(), 3u);
    const char mark = static_cast<char>('a' + (line[0] - '0'));
    EXPECT_EQ(line.substr(2, 300), std::string(300, mark));
    EXPECT_EQ(line.substr(302), "*[07::09:05:03]\r");
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
