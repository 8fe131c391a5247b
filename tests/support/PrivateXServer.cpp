#include "PrivateXServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

PrivateXServer::PrivateXServer(const std::string& screen) {
  int ready[2];
  if (::pipe(ready) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, ready[0]);
  const std::string fd = std::to_string(ready[1]);
  const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),     "-nolisten", "tcp",
                        "-screen", "0",          screen.c_str(), nullptr};
  if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(ready[1]);
  // Xvfb writes the display number once it accepts clients.
  std::string number;
  pollfd waiting{ready[0], POLLIN, 0};
  char c = 0;
  while (pid_ > 0 && ::poll(&waiting, 1, 10000) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') {
    number += c;
  }
  ::close(ready[0]);
  if (!number.empty()) {
    display_ = ":" + number;
  }
}

PrivateXServer::~PrivateXServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

}  // namespace testsupport
