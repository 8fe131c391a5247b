// Burst completeness: how many of N simulated devices that all answer one search pass within a
// few milliseconds reach the device table, and how long after the send the last one arrives.
//
// Everything runs inside a network lab of this program's own (two namespaces joined by a veth
// link on 10.231.0.0/16): the engine in one, tarvelo-nas-sim with N device addresses in the
// other. The program refuses to run unless it is root, because only root can make the lab, and
// it never opens a socket outside the lab.
//
//   burst_bench [--devices 10,100,1000] [--runs 5] [--reply-spread MS] [--quiet MS]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LabNetwork.h"
#include "NasSimulator.h"
#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchProtocol.h"
#ifdef TARVELO_BENCH_DEVICE_TABLE
#include "app/DeviceTable.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kFirstDeviceAddress = "10.231.1.1";

std::atomic<bool> stopRequested{false};

void RequestStop(int) { stopRequested = true; }

// Every hand-off of the engine, with its time. The callback runs on the workers' receive
// threads, one at a time (the engine's hand-off mutex); the main thread reads in between.
struct HandOff {
  Clock::time_point at;
  std::int32_t port;
  std::string id;
  std::string ip;
  std::int32_t type;
};

std::mutex recordMutex;
std::vector<HandOff> record;

std::int32_t RecordHandOff(const DeviceInfo* device, std::int32_t port) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(recordMutex);
    record.push_back({now, port, device->id, device->ip, device->type});
  }
#ifdef TARVELO_BENCH_DEVICE_TABLE
  // The application's own handler: the table the dialog shows.
  return DeviceFoundHandler(device, port);
#else
  return 0;
#endif
}

std::vector<HandOff> TakeRecord() {
  std::lock_guard<std::mutex> lock(recordMutex);
  std::vector<HandOff> taken;
  taken.swap(record);
  return taken;
}

std::size_t RecordSize() {
  std::lock_guard<std::mutex> lock(recordMutex);
  return record.size();
}

void ClearTable() {
#ifdef TARVELO_BENCH_DEVICE_TABLE
  DeviceTable::Instance().Clear();
#endif
}

// Distinct devices in the device table. A build without the application has no table; it then
// counts the distinct addresses of the records the table would have taken (types 1 and 2).
std::size_t TableDevices(const std::vector<HandOff>& handOffs) {
#ifdef TARVELO_BENCH_DEVICE_TABLE
  (void)handOffs;
  std::set<std::string> addresses;
  for (const DeviceInfo& device : DeviceTable::Instance().CopyAll()) {
    addresses.insert(device.ip);
  }
  return addresses.size();
#else
  std::set<std::string> addresses;
  for (const HandOff& handOff : handOffs) {
    if (handOff.type == kDeviceSearchReply || handOff.type == kDeviceAlive) {
      addresses.insert(handOff.ip);
    }
  }
  return addresses.size();
#endif
}

struct RunResult {
  double table = 0;
  double byBroadcast = 0;
  double byMulticast = 0;
  double handOffs = 0;
  double lastMs = -1;  // from the send to the last hand-off; -1 when nothing arrived
};

struct Mode {
  const char* name;
  const char* simulatorOption;  // the search the devices do not answer, if any
};

// One search pass: send, then wait until no hand-off has come for `quiet`.
RunResult SearchPass(SearchDeviceManager& manager, std::chrono::milliseconds quiet) {
  TakeRecord();
  ClearTable();
  const Clock::time_point sent = Clock::now();
  manager.SendSearch();
  std::size_t seen = 0;
  Clock::time_point lastChange = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::seconds(30);
  while (!stopRequested && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::size_t now = RecordSize();
    if (now != seen) {
      seen = now;
      lastChange = Clock::now();
    } else if (Clock::now() - lastChange >= quiet) {
      break;
    }
  }

  const std::vector<HandOff> handOffs = TakeRecord();
  RunResult result;
  std::set<std::string> broadcastIds, multicastIds;
  for (const HandOff& handOff : handOffs) {
    (handOff.port == kBroadcastLocalPort ? broadcastIds : multicastIds).insert(handOff.id);
    const double ms = std::chrono::duration<double, std::milli>(handOff.at - sent).count();
    result.lastMs = std::max(result.lastMs, ms);
  }
  result.table = static_cast<double>(TableDevices(handOffs));
  result.byBroadcast = static_cast<double>(broadcastIds.size());
  result.byMulticast = static_cast<double>(multicastIds.size());
  result.handOffs = static_cast<double>(handOffs.size());
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  if (n == 0) {
    return 0;
  }
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<int> ParseList(const std::string& text) {
  std::vector<int> values;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    const int value = std::atoi(item.c_str());
    if (value <= 0 || value > 60000) {
      throw std::invalid_argument("bad device count: " + item);
    }
    values.push_back(value);
  }
  return values;
}

