#include "NamespaceProcesses.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Pointers(const std::vector<std::string>& items) {
  std::vector<char*> pointers;
  pointers.reserve(items.size() + 1);
  for (const std::string& item : items) {
    pointers.push_back(const_cast<char*>(item.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
    // A session of its own also gives the program a process group of its own.
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t* Actions() { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Starts the program from inside the namespace: the child of a thread that has entered a network
// namespace belongs to it from its first instruction. Without a lab the program starts where the
// test runs.
pid_t SpawnIn(const LabNetwork* lab, const std::string& ns, const std::vector<std::string>& argv,
              const std::vector<std::string>& environment, SpawnSetup& setup) {
  if (argv.empty()) {
    throw std::invalid_argument("no program to start");
  }
  const std::string program =
      argv[0].find('/') == std::string::npos ? FindProgram(argv[0]) : argv[0];
  if (program.empty()) {
    throw std::runtime_error("program not found: " + argv[0]);
  }
  // The test's own descriptors (sockets, pipes of other programs) stay with the test.
  ::posix_spawn_file_actions_addclosefrom_np(setup.Actions(), 3);
  const std::vector<char*> arguments = Pointers(argv);
  const std::vector<char*> variables = Pointers(environment);
  pid_t pid = -1;
  int error = 0;
  {
    std::optional<LabNetwork::Scope> inside;
    if (lab != nullptr) {
      inside.emplace(*lab, ns);
    }
    error = ::posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attributes(),
                          arguments.data(), variables.data());
  }
  if (error != 0) {
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  }
  return pid;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The processes inside the namespace right now, this one left out. An ended process that is not
// reaped yet has no namespace any more and is not listed.
std::vector<pid_t> NamespaceProcesses(const std::string& ns) {
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) {
    return pids;
  }
  const std::string target = "/run/netns/" + ns;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || number <= 0) {
      continue;
    }
    const pid_t pid = static_cast<pid_t>(number);
    if (pid != ::getpid() && SameFile("/proc/" + std::to_string(pid) + "/ns/net", target)) {
      pids.push_back(pid);
    }
  }
  ::closedir(proc);
  return pids;
}

// Runs the program (inside the lab's namespace `ns`, or where the test runs without a lab) and
// collects its standard output until it closes it; a program still running after `timeout` is
// killed. Standard error goes to `logPath`, or stays the test's own when that is empty.
CommandResult RunCollecting(const LabNetwork* lab, const std::string& ns,
                            const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment,
                            std::chrono::milliseconds timeout, const std::string& logPath) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  SpawnSetup setup;
  ::posix_spawn_file_actions_addopen(setup.Actions(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(setup.Actions(), pipeEnds[1], 1);
  if (!logPath.empty()) {
    ::posix_spawn_file_actions_addopen(setup.Actions(), 2, logPath.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  pid_t pid = -1;
  try {
    pid = SpawnIn(lab, ns, argv, environment, setup);
  } catch (...) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    throw;
  }
  ::close(pipeEnds[1]);
  CommandResult result;
  const auto deadline = Clock::now() + timeout;
  bool timedOut = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd entry{pipeEnds[0], POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      timedOut = ready == 0;
      break;
    }
    char buffer[4096];
    const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (count > 0) {
      result.output.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  if (timedOut) {
    ::kill(pid, SIGKILL);
  }
  const int status = WaitForChild(pid, timeout);
  result.status = timedOut ? -1 : status;
  return result;
}

}  // namespace

std::string FindProgram(const std::string& name) {
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream stream(path);
    for (std::string folder; std::getline(stream, folder, ':');) {
      if (!folder.empty()) {
        folders.push_back(folder);
      }
    }
  }
  folders.insert(folders.end(), {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"});
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

pid_t StartInNamespace(const LabNetwork& lab, const std::string& ns,
                       const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, const std::string& logPath,
                       const std::string& outputPath) {
  SpawnSetup setup;
  ::posix_spawn_file_actions_addopen(setup.Actions(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(setup.Actions(), 2, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (outputPath.empty()) {
    ::posix_spawn_file_actions_adddup2(setup.Actions(), 2, 1);
  } else {
    ::posix_spawn_file_actions_addopen(setup.Actions(), 1, outputPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  return SpawnIn(&lab, ns, argv, environment, setup);
}

CommandResult RunInNamespace(const LabNetwork& lab, const std::string& ns,
                             const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             std::chrono::milliseconds timeout, const std::string& logPath) {
  return RunCollecting(&lab, ns, argv, environment, timeout, logPath);
}

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         std::chrono::milliseconds timeout) {
  return RunCollecting(nullptr, std::string(), argv, environment, timeout, std::string());
}

bool ProcessInNamespace(pid_t pid, const std::string& ns) {
  return SameFile("/proc/" + std::to_string(pid) + "/ns/net", "/run/netns/" + ns);
}

void EndNamespaceProcesses(const std::string& ns, std::chrono::milliseconds grace) {
  for (const pid_t pid : NamespaceProcesses(ns)) {
    ::kill(pid, SIGTERM);
  }
  const auto deadline = Clock::now() + grace;
  while (!NamespaceProcesses(ns).empty() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Whatever ignored SIGTERM is killed; the listing is taken again each time, since a dying
  // parent may have started one more child meanwhile.
  for (int round = 0; round < 50; ++round) {
    const std::vector<pid_t> left = NamespaceProcesses(ns);
    if (left.empty()) {
      return;
    }
    for (const pid_t pid : left) {
      ::kill(pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int WaitForChild(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) {
      return DecodeExitStatus(status);
    }
    if (reaped < 0 && errno != EINTR) {
      return -1;
    }
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void BecomeSubreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

void ReapEndedChildren() {
  int status = 0;
  while (::waitpid(-1, &status, WNOHANG) > 0) {
  }
}

}  // namespace testsupport
