#include "NasSimulator.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

NasSimulator::NasSimulator(LabNetwork& lab, const std::vector<std::string>& arguments,
                           std::chrono::milliseconds readyTimeout)
    : NasSimulator(lab, lab.DeviceNamespace(), arguments, readyTimeout) {}

NasSimulator::NasSimulator(LabNetwork& lab, const std::string& ns,
                           const std::vector<std::string>& arguments,
                           std::chrono::milliseconds readyTimeout)
    : lab_(lab) {
  const std::string program = BuiltProgram("tarvelo-nas-sim");
  if (::access(program.c_str(), X_OK) != 0) {
    throw std::runtime_error("the simulator is not built: " + program);
  }
  const std::string ready = folder_.File("ready");
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back("--ready");
  argv.push_back(ready);
  pid_ = lab_.Spawn(ns, argv);
  running_ = true;
  bool ended = false;
  const bool isReady = WaitUntil(
      [&] {
        // A simulator that refused its options ends at once; do not wait for it in vain.
        siginfo_t info{};
        ended = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid_;
        return ended || Exists(ready);
      },
      readyTimeout);
  if (!isReady || !Exists(ready)) {
    const int status = lab_.Wait(pid_, std::chrono::milliseconds(ended ? 5000 : 0));
    running_ = false;
    throw std::runtime_error("the simulator did not become ready (status " +
                             std::to_string(status) + ")");
  }
}

NasSimulator::~NasSimulator() {
  if (running_) {
    lab_.Terminate(pid_);
  }
}

int NasSimulator::Stop() {
  if (!running_) {
    return -1;
  }
  ::kill(pid_, SIGTERM);
  running_ = false;
  return lab_.Wait(pid_, std::chrono::seconds(10));
}

int NasSimulator::WaitForExit(std::chrono::milliseconds timeout) {
  if (!running_) {
    return -1;
  }
  running_ = false;
  return lab_.Wait(pid_, timeout);
}

}  // namespace testsupport
