// Replies lost to empty datagrams: N simulated devices answer a search pass while a sender on the
// devices' side throws empty UDP datagrams at every port the engine receives on (67, 1900 and the
// per-address worker's), R of them per second at each port. A search pass without loss hands on
// 3N replies: every device answers the broadcast request once and the multicast search twice
// (once from the group worker's port, once from the per-address worker's).
//
// Everything runs inside a network lab of this program's own (two namespaces joined by a veth
// link on 10.231.0.0/16): the engine in one, tarvelo-nas-sim and the sender in the other. The
// program refuses to run unless it is root, because only root can make the lab, and it never
// opens a socket outside the lab.
//
//   empty_bench [--devices 100] [--rates 0,10,100,1000] [--runs 5] [--reply-spread MS]
//               [--quiet MS]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BenchLab.h"
#include "LabNetwork.h"
#include "NasSimulator.h"
#include "UdpSocket.h"
#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"

namespace {

using benchlab::Clock;
using benchlab::HandOffRecord;
using benchlab::Median;
using benchlab::stopRequested;

constexpr const char* kFirstDeviceAddress = "10.231.1.1";

struct Options {
  int devices = 100;
  std::vector<int> rates{0, 10, 100, 1000};
  int runs = 5;
  int replySpreadMs = 1000;
  int quietMs = 1000;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      throw std::invalid_argument("missing value after " + name);
    }
    const std::string value = argv[++i];
    if (name == "--devices") {
      options.devices = benchlab::ParseList(value, "device count", 1, 10000).front();
    } else if (name == "--rates") {
      options.rates = benchlab::ParseList(value, "rate", 0, 20000);
    } else if (name == "--runs") {
      options.runs = benchlab::ParseList(value, "number of runs", 1, 100).front();
    } else if (name == "--reply-spread") {
      options.replySpreadMs = benchlab::ParseList(value, "reply spread", 0, 60000).front();
    } else if (name == "--quiet") {
      options.quietMs = benchlab::ParseList(value, "quiet time", 50, 60000).front();
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  return options;
}

// Sends empty datagrams from the devices' side to each of `ports` on the engine's address, `rate`
// per second to every port, evenly paced, until destroyed. The sending thread lives in the
// devices' namespace.
class EmptySender {
 public:
  EmptySender(const testsupport::LabNetwork& lab, std::vector<std::int32_t> ports, int rate)
      : ports_(std::move(ports)) {
    if (rate <= 0 || ports_.empty()) {
      return;
    }
    thread_ = std::thread([this, &lab, rate] {
      const testsupport::LabNetwork::Scope devices = lab.EnterDevices();
      testsupport::UdpSocket socket(testsupport::LabNetwork::kDeviceAddress, 0);
      const auto period = std::chrono::nanoseconds(1'000'000'000LL / rate);
      Clock::time_point next = Clock::now();
      while (!done_ && !stopRequested) {
        for (const std::int32_t port : ports_) {
          try {
            socket.SendTo(testsupport::LabNetwork::kEngineAddress, port, std::string_view());
            ++sent_;
          } catch (const std::exception&) {
            // A port that is closed for a moment refuses nothing on an unconnected socket; any
            // other failure only means fewer empty datagrams, which the count shows.
          }
        }
        next += period;
        std::this_thread::sleep_until(next);
      }
    });
  }
  ~EmptySender() {
    done_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  EmptySender(const EmptySender&) = delete;
  EmptySender& operator=(const EmptySender&) = delete;

  long Sent() const { return sent_.load(); }

 private:
  std::vector<std::int32_t> ports_;
  std::atomic<bool> done_{false};
  std::atomic<long> sent_{0};
  std::thread thread_;
};

struct PassResult {
  double lost = 0;       // replies of the 3N that were not handed on
  double lostShare = 0;  // lost / 3N
  double empties = 0;    // empty datagrams sent during the pass
};

PassResult Pass(const testsupport::LabNetwork& lab, SearchDeviceManager& manager,
                const std::vector<std::int32_t>& ports, int rate, const Options& options) {
  EmptySender sender(lab, ports, rate);
  // Let the empty datagrams arrive before the replies do, as they would from a sender that
  // never stops.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  benchlab::SearchUntilQuiet(manager, std::chrono::milliseconds(options.quietMs));
  const long empties = sender.Sent();
  // Each device's reply to each worker counts once: a worker hands a device on only once per
  // pass, unless another device's reply came in between.
  std::set<std::pair<std::int32_t, std::string>> replies;
  for (const benchlab::HandOff& handOff : HandOffRecord::Take()) {
    replies.emplace(handOff.port, handOff.ip);
  }
  const double expected = 3.0 * options.devices;
  PassResult result;
  result.lost = std::max(0.0, expected - static_cast<double>(replies.size()));
  result.lostShare = result.lost / expected;
  result.empties = static_cast<double>(empties);
  return result;
}

int Run(const Options& options) {
  SetLogState(false, nullptr);
  std::printf(
      "empty_bench: %d devices, replies spread over %d ms, %d runs per rate, pass ends after %d "
      "ms without a hand-off; medians\n",
      options.devices, options.replySpreadMs, options.runs, options.quietMs);

  testsupport::LabNetwork lab;
  lab.AddDeviceAddresses(kFirstDeviceAddress, options.devices);
  std::vector<std::string> arguments{"--devices", std::to_string(options.devices),
                                     "--first-address", kFirstDeviceAddress};
  if (options.replySpreadMs > 0) {
    arguments.push_back("--reply-spread");
    arguments.push_back(std::to_string(options.replySpreadMs));
  }
  testsupport::NasSimulator simulator(lab, arguments);

  // The engine's sockets and receive threads are made inside the engine namespace and stay there.
  const testsupport::LabNetwork::Scope engineScope = lab.EnterEngine();
  benchlab::RequireInsideLab();
  SearchDeviceManager manager;
  manager.autoRefreshLocalIP = true;
  SearchDeviceManager::foundCallback = &HandOffRecord::Callback;
  manager.StartSearch();
  const std::vector<std::int32_t> ports = manager.ReplyPorts();
  std::printf("empty datagrams go to the ports");
  for (const std::int32_t port : ports) {
    std::printf(" %d", port);
  }
  std::printf("; a complete pass hands on %d replies\n\n", 3 * options.devices);
  std::printf("%10s %12s %8s %9s %10s %10s\n", "empties/s", "per pass", "lost", "lost max",
              "lost %", "complete");

  for (const int rate : options.rates) {
    std::vector<double> lost, share, empties;
    int complete = 0;
    for (int run = 0; run < options.runs && !stopRequested; ++run) {
      const PassResult result = Pass(lab, manager, ports, rate, options);
      lost.push_back(result.lost);
      share.push_back(result.lostShare);
      empties.push_back(result.empties);
      complete += result.lost == 0 ? 1 : 0;
    }
    if (lost.empty()) {
      break;
    }
    std::printf("%10d %12.0f %8.0f %9.0f %9.2f%% %6d of %d\n", rate, Median(empties), Median(lost),
                *std::max_element(lost.begin(), lost.end()), 100 * Median(share), complete,
                static_cast<int>(lost.size()));
    std::fflush(stdout);
  }

  manager.StopSearch();
  manager.WaitForWorkThreads(std::chrono::seconds(10));
  SearchDeviceManager::foundCallback = nullptr;
  simulator.Stop();
  return stopRequested ? 130 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  return benchlab::Main<Options>("empty_bench", argc, argv, &ParseOptions, &Run);
}
