// Programs started for the desktop: arguments arrive as they are (no shell), the outcome and the
// error output are reported, and a program that outlives the wait is neither killed nor left as
// a zombie.

#include "platform/DetachedProcess.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TemporaryDirectory.h"

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::TemporaryDirectory;

namespace {

void WriteScript(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
}

TEST(RunCommandTest, ArgumentsStreamsStatusAndErrorOutput) {
  TemporaryDirectory directory;
  const std::string script = directory.File("record");
  const std::string record = directory.File("args");
  // Stores each argument NUL-terminated, then where standard input and output lead and the
  // variable it was given; complains on standard error and ends with status 3.
  WriteScript(script, "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record +
                          "'\nprintf '%s %s %s' \"$(readlink /proc/$$/fd/0)\" "
                          "\"$(readlink /proc/$$/fd/1)\" \"$EXTRA\" >> '" +
                          record +
                          "'\necho 'umount: /mnt/x: must be superuser to unmount.' >&2\nexit 3\n");
  const std::vector<std::string> arguments = {
      "plain", "two words", "it's \"quoted\"", "a;b && c | d", "$HOME `id` $(id)",
      "*",     "",          "line\nbreak"};
  std::vector<std::string> argv = {script};
  argv.insert(argv.end(), arguments.begin(), arguments.end());

  const CommandOutcome outcome = RunCommand(argv, 10s, {"EXTRA=given", "PATH=/usr/bin:/bin"});
  EXPECT_TRUE(outcome.started);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitStatus, 3);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.errorOutput, "umount: /mnt/x: must be superuser to unmount.\n");
  std::string expected;
  for (const std::string& argument : arguments) {
    expected += argument + '\0';
  }
  EXPECT_EQ(ReadFile(record), expected + "/dev/null /dev/null given");

  const CommandOutcome missing = RunCommand({directory.File("absent")}, 10s);
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.startError.empty());
  EXPECT_FALSE(RunCommand({}, 10s).started);

  WriteScript(script, "kill -TERM $$\n");
  EXPECT_EQ(RunCommand({script}, 10s).exitStatus, 128 + SIGTERM);
}

TEST(RunCommandTest, AProgramThatOutlivesTheWaitRunsOnAndIsReaped) {
  TemporaryDirectory directory;
  const std::string script = directory.File("slow");
  // Writes to standard error after the wait has ended, which must not kill it.
  WriteScript(script, "sleep 0.6\necho late >&2\ntouch '" + directory.File("done") + "'\n");
  const auto start = std::chrono::steady_clock::now();
  const CommandOutcome outcome = RunCommand({script}, 100ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_TRUE(outcome.started);
  EXPECT_FALSE(outcome.finished);

  bool done = false;
  int result = 0;
  for (int attempt = 0; attempt < 250 && result != -1; ++attempt) {
    std::this_thread::sleep_for(20ms);
    done = ::access(directory.File("done").c_str(), F_OK) == 0;
    // Nothing is left for this process to reap once the thread that waits for it is done.
    result = done ? ::waitpid(-1, nullptr, WNOHANG) : 0;
  }
  EXPECT_TRUE(done);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
