#pragma once

// The diagnostic log of the discovery engine: one-line records, each stamped with the local
// time, appended to a file and echoed to standard output. Callers on any thread; no lock is
// taken, every line is one open-append-close. While the log is off (the state at start-up),
// no call touches the file system or standard output.

#include <cstdio>
#include <ctime>

// Longest message and longest finished line, in characters; longer ones are dropped.
inline constexpr int kLogLineLimit = 1023;
inline constexpr int kLogPathSize = 4096;

// Appends the message followed by "*[DD::HH:MM:SS]\r\n". Returns 1 when a line was produced.
int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends "[--HH:MM:SS(.ffffff)--]*" followed by the message. Returns 1 when a line was produced.
int WriteTimeLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends the exit line to the file (never to standard output).
void CloseLog();

// Switches the log on or off and sets its file. A null or empty path keeps the log silent.
// The path is kept in a buffer of kLogPathSize bytes; a longer path is refused (returns false)
// and leaves the log off.
bool SetLogState(bool enabled, const char* path);
bool IsLogEnabled();

// Where the echo of every line goes; standard output unless changed. A command-line mode whose
// standard output is machine-readable sends it elsewhere. Null silences the echo.
void SetLogEchoStream(std::FILE* stream);

// The clocks the log stamps its lines with. Tests install fixed clocks; null restores the
// system's local time.
struct LogClockReading {
  std::tm localTime{};
  long microseconds = 0;
};
using LogClock = LogClockReading (*)();
void SetLogClock(LogClock clock);
