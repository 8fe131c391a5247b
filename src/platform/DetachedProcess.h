#pragma once

// Programs the desktop side starts: always as an argument vector, never through a shell, so that
// a share name or location arrives as the one argument it is.

#include <chrono>
#include <string>
#include <vector>

struct CommandOutcome {
  // False when the program could not be run at all (not found, not executable).
  bool started = false;
  // False when it was still running when the wait ended: it goes on and is reaped later.
  bool finished = false;
  // Its exit status, or 128 + the signal that ended it, as a shell reports it.
  int exitStatus = -1;
  // The start of what it wrote to standard error, for the diagnostic log.
  std::string errorOutput;
  // Why it could not be started.
  std::string startError;

  bool Succeeded() const { return started && finished && exitStatus == 0; }
};

// Runs ARGV[0] (looked up on PATH) with the remaining elements as its arguments, standard input
// and output on /dev/null, and waits up to TIMEOUT for it to end. ENVIRONMENT entries
// ("NAME=VALUE") are added to this process's environment for the child. A child that outlives the
// wait keeps running; a thread of this process waits for it so that it leaves no zombie.
CommandOutcome RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::vector<std::string>& environment = {});