struct Options {
  std::vector<int> devices{10, 100, 1000};
  int runs = 5;
  int replySpreadMs = 5;
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
      options.devices = ParseList(value);
    } else if (name == "--runs") {
      options.runs = std::max(1, std::atoi(value.c_str()));
    } else if (name == "--reply-spread") {
      options.replySpreadMs = std::max(0, std::atoi(value.c_str()));
    } else if (name == "--quiet") {
      options.quietMs = std::max(50, std::atoi(value.c_str()));
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  return options;
}

int Run(const Options& options) {
  SetLogState(false, nullptr);
  const int maxDevices = *std::max_element(options.devices.begin(), options.devices.end());

  testsupport::LabNetwork lab;
  lab.AddDeviceAddresses(kFirstDeviceAddress, maxDevices);

  // The engine's sockets and receive threads are made inside the engine namespace and stay there.
  const testsupport::LabNetwork::Scope engineScope = lab.EnterEngine();
  if (testsupport::InMachineNamespace()) {
    std::fprintf(stderr, "burst_bench: not inside the lab; refusing to open sockets\n");
    return 1;
  }
  SearchDeviceManager manager;
  manager.autoRefreshLocalIP = true;
  SearchDeviceManager::foundCallback = &RecordHandOff;
  manager.StartSearch();

  std::printf(
      "burst_bench: %d runs per case, replies spread over %d ms, pass ends after %d ms "
      "without a hand-off; medians\n",
      options.runs, options.replySpreadMs, options.quietMs);
#ifndef TARVELO_BENCH_DEVICE_TABLE
  std::printf("(built without the application: 'table' counts distinct addresses handed on)\n");
#endif
  std::printf("%6s  %-15s %7s %9s %9s %9s %9s %14s\n", "N", "answers", "table", "table min",
              "broadcast", "multicast", "hand-offs", "last hand-off");

  const Mode modes[] = {{"both", nullptr},
                        {"broadcast only", "--no-multicast"},
                        {"multicast only", "--no-broadcast"}};
  for (const int devices : options.devices) {
    for (const Mode& mode : modes) {
      if (stopRequested) {
        break;
      }
      std::vector<std::string> arguments{"--devices", std::to_string(devices), "--first-address",
                                         kFirstDeviceAddress};
      if (options.replySpreadMs > 0) {
        arguments.push_back("--reply-spread");
        arguments.push_back(std::to_string(options.replySpreadMs));
      }
      if (mode.simulatorOption != nullptr) {
        arguments.push_back(mode.simulatorOption);
      }
      testsupport::NasSimulator simulator(lab, arguments);

      std::vector<double> table, byBroadcast, byMulticast, handOffs, lastMs;
      for (int run = 0; run < options.runs && !stopRequested; ++run) {
        const RunResult result = SearchPass(manager, std::chrono::milliseconds(options.quietMs));
        table.push_back(result.table);
        byBroadcast.push_back(result.byBroadcast);
        byMulticast.push_back(result.byMulticast);
        handOffs.push_back(result.handOffs);
        lastMs.push_back(result.lastMs);
      }
      simulator.Stop();
      if (table.empty()) {
        break;
      }
      std::printf("%6d  %-15s %7.0f %9.0f %9.0f %9.0f %9.0f %11.1f ms\n", devices, mode.name,
                  Median(table), *std::min_element(table.begin(), table.end()), Median(byBroadcast),
                  Median(byMulticast), Median(handOffs), Median(lastMs));
      std::fflush(stdout);
    }
  }

  manager.StopSearch();
  manager.WaitForWorkThreads(std::chrono::seconds(10));
  SearchDeviceManager::foundCallback = nullptr;
  return stopRequested ? 130 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (::geteuid() != 0) {
    std::fprintf(stderr,
                 "burst_bench: needs root, because it builds its own network lab; refusing to "
                 "run\n");
    return 2;
  }
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "burst_bench: %s\n", error.what());
    return 2;
  }
  // An interrupted run still removes its lab: the loops end and the destructors run.
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "burst_bench: %s\n", error.what());
    return 1;
  }
}
