#include "diag/LogSystem.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace {

// The switch and the path are set at start-up, before any worker runs, and only read afterwards.
// The path is still read under a lock, so that a change while workers log (tests, a command-line
// option) is well defined; while the log is off no lock is taken.
std::atomic<bool> logEnabled{false};
std::mutex pathMutex;
char logFilePath[kLogPathSize] = {};
// One pointer, so that a change of stream never splits between two settings.
std::atomic<std::FILE*> echoStream{stdout};
std::atomic<LogClock> logClock{nullptr};

// Copies the log file's path; false while the log is off or has no path.
bool CurrentPath(char (&path)[kLogPathSize]) {
  if (!logEnabled.load()) {
    return false;
  }
  std::lock_guard<std::mutex> lock(pathMutex);
  std::memcpy(path, logFilePath, sizeof path);
  return path[0] != '\0';
}

LogClockReading SystemClockReading() {
  LogClockReading reading;
  const boost::posix_time::ptime now = boost::posix_time::microsec_clock::local_time();
  reading.localTime = boost::posix_time::to_tm(now);
  reading.microseconds = static_cast<long>(now.time_of_day().fractional_seconds());
  return reading;
}

LogClockReading ReadClock() {
  const LogClock clock = logClock.load();
  return clock != nullptr ? clock() : SystemClockReading();
}

// Formats the caller's message into at most kLogLineLimit characters; false when the message is
// empty or does not fit.
bool FormatMessage(char (&message)[kLogLineLimit + 1], const char* format, std::va_list args) {
  if (format == nullptr) {
    return false;
  }
  const int length = std::vsnprintf(message, sizeof message, format, args);
  return length > 0 && length <= kLogLineLimit;
}

void AppendToFile(const char* path, const char* text, std::size_t length) {
  std::FILE* file = std::fopen(path, "a+");
  if (file == nullptr) {
    return;
  }
  std::fwrite(text, 1, length, file);
  std::fclose(file);
}

void Emit(const char* path, const char* line, std::size_t length) {
  AppendToFile(path, line, length);
  std::FILE* stream = echoStream.load();
  if (stream != nullptr) {
    // Written as data, never as a format: a "%" in the message stays as it is.
    std::fwrite(line, 1, length, stream);
    std::fflush(stream);
  }
}

enum class Stamp { DayAndTimeAfter, TimeOfDayBefore };

// Both writers: the message from the caller's format, the stamp, one line to the file and to
// the echo. Returns 1 when a line was produced.
int WriteStampedLine(Stamp stamp, const char* format, std::va_list args) {
  char path[kLogPathSize];
  if (!CurrentPath(path)) {
    return 0;
  }
  char message[kLogLineLimit + 1];
  if (!FormatMessage(message, format, args)) {
    return 0;
  }
  const LogClockReading now = ReadClock();
  const std::tm& time = now.localTime;
  char line[kLogLineLimit + 1];
  int length = 0;
  if (stamp == Stamp::DayAndTimeAfter) {
    length = std::snprintf(line, sizeof line, "%s*[%02d::%02d:%02d:%02d]\r\n", message,
                           time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  } else {
    // The time of day as the ISO 8601 extended text gives it: HH:MM:SS, and a six-digit
    // fraction only when the microseconds are not zero.
    char timeText[32];
    if (now.microseconds != 0) {
      std::snprintf(timeText, sizeof timeText, "%02d:%02d:%02d.%06ld", time.tm_hour, time.tm_min,
                    time.tm_sec, now.microseconds);
    } else {
      std::snprintf(timeText, sizeof timeText, "%02d:%02d:%02d", time.tm_hour, time.tm_min,
                    time.tm_sec);
    }
    length = std::snprintf(line, sizeof line, "[--%s--]*%s\r\n", timeText, message);
  }
  if (length <= 0 || length > kLogLineLimit) {
    return 0;
  }
  Emit(path, line, static_cast<std::size_t>(length));
  return 1;
}

}  // namespace

int WriteLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = WriteStampedLine(Stamp::DayAndTimeAfter, format, args);
  va_end(args);
  return written;
}

int WriteTimeLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = WriteStampedLine(Stamp::TimeOfDayBefore, format, args);
  va_end(args);
  return written;
}

void CloseLog() {
  char path[kLogPathSize];
  if (!CurrentPath(path)) {
    return;
  }
  static constexpr char kExitLine[] = "------Exit Log System-------\r\n";
  AppendToFile(path, kExitLine, sizeof kExitLine - 1);
}

bool SetLogState(bool enabled, const char* path) {
  logEnabled.store(false);
  std::lock_guard<std::mutex> lock(pathMutex);
  const std::size_t length = path == nullptr ? 0 : std::strlen(path);
  if (length >= sizeof logFilePath) {
    std::memset(logFilePath, 0, sizeof logFilePath);
    return false;
  }
  std::memset(logFilePath, 0, sizeof logFilePath);
  if (length > 0) {
    std::memcpy(logFilePath, path, length);
  }
  logEnabled.store(enabled);
  return true;
}

bool IsLogEnabled() {
  char path[kLogPathSize];
  return CurrentPath(path);
}

void SetLogEchoStream(std::FILE* stream) { echoStream.store(stream); }

void SetLogClock(LogClock clock) { logClock.store(clock); }
