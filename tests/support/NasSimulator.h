#pragma once

// Drives tarvelo-nas-sim, the simulated storage devices, inside a lab's device namespace.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "LabNetwork.h"
#include "TemporaryDirectory.h"

namespace testsupport {

class NasSimulator {
 public:
  // Starts the simulator with `arguments` (its options, without --ready, which this adds) and
  // waits until it reports its sockets bound. Throws std::runtime_error when the program is
  // missing, ends early or is not ready within `readyTimeout`.
  NasSimulator(LabNetwork& lab, const std::vector<std::string>& arguments,
               std::chrono::milliseconds readyTimeout = std::chrono::seconds(30));
  // The same inside another namespace of the lab's (a LabNetwork::AddDeviceNetwork).
  NasSimulator(LabNetwork& lab, const std::string& ns, const std::vector<std::string>& arguments,
               std::chrono::milliseconds readyTimeout = std::chrono::seconds(30));
  // Terminates the simulator if it still runs.
  ~NasSimulator();
  NasSimulator(const NasSimulator&) = delete;
  NasSimulator& operator=(const NasSimulator&) = delete;

  pid_t Pid() const { return pid_; }
  // Sends SIGTERM and waits; returns the exit status (0 for a clean stop).
  int Stop();
  // Waits for the simulator to end by itself (--once, --duration); -1 when it had to be killed.
  int WaitForExit(std::chrono::milliseconds timeout);

 private:
  LabNetwork& lab_;
  TemporaryDirectory folder_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace testsupport
