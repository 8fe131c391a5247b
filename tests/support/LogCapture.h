#pragma once

// Helpers for tests that check the diagnostic log: a capture that points the log at a temporary
// file and reads its lines back, and a fixed clock that makes every stamp predictable.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "TemporaryDirectory.h"

namespace testsupport {

// Switches the diagnostic log on into a fresh temporary file for the object's life and silences
// the echo on standard output, so that the test's own output stays readable. The destructor
// switches the log off again and restores the echo.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::string& Path() const { return path_; }
  // The bytes of the file as they are now.
  std::string Contents() const;
  // The complete lines written so far, without their "\r\n". A line still being written (no line
  // end yet) is left out, so a reader running beside the workers never sees half a line.
  std::vector<std::string> Lines() const;
  // How many lines equal `line` exactly.
  std::size_t Count(const std::string& line) const;
  // How many lines contain `text`.
  std::size_t CountContaining(const std::string& text) const;
  // Polls until at least `count` lines equal `line`.
  bool WaitForCount(const std::string& line, std::size_t count,
                    std::chrono::milliseconds timeout) const;
  // Empties the file.
  void Clear();

 private:
  TemporaryDirectory folder_;
  std::string path_;
};

// Installs a log clock that always reads the given local time, and restores the system clock when
// it goes. The stamps of WriteLog and WriteTimeLog then are known in advance.
class FixedLogClock {
 public:
  FixedLogClock(int dayOfMonth, int hour, int minute, int second, long microseconds);
  ~FixedLogClock();
  FixedLogClock(const FixedLogClock&) = delete;
  FixedLogClock& operator=(const FixedLogClock&) = delete;

  // The line WriteLog makes of `message`, without "\r\n": message + "*[DD::HH:MM:SS]".
  std::string Stamped(const std::string& message) const;
  // The line WriteTimeLog makes of `message`, without "\r\n": "[--HH:MM:SS.ffffff--]*" + message.
  std::string TimeStamped(const std::string& message) const;

 private:
  int day_;
  int hour_;
  int minute_;
  int second_;
  long microseconds_;
};

// Whether `expected` appears in `lines` in this order, other lines in between allowed. On
// failure `missing` names the first expected line that was not found in order.
bool ContainsInOrder(const std::vector<std::string>& lines,
                     const std::vector<std::string>& expected, std::string* missing = nullptr);

}  // namespace testsupport
