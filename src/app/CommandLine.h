#pragma once

// What the command-line modes have in common: their exit statuses, how they quote a user's text
// in a message and escape a field of parsable output, how they write usage and errors, and the
// table of modes that main() walks. Every message goes to standard error; standard output carries
// only what a mode was asked to produce.

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses of every mode.
inline constexpr int kExitSuccess = 0;
// An error: a file that cannot be read or written, a document that cannot be used.
inline constexpr int kExitFailure = 1;
// The command line itself is wrong.
inline constexpr int kExitUsage = 2;
// The search ran, but one of its searches could not: its port is taken or not permitted.
inline constexpr int kExitSearchOff = 3;

using CommandArguments = std::vector<std::string>;

// One mode of the program besides the window: the option that names it, one line for the
// overview, how it runs (returning its exit status) and its own --help text.
struct CommandMode {
  const char* option;
  const char* summary;
  int (*run)(const CommandArguments& arguments, std::FILE* out, std::FILE* err);
  std::string (*usage)();
};

// The modes, in the order in which they are looked for among the arguments.
std::span<const CommandMode> CommandModes();

// The mode whose option stands among ARGUMENTS, alone or as "option=value"; null for none.
const CommandMode* FindCommandMode(const CommandArguments& arguments);

// True when ARGUMENTS ask for the window: none, or only "--log FILE" ("--log=FILE"), FILE then
// being set to the log file.
bool WindowArguments(const CommandArguments& arguments, std::string& logFile);

// A user's text inside a one-line message: in single quotes, each control character shown as '?'
// so that the message stays one line on the terminal.
std::string QuotedArgument(std::string_view text);

// A text as a field of --parsable output: '\' written "\\", ';' written "\;", and each control
// character (below 32, and 127) as '\' and its byte's three decimal digits ("\010" for a line
// break); every other byte, UTF-8 included, as it is. A field so written never holds a bare ';'
// or a line break, and reading it back is unambiguous.
std::string ParsableField(std::string_view text);

// Writes TEXT whole and flushes; false when the stream refused it.
bool WriteText(std::FILE* stream, std::string_view text);

// "tarvelo: MESSAGE" and a line break on ERR.
void ReportLine(std::FILE* err, std::string_view message);

// A usage error of MODE ("--search"; empty for the program as a whole): one line that names the
// help to read. Returns kExitUsage.
int UsageError(std::FILE* err, std::string_view message, std::string_view mode = {});

// "tarvelo VERSION" and a line break.
std::string VersionText();

// The text of `tarvelo --help`: every mode with its options, then the exit statuses, the files
// and the environment.
std::string ProgramUsage();

// The program's command line as a whole: --version and --help alone, then the modes of the table,
// then the window (`openWindow` with the log file, empty for none); anything else is taken as the
// search's command line, whose parser names what is wrong. Returns the exit status.
int RunCommandLine(const CommandArguments& arguments, std::FILE* out, std::FILE* err,
                   const std::function<int(const std::string& logFile)>& openWindow);
