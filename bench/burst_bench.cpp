// Burst completeness: how many of N simulated devices that all answer one search pass within a
// few milliseconds reach the device table, and how long after the send the last one arrives.
//
// Everything runs inside a network lab of this program's own (two namespaces joined by a veth
// link on 10.231.0.0/16): the engine in one, tarvelo-nas-sim with N device addresses in the
// other. With --links K the engine host has K networks, each a namespace of its own on a link of
// its own, and the N devices are spread over them. The program refuses to run unless it is root,
// because only root can make the lab, and it never opens a socket outside the lab.
//
//   burst_bench [--devices 10,100,1000] [--links 1,3] [--runs 5] [--reply-spread MS] [--quiet MS]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BenchLab.h"
#include "LabNetwork.h"
#include "NasSimulator.h"
#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"
#include "discovery/SearchProtocol.h"
#ifdef TARVELO_BENCH_DEVICE_TABLE
#include "app/DeviceTable.h"
#endif

namespace {

using benchlab::Clock;
using benchlab::HandOff;
using benchlab::HandOffRecord;
using benchlab::Median;
using benchlab::stopRequested;

constexpr const char* kFirstDeviceAddress = "10.231.1.1";
// Network k (from 0, the lab's own link) holds the addresses 10.231.64k.0/18: the engine's end is
// .1, the devices' end .2, and its devices start at 10.231.(64k + 1).1. A network's third octet
// divided by 64 is therefore its number.
constexpr int kMaxLinks = 4;
constexpr int kMaxDevicesPerLink = 62 * 256;

void ClearTable() {
#ifdef TARVELO_BENCH_DEVICE_TABLE
  DeviceTable::Instance().Clear();
#endif
}

// The addresses of the distinct devices in the device table. A build without the application has
// no table; it then takes the distinct addresses of the records the table would have taken
// (types 1 and 2).
std::set<std::string> TableDevices(const std::vector<HandOff>& handOffs) {
  std::set<std::string> addresses;
#ifdef TARVELO_BENCH_DEVICE_TABLE
  (void)handOffs;
  for (const DeviceInfo& device : DeviceTable::Instance().CopyAll()) {
    addresses.insert(device.ip);
  }
#else
  for (const HandOff& handOff : handOffs) {
    if (handOff.type == kDeviceSearchReply || handOff.type == kDeviceAlive) {
      addresses.insert(handOff.ip);
    }
  }
#endif
  return addresses;
}

std::string NetworkAddress(int network, int octet3, int octet4) {
  return "10.231." + std::to_string(64 * network + octet3) + "." + std::to_string(octet4);
}

int NetworkOf(const std::string& address) {
  const std::size_t second = address.find('.', address.find('.') + 1);
  return std::atoi(address.c_str() + second + 1) / 64;
}

// How many of `count` devices network `network` of `links` holds: as even a share as can be.
int DevicesOn(int network, int links, int count) {
  return count / links + (network < count % links ? 1 : 0);
}

struct RunResult {
  double table = 0;
  double worstLinkShare = 0;  // the smallest share of its own devices a network got into the table
  double byBroadcast = 0;
  double byMulticast = 0;
  double handOffs = 0;
  double lastMs = -1;  // from the send to the last hand-off; -1 when nothing arrived
};

struct Mode {
  const char* name;
  const char* simulatorOption;  // the search the devices do not answer, if any
};

// One search pass: send, then wait until no hand-off has come for `quiet`. `perLink` is the
// number of devices on each network.
RunResult SearchPass(SearchDeviceManager& manager, std::chrono::milliseconds quiet,
                     const std::vector<int>& perLink) {
  ClearTable();
  const Clock::time_point sent = benchlab::SearchUntilQuiet(manager, quiet);

  const std::vector<HandOff> handOffs = HandOffRecord::Take();
  RunResult result;
  // Devices are told apart by address: the simulators of different networks number their
  // devices alike.
  std::set<std::string> byBroadcast, byMulticast;
  for (const HandOff& handOff : handOffs) {
    (handOff.port == kBroadcastLocalPort ? byBroadcast : byMulticast).insert(handOff.ip);
    const double ms = std::chrono::duration<double, std::milli>(handOff.at - sent).count();
    result.lastMs = std::max(result.lastMs, ms);
  }
  const std::set<std::string> table = TableDevices(handOffs);
  std::vector<int> inTable(perLink.size(), 0);
  for (const std::string& address : table) {
    const auto network = static_cast<std::size_t>(NetworkOf(address));
    if (network < inTable.size()) {
      ++inTable[network];
    }
  }
  result.worstLinkShare = 1;
  for (std::size_t network = 0; network < perLink.size(); ++network) {
    if (perLink[network] > 0) {
      result.worstLinkShare =
          std::min(result.worstLinkShare, static_cast<double>(inTable[network]) / perLink[network]);
    }
  }
  result.table = static_cast<double>(table.size());
  result.byBroadcast = static_cast<double>(byBroadcast.size());
  result.byMulticast = static_cast<double>(byMulticast.size());
  result.handOffs = static_cast<double>(handOffs.size());
  return result;
}

struct Options {
  std::vector<int> devices{10, 100, 1000};
  std::vector<int> links{1};
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
      options.devices = benchlab::ParseList(value, "device count", 1, 60000);
    } else if (name == "--links") {
      options.links = benchlab::ParseList(value, "number of links", 1, kMaxLinks);
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

// The figures of one case, kept for the ratios at the end.
struct CaseResult {
  int links;
  int devices;
  std::string mode;
  double table;
  double lastMs;
};

// Runs every device count and answer mode on a host with `links` networks.
void RunLinks(const Options& options, int links, std::vector<CaseResult>& results) {
  const int maxDevices = *std::max_element(options.devices.begin(), options.devices.end());
  if (DevicesOn(0, links, maxDevices) > kMaxDevicesPerLink) {
    throw std::invalid_argument("more than " + std::to_string(kMaxDevicesPerLink) +
                                " devices on one network");
  }

  testsupport::LabNetwork lab;
  // Network 0 is the lab's own link, the others are namespaces of their own.
  std::vector<std::string> namespaces{lab.DeviceNamespace()};
  std::vector<testsupport::LabNetwork::DeviceNetwork> networks;
  lab.AddDeviceAddresses(kFirstDeviceAddress, DevicesOn(0, links, maxDevices));
  for (int network = 1; network < links; ++network) {
    networks.push_back(lab.AddDeviceNetwork(NetworkAddress(network, 0, 1) + "/18",
                                            NetworkAddress(network, 0, 2) + "/18"));
    lab.AddDeviceAddresses(NetworkAddress(network, 1, 1), DevicesOn(network, links, maxDevices),
                           networks.back());
    namespaces.push_back(networks.back().ns);
  }

  // The engine's sockets and receive threads are made inside the engine namespace and stay there.
  const testsupport::LabNetwork::Scope engineScope = lab.EnterEngine();
  benchlab::RequireInsideLab();
  SearchDeviceManager manager;
  manager.autoRefreshLocalIP = true;
  SearchDeviceManager::foundCallback = &HandOffRecord::Callback;
  manager.StartSearch();

  std::printf("\n%d link%s: the devices are spread evenly over %d network%s\n", links,
              links == 1 ? "" : "s", links, links == 1 ? "" : "s");
  std::printf("%6s  %-15s %7s %9s %10s %9s %9s %9s %14s\n", "N", "answers", "table", "table min",
              "worst link", "broadcast", "multicast", "hand-offs", "last hand-off");

  const Mode modes[] = {{"both", nullptr},
                        {"broadcast only", "--no-multicast"},
                        {"multicast only", "--no-broadcast"}};
  for (const int devices : options.devices) {
    for (const Mode& mode : modes) {
      if (stopRequested) {
        break;
      }
      std::vector<int> perLink;
      std::vector<std::unique_ptr<testsupport::NasSimulator>> simulators;
      for (int network = 0; network < links; ++network) {
        perLink.push_back(DevicesOn(network, links, devices));
        if (perLink.back() == 0) {
          continue;
        }
        std::vector<std::string> arguments{"--devices", std::to_string(perLink.back()),
                                           "--first-address", NetworkAddress(network, 1, 1)};
        if (options.replySpreadMs > 0) {
          arguments.push_back("--reply-spread");
          arguments.push_back(std::to_string(options.replySpreadMs));
        }
        if (mode.simulatorOption != nullptr) {
          arguments.push_back(mode.simulatorOption);
        }
        simulators.push_back(std::make_unique<testsupport::NasSimulator>(
            lab, namespaces[static_cast<std::size_t>(network)], arguments));
      }

      std::vector<double> table, worstLink, byBroadcast, byMulticast, handOffs, lastMs;
      for (int run = 0; run < options.runs && !stopRequested; ++run) {
        const RunResult result =
            SearchPass(manager, std::chrono::milliseconds(options.quietMs), perLink);
        table.push_back(result.table);
        worstLink.push_back(result.worstLinkShare);
        byBroadcast.push_back(result.byBroadcast);
        byMulticast.push_back(result.byMulticast);
        handOffs.push_back(result.handOffs);
        lastMs.push_back(result.lastMs);
      }
      for (const auto& simulator : simulators) {
        simulator->Stop();
      }
      if (table.empty()) {
        break;
      }
      std::printf("%6d  %-15s %7.0f %9.0f %9.1f%% %9.0f %9.0f %9.0f %11.1f ms\n", devices,
                  mode.name, Median(table), *std::min_element(table.begin(), table.end()),
                  100 * *std::min_element(worstLink.begin(), worstLink.end()), Median(byBroadcast),
                  Median(byMulticast), Median(handOffs), Median(lastMs));
      std::fflush(stdout);
      results.push_back({links, devices, mode.name, Median(table), Median(lastMs)});
    }
  }

  manager.StopSearch();
  manager.WaitForWorkThreads(std::chrono::seconds(10));
  SearchDeviceManager::foundCallback = nullptr;
}

// With several numbers of links, each case against the same case on the fewest links.
void PrintRatios(const Options& options, const std::vector<CaseResult>& results) {
  const int fewest = *std::min_element(options.links.begin(), options.links.end());
  bool header = false;
  for (const CaseResult& item : results) {
    if (item.links == fewest) {
      continue;
    }
    const auto base = std::find_if(results.begin(), results.end(), [&](const CaseResult& other) {
      return other.links == fewest && other.devices == item.devices && other.mode == item.mode;
    });
    if (base == results.end()) {
      continue;
    }
    if (!header) {
      std::printf("\nagainst %d link%s (medians): table / N, last hand-off ratio\n", fewest,
                  fewest == 1 ? "" : "s");
      header = true;
    }
    std::printf("%d links  %6d  %-15s table %5.3f (%5.3f)   last hand-off x%.2f\n", item.links,
                item.devices, item.mode.c_str(), item.table / item.devices,
                base->table / base->devices, base->lastMs > 0 ? item.lastMs / base->lastMs : 0.0);
  }
}

int Run(const Options& options) {
  SetLogState(false, nullptr);
  std::printf(
      "burst_bench: %d runs per case, replies spread over %d ms, pass ends after %d ms "
      "without a hand-off; medians\n",
      options.runs, options.replySpreadMs, options.quietMs);
#ifndef TARVELO_BENCH_DEVICE_TABLE
  std::printf("(built without the application: 'table' counts distinct addresses handed on)\n");
#endif
  std::vector<CaseResult> results;
  for (const int links : options.links) {
    if (stopRequested) {
      break;
    }
    RunLinks(options, links, results);
  }
  PrintRatios(options, results);
  return stopRequested ? 130 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  return benchlab::Main<Options>("burst_bench", argc, argv, &ParseOptions,
                                 [](const Options& options) {
#ifdef TARVELO_BENCH_DEVICE_TABLE
                                   // The application's own handler files every hand-off in the
                                   // table the dialog shows.
                                   HandOffRecord::SetForward(&DeviceFoundHandler);
#endif
                                   return Run(options);
                                 });
}
