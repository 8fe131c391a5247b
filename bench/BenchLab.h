#pragma once

// What the benchmarks that run the engine inside a network lab share: the root check, a stop
// flag set by Ctrl-C, the record of every hand-off, a search pass that waits until the devices
// have gone quiet, and medians.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "discovery/DeviceInfo.h"

class SearchDeviceManager;

namespace benchlab {

using Clock = std::chrono::steady_clock;

// Set by SIGINT and SIGTERM once InstallStopHandlers ran: the loops end and the destructors
// remove the lab.
extern std::atomic<bool> stopRequested;
void InstallStopHandlers();

// False, with a message naming `program` on standard error, unless the process runs as root,
// which it must to build its lab.
bool RequireRoot(const char* program);

// Throws std::runtime_error unless the calling thread is inside a lab's namespace. Call it right
// before opening the engine's sockets.
void RequireInsideLab();

// One hand-off of the engine, with its time.
struct HandOff {
  Clock::time_point at;
  std::int32_t port;
  std::string id;
  std::string ip;
  std::int32_t type;
};

// Every hand-off of the engine, in order. Callback is the engine's found-device callback; it runs
// on the workers' receive threads, one at a time (the engine's hand-off mutex), and then passes
// the device on to `forward` when one is set.
class HandOffRecord {
 public:
  static std::int32_t Callback(const DeviceInfo* device, std::int32_t port);
  static void SetForward(FoundDeviceCallback forward);
  // Empties the record and returns what it held.
  static std::vector<HandOff> Take();
  static std::size_t Size();
};

// One search pass: empties the record, sends, then waits until no hand-off has come for `quiet`
// (at most 30 s, or until a stop is requested). Returns the time of the send; the hand-offs stay
// in the record.
Clock::time_point SearchUntilQuiet(SearchDeviceManager& manager, std::chrono::milliseconds quiet);

double Median(std::vector<double> values);

// A comma-separated list of whole numbers from `low` to `high`; throws std::invalid_argument
// naming `what` for anything else.
std::vector<int> ParseList(const std::string& text, const char* what, int low, int high);

// The main function of a lab bench named `program`: it must run as root; `parse` reads the
// options (a usage error ends it with status 2); the stop handlers go in, so that an interrupted
// run still removes its lab; then `run` (an error ends it with status 1, its message on standard
// error).
template <typename Options>
int Main(const char* program, int argc, char** argv, Options (*parse)(int, char**),
         const std::function<int(const Options&)>& run) {
  if (!RequireRoot(program)) {
    return 2;
  }
  Options options;
  try {
    options = parse(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", program, error.what());
    return 2;
  }
  InstallStopHandlers();
  try {
    return run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", program, error.what());
    return 1;
  }
}

}  // namespace benchlab
