#include "BenchLab.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "LabNetwork.h"
#include "discovery/SearchDeviceManager.h"

namespace benchlab {
namespace {

std::mutex recordMutex;
std::vector<HandOff> record;
std::atomic<FoundDeviceCallback> forwardTo{nullptr};

void RequestStop(int) { stopRequested = true; }

}  // namespace

std::atomic<bool> stopRequested{false};

void InstallStopHandlers() {
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
}

bool RequireRoot(const char* program) {
  if (::geteuid() == 0) {
    return true;
  }
  std::fprintf(stderr, "%s: needs root, because it builds its own network lab; refusing to run\n",
               program);
  return false;
}

void RequireInsideLab() {
  if (testsupport::InMachineNamespace()) {
    throw std::runtime_error("not inside the lab; refusing to open sockets");
  }
}

std::int32_t HandOffRecord::Callback(const DeviceInfo* device, std::int32_t port) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(recordMutex);
    record.push_back({now, port, device->id, device->ip, device->type});
  }
  const FoundDeviceCallback forward = forwardTo.load();
  return forward != nullptr ? forward(device, port) : 0;
}

void HandOffRecord::SetForward(FoundDeviceCallback forward) { forwardTo = forward; }

std::vector<HandOff> HandOffRecord::Take() {
  std::lock_guard<std::mutex> lock(recordMutex);
  std::vector<HandOff> taken;
  taken.swap(record);
  return taken;
}

std::size_t HandOffRecord::Size() {
  std::lock_guard<std::mutex> lock(recordMutex);
  return record.size();
}

Clock::time_point SearchUntilQuiet(SearchDeviceManager& manager, std::chrono::milliseconds quiet) {
  HandOffRecord::Take();
  const Clock::time_point sent = Clock::now();
  manager.SendSearch();
  std::size_t seen = 0;
  Clock::time_point lastChange = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::seconds(30);
  while (!stopRequested && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::size_t now = HandOffRecord::Size();
    if (now != seen) {
      seen = now;
      lastChange = Clock::now();
    } else if (Clock::now() - lastChange >= quiet) {
      break;
    }
  }
  return sent;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  if (n == 0) {
    return 0;
  }
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<int> ParseList(const std::string& text, const char* what, int low, int high) {
  std::vector<int> values;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    char* end = nullptr;
    const long value = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || value < low || value > high) {
      throw std::invalid_argument(std::string("bad ") + what + ": " + item);
    }
    values.push_back(static_cast<int>(value));
  }
  if (values.empty()) {
    throw std::invalid_argument(std::string("no ") + what);
  }
  return values;
}

}  // namespace benchlab
