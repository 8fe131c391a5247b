#pragma once

// Programs that a test runs inside one of its lab's namespaces (or, for tools that open no
// network socket, where the test itself runs) with an environment of its own, and the clean-up of
// everything still running in a namespace when the test ends. Desktop programs start helpers of
// their own (activated services, detached launchers, daemons that leave their parent), so a test
// cannot know every process it caused; it ends them by where they run instead.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "LabNetwork.h"

namespace testsupport {

struct CommandResult {
  int status = -1;  // as a shell reports it; -1 when the program had to be killed after the timeout
  std::string output;
};

// The full path of a program: found on PATH, else in the system's program folders (tests may run
// with a PATH that lacks /usr/sbin or /usr/libexec). Empty when it is nowhere.
std::string FindProgram(const std::string& name);

// Starts `argv` (argv[0] a program name or path) inside the lab's namespace `ns` with exactly
// `environment`, in a session of its own: a program that signals its whole process group on its
// way out (smbd does) then reaches only itself and its children, never the test. Standard input
// is /dev/null; standard error is appended to `logPath`, and so is standard output unless
// `outputPath` names a file of its own for it (for programs that report their readiness there).
// Throws std::runtime_error when the program cannot be started.
pid_t StartInNamespace(const LabNetwork& lab, const std::string& ns,
                       const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, const std::string& logPath,
                       const std::string& outputPath = std::string());

// Runs `argv` as StartInNamespace does and collects its standard output (standard error is
// appended to `logPath`). A program still running after `timeout` is killed.
CommandResult RunInNamespace(const LabNetwork& lab, const std::string& ns,
                             const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             std::chrono::milliseconds timeout, const std::string& logPath);

// Runs `argv` where the test itself runs, outside every lab namespace, and collects its standard
// output as RunInNamespace does; standard error stays the test's own. Only for programs that open
// no network socket (xdotool, for one).
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         std::chrono::milliseconds timeout);

// True when the process runs inside the named network namespace.
bool ProcessInNamespace(pid_t pid, const std::string& ns);

// Ends every process that runs inside the namespace: SIGTERM, then SIGKILL for those still there
// after `grace`. A process that has ended but is not reaped yet counts as gone. Never reaps: a
// child that another helper still waits for stays its to reap.
void EndNamespaceProcesses(const std::string& ns,
                           std::chrono::milliseconds grace = std::chrono::seconds(3));

// Waits for a child to end and reaps it; kills it when it is still running after `timeout`.
// Returns its status as a shell reports it.
int WaitForChild(pid_t pid, std::chrono::milliseconds timeout);

// Makes this process the reaper of orphaned descendants, so that daemons and detached helpers
// of the programs a test started come back to the test when their parents end, instead of
// staying behind as zombies of a system whose first process does not reap.
void BecomeSubreaper();

// Reaps every child that has ended. Only for the end of a test, once no helper still waits for a
// child of its own (a lab's Wait would otherwise find its child gone).
void ReapEndedChildren();

}  // namespace testsupport
