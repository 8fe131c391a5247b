// The command line as scripts meet it: the mode table that main() walks, --version and --help,
// the usage errors, and the escaping of parsable fields read back by a script's rules.

#include "app/CommandLine.h"

#include <cctype>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TemporaryDirectory.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::string windowLog;  // "(no window)" when the window was not asked for
};

Outcome RunProgram(const CommandArguments& arguments) {
  Outcome outcome;
  outcome.windowLog = "(no window)";
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  outcome.status = RunCommandLine(arguments, out, err, [&](const std::string& logFile) {
    outcome.windowLog = logFile;
    return 42;
  });
  outcome.out = testsupport::ReadStream(out);
  outcome.err = testsupport::ReadStream(err);
  std::fclose(out);
  std::fclose(err);
  return outcome;
}

// Reads a field back as a script would: "\\" and "\;" stand for the character, "\DDD" for a byte.
std::string Unescape(const std::string& field) {
  std::string text;
  for (std::size_t index = 0; index < field.size(); ++index) {
    if (field[index] != '\\') {
      text += field[index];
    } else if (index + 3 < field.size() &&
               std::isdigit(static_cast<unsigned char>(field[index + 1])) != 0) {
      text += static_cast<char>(std::stoi(field.substr(index + 1, 3)));
      index += 3;
    } else {
      text += field[++index];
    }
  }
  return text;
}

TEST(CommandLine, ParsableFieldsHoldNoSeparatorOrLineBreakAndReadBackWhole) {
  const struct {
    std::string text;
    std::string field;
  } cases[] = {
      {"nas", "nas"},
      {"", ""},
      {"a;b", "a\\;b"},
      {"C:\\share", "C:\\\\share"},
      {"\\;", "\\\\\\;"},
      {"two\nlines", "two\\010lines"},
      {"tab\there\r", "tab\\009here\\013"},
      {std::string("nul\0x", 5), "nul\\000x"},
      {"del\x7f", "del\\127"},
      {"Speicher für Fotos ✓", "Speicher für Fotos ✓"},
      {"存储;设备", "存储\\;设备"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.field);
    const std::string field = ParsableField(test.text);
    EXPECT_EQ(field, test.field);
    EXPECT_EQ(field.find_first_of("\n\r"), std::string::npos);
    EXPECT_EQ(Unescape(field), test.text);
  }
}

TEST(CommandLine, TheProgramAnswersVersionHelpTheWindowAndUsageErrors) {
  const Outcome version = RunProgram({"--version"});
  EXPECT_EQ(version.status, kExitSuccess);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("tarvelo [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;

  // The whole help names every mode and holds each mode's own help.
  for (const char* help : {"--help", "-h"}) {
    const Outcome outcome = RunProgram({help});
    EXPECT_EQ(outcome.status, kExitSuccess);
    EXPECT_EQ(outcome.err, "");
    for (const CommandMode& mode : CommandModes()) {
      EXPECT_NE(outcome.out.find(mode.usage()), std::string::npos) << mode.option;
    }
    EXPECT_NE(outcome.out.find("Usage: tarvelo [--log FILE]"), std::string::npos);
  }

  // The window for no arguments or a log file alone; it never opens for anything else.
  EXPECT_EQ(RunProgram({}).windowLog, "");
  EXPECT_EQ(RunProgram({"--log", "engine.log"}).windowLog, "engine.log");
  EXPECT_EQ(RunProgram({"--log=engine.log"}).status, 42);

  const struct {
    CommandArguments arguments;
    std::string error;
  } usageErrors[] = {
      {{"--log"}, "tarvelo: --log needs a value (see tarvelo --help)\n"},
      {{"--bogus"}, "tarvelo: unknown option '--bogus' (see tarvelo --help)\n"},
      {{"--version", "--json"}, "tarvelo: unknown option '--version' (see tarvelo --help)\n"},
      {{"--search", "--parsable", "--json"},
       "tarvelo: --json and --parsable cannot be combined (see tarvelo --help)\n"},
      {{"--render-layout", "a.xml"},
       "tarvelo: --render-layout needs --out FILE (see tarvelo --render-layout --help)\n"},
      {{"--check-layout", "a.xml", "--skin-dir", "/no/such/folder"},
       "tarvelo: --skin-dir: '/no/such/folder' is not a folder (see tarvelo --check-layout "
       "--help)\n"},
  };
  for (const auto& test : usageErrors) {
    SCOPED_TRACE(test.arguments.front());
    const Outcome outcome = RunProgram(test.arguments);
    EXPECT_EQ(outcome.status, kExitUsage);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, test.error);
    EXPECT_EQ(outcome.windowLog, "(no window)");
  }
}

}  // namespace
