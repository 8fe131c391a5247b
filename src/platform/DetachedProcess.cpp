#include "platform/DetachedProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

// Enough of an error message for the log; the rest is read and dropped.
constexpr std::size_t kErrorOutputLimit = 4096;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reads what is there without blocking; false at end of file or on an error.
bool DrainPipe(int fd, std::string* into) {
  char buffer[1024];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof(buffer));
    if (count > 0) {
      if (into != nullptr && into->size() < kErrorOutputLimit) {
        into->append(buffer, std::min<std::size_t>(count, kErrorOutputLimit - into->size()));
      }
      continue;
    }
    if (count < 0 && errno == EINTR) {
      continue;
    }
    return count < 0 && errno == EAGAIN;
  }
}

// The child's standard error must not fill up and block it, nor must it end by SIGPIPE because
// nobody reads any more: whoever is left waiting reads to the end, then reaps.
void ReapLater(pid_t pid, int errorPipe) {
  try {
    std::thread([pid, errorPipe] {
      const int flags = ::fcntl(errorPipe, F_GETFL);
      ::fcntl(errorPipe, F_SETFL, flags & ~O_NONBLOCK);
      char buffer[1024];
      for (;;) {
        const ssize_t count = ::read(errorPipe, buffer, sizeof(buffer));
        if (count == 0 || (count < 0 && errno != EINTR)) {
          break;
        }
      }
      ::close(errorPipe);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until this process ends, which is harmless.
    ::close(errorPipe);
  }
}

}  // namespace

CommandOutcome RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::vector<std::string>& environment) {
  CommandOutcome outcome;
  if (argv.empty() || argv.front().empty()) {
    outcome.startError = "no program";
    return outcome;
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);

  // This process's environment with the given entries replacing those of the same name.
  std::vector<char*> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    const std::size_t nameLength = equals != nullptr ? equals - *entry : std::strlen(*entry);
    bool replaced = false;
    for (const std::string& added : environment) {
      replaced = replaced || (added.size() > nameLength && added[nameLength] == '=' &&
                              added.compare(0, nameLength, *entry, nameLength) == 0);
    }
    if (!replaced) {
      variables.push_back(*entry);
    }
  }
  for (const std::string& added : environment) {
    variables.push_back(const_cast<char*>(added.c_str()));
  }
  variables.push_back(nullptr);

  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
    outcome.startError = std::strerror(errno);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
  // The child starts with default signal handling and an empty mask, whatever this process set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, arguments.front(), &actions, &attributes,
                                     arguments.data(), variables.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errorPipe[1]);
  if (spawned != 0) {
    ::close(errorPipe[0]);
    outcome.startError = std::strerror(spawned);
    return outcome;
  }
  outcome.started = true;

  ::fcntl(errorPipe[0], F_SETFL, ::fcntl(errorPipe[0], F_GETFL) | O_NONBLOCK);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool pipeOpen = true;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) {
      if (pipeOpen) {
        DrainPipe(errorPipe[0], &outcome.errorOutput);
      }
      ::close(errorPipe[0]);
      outcome.finished = true;
      outcome.exitStatus = DecodeStatus(status);
      return outcome;
    }
    if (ended < 0 && errno != EINTR) {
      // Somebody else reaped it; its status is lost.
      ::close(errorPipe[0]);
      outcome.finished = true;
      return outcome;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ReapLater(pid, errorPipe[0]);
      return outcome;
    }
    // Wake up for output, or at least every 20 ms to look for the child's end.
    pollfd poller{errorPipe[0], POLLIN, 0};
    const int wait = static_cast<int>(std::min<long long>(left.count(), 20));
    if (pipeOpen && ::poll(&poller, 1, wait) > 0) {
      pipeOpen = DrainPipe(errorPipe[0], &outcome.errorOutput);
    } else if (!pipeOpen) {
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
  }
}
