#include "LogCapture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "LabNetwork.h"
#include "diag/LogSystem.h"

namespace testsupport {
namespace {

// The reading the fixed clock gives. Worker threads of the engine read it while a test may be
// installing the next one, hence the lock.
std::mutex fixedReadingMutex;
LogClockReading fixedReading;

LogClockReading ReadFixedClock() {
  std::lock_guard<std::mutex> lock(fixedReadingMutex);
  return fixedReading;
}

}  // namespace

LogCapture::LogCapture() : path_(folder_.File("diagnostic.log")) {
  if (!SetLogState(true, path_.c_str())) {
    throw std::runtime_error("the log refused the path " + path_);
  }
  SetLogEchoStream(nullptr);
}

LogCapture::~LogCapture() {
  SetLogState(false, nullptr);
  SetLogEchoStream(stdout);
}

std::string LogCapture::Contents() const {
  std::ifstream file(path_, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

std::vector<std::string> LogCapture::Lines() const {
  const std::string contents = Contents();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = contents.find("\r\n", start);
    if (end == std::string::npos) {
      break;
    }
    lines.push_back(contents.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::size_t LogCapture::Count(const std::string& line) const {
  std::size_t count = 0;
  for (const std::string& item : Lines()) {
    count += item == line ? 1 : 0;
  }
  return count;
}

std::size_t LogCapture::CountContaining(const std::string& text) const {
  std::size_t count = 0;
  for (const std::string& item : Lines()) {
    count += item.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

bool LogCapture::WaitForCount(const std::string& line, std::size_t count,
                              std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Count(line) >= count; }, timeout);
}

void LogCapture::Clear() { std::ofstream(path_, std::ios::binary | std::ios::trunc); }

FixedLogClock::FixedLogClock(int dayOfMonth, int hour, int minute, int second, long microseconds)
    : day_(dayOfMonth), hour_(hour), minute_(minute), second_(second), microseconds_(microseconds) {
  {
    std::lock_guard<std::mutex> lock(fixedReadingMutex);
    fixedReading = LogClockReading{};
    fixedReading.localTime.tm_mday = dayOfMonth;
    fixedReading.localTime.tm_hour = hour;
    fixedReading.localTime.tm_min = minute;
    fixedReading.localTime.tm_sec = second;
    fixedReading.microseconds = microseconds;
  }
  SetLogClock(&ReadFixedClock);
}

FixedLogClock::~FixedLogClock() { SetLogClock(nullptr); }

std::string FixedLogClock::Stamped(const std::string& message) const {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "*[%02d::%02d:%02d:%02d]", day_, hour_, minute_, second_);
  return message + stamp;
}

std::string FixedLogClock::TimeStamped(const std::string& message) const {
  char stamp[48];
  if (microseconds_ != 0) {
    std::snprintf(stamp, sizeof stamp, "[--%02d:%02d:%02d.%06ld--]*", hour_, minute_, second_,
                  microseconds_);
  } else {
    std::snprintf(stamp, sizeof stamp, "[--%02d:%02d:%02d--]*", hour_, minute_, second_);
  }
  return stamp + message;
}

bool ContainsInOrder(const std::vector<std::string>& lines,
                     const std::vector<std::string>& expected, std::string* missing) {
  auto position = lines.begin();
  for (const std::string& line : expected) {
    position = std::find(position, lines.end(), line);
    if (position == lines.end()) {
      if (missing != nullptr) {
        *missing = line;
      }
      return false;
    }
    ++position;
  }
  return true;
}

}  // namespace testsupport
