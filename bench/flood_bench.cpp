// What a flood of fake devices does to the program: the real window under a private Xvfb in the
// engine's namespace of a network lab, and on the devices' side a sender of this bench that
// announces ("ssdp:alive" to the search group) a device of a new identity and a new address with
// every datagram, at a steady rate. It measures
//
//  - how long the program takes to end after a click on its close button, with the click during
//    the search cycle and after it;
//  - the window's resident memory from the end of the cycle on, while the flood goes on;
//  - the resident memory of the headless `--search` under the same flood.
//
// It needs root (it makes the lab), Xvfb and xdotool; the program and its flood never leave the
// lab. Times are medians of the runs; nothing passes or fails.
//
//   flood_bench [--rates 500,2000,4000] [--runs 3] [--clicks 5,30] [--rss-seconds 60]
//               [--search-seconds 30] [--program PATH]
//
// --clicks are the moments of the click, in seconds from the window's appearance (the cycle
// ends at 10 s); the flood starts when the window appears.
//
// --program runs another build of the program (an older one, to compare with); the default is
// the one built beside the bench.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchLab.h"
#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "PrivateXServer.h"
#include "TemporaryDirectory.h"
#include "UdpSocket.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The close button of the English skin, relative to the window's top left corner.
constexpr int kCloseX = 305;
constexpr int kCloseY = 15;
// The search cycle lasts ten seconds from the window's start.
constexpr auto kCycle = 10s;
// A program that has not ended this long after the click counts as this long.
constexpr auto kExitLimit = 60s;

using benchlab::Median;

// Resident memory of a process in MB, or 0 once it has gone.
double ResidentMegabytes(pid_t pid) {
  std::string status;
  try {
    status = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/status");
  } catch (const std::exception&) {
    return 0.0;
  }
  for (const std::string& line : testsupport::SplitLines(status)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::atof(line.c_str() + 6) / 1024.0;
    }
  }
  return 0.0;
}

// Announces a new device with every datagram, RATE datagrams a second, from the devices' side of
// the lab, until stopped. Device i is at 10.(i>>16).(i>>8).(i) above 10.100.0.0 and calls itself
// fake<i>, so no two announcements name the same device.
class FloodSender {
 public:
  FloodSender(const testsupport::LabNetwork& lab, int rate) : rate_(rate) {
    const auto inside = lab.EnterDevices();
    socket_.emplace("0.0.0.0", 0);
    thread_ = std::thread([this] { Run(); });
  }
  ~FloodSender() {
    stop_ = true;
    thread_.join();
  }
  FloodSender(const FloodSender&) = delete;
  FloodSender& operator=(const FloodSender&) = delete;

  long long Sent() const { return sent_.load(); }

 private:
  void Run() {
    // Batches every 5 ms keep the rate steady without a system call per microsecond.
    constexpr auto kStep = 5ms;
    const auto start = Clock::now();
    long long next = 0;
    while (!stop_) {
      const auto due = static_cast<long long>(
          std::chrono::duration<double>(Clock::now() - start).count() * rate_);
      for (; next < due && !stop_; ++next) {
        Send(next);
      }
      std::this_thread::sleep_for(kStep);
    }
  }

  void Send(long long index) {
    const auto number = static_cast<unsigned long long>(index) + 1;
    const std::string address = "10." + std::to_string(100 + ((number >> 16) & 0x7f)) + "." +
                                std::to_string((number >> 8) & 0xff) + "." +
                                std::to_string(number & 0xff);
    const std::string name = "fake" + std::to_string(number);
    const std::string message =
        "NOTIFY * HTTP/1.1\r\n"
        "HOST: 239.143.255.250:1900\r\n"
        "CACHE-CONTROL: max-age=1800\r\n"
        "LOCATION: http://" +
        address +
        ":80/desc.xml\r\n"
        "NT: upnp:rootdevice\r\n"
        "NTS: ssdp:alive\r\n"
        "SERVER: VRIX/2.0, UPnP/1.0, Tarvelo/" +
        name +
        "/HomeNas/1\r\n"
        "USN: uuid:" +
        name + "::upnp:rootdevice\r\n\r\n";
    try {
      socket_->SendTo("239.143.255.250", 1900, message);
      ++sent_;
    } catch (const std::exception&) {
      // A full send buffer drops the datagram, as a busy network would.
    }
  }

  int rate_;
  std::optional<testsupport::UdpSocket> socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> sent_{0};
};

class Bench {
 public:
  Bench(testsupport::LabNetwork& lab, const std::string& display, const std::string& program)
      : lab_(lab),
        display_(display),
        program_(program),
        xdotool_(testsupport::FindProgram("xdotool")) {}

  // Starts the window in a fresh set of folders; returns its process.
  pid_t StartWindow(const testsupport::TemporaryDirectory& folder) {
    return StartProgram(folder, {});
  }

  pid_t StartProgram(const testsupport::TemporaryDirectory& folder,
                     const std::vector<std::string>& arguments) {
    for (const char* name : {"home", "runtime", "data", "config", "cache"}) {
      fs::create_directories(folder.File(name));
    }
    fs::permissions(folder.File("runtime"), fs::perms::owner_all);
    std::vector<std::string> argv{"/usr/bin/env",
                                  "-i",
                                  "DISPLAY=" + display_,
                                  "HOME=" + folder.File("home"),
                                  "XDG_DATA_HOME=" + folder.File("data"),
                                  "XDG_RUNTIME_DIR=" + folder.File("runtime"),
                                  "XDG_CONFIG_HOME=" + folder.File("config"),
                                  "XDG_CACHE_HOME=" + folder.File("cache"),
                                  "PATH=/usr/bin:/bin",
                                  "LANG=C.UTF-8",
                                  "LC_ALL=C.UTF-8",
                                  "DBUS_SESSION_BUS_ADDRESS=unix:path=" + folder.File("no-bus"),
                                  program_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return lab_.Spawn(lab_.EngineNamespace(), argv);
  }

  // The window's top left corner once it shows, or nothing when it did not within 30 s.
  std::optional<std::pair<int, int>> WaitForWindow() {
    std::optional<std::pair<int, int>> corner;
    testsupport::WaitUntil(
        [&] {
          const auto windows = testsupport::SplitLines(
              XDoTool({"search", "--onlyvisible", "--name", "^Tarvelo$"}).output);
          for (const std::string& window : windows) {
            int x = -1;
            int y = -1;
            int width = 0;
            for (const std::string& line : testsupport::SplitLines(
                     XDoTool({"getwindowgeometry", "--shell", window}).output)) {
              if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
              if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
              if (line.rfind("WIDTH=", 0) == 0) width = std::atoi(line.c_str() + 6);
            }
            if (width == 328 && x >= 0 && y >= 0) {
              corner.emplace(x, y);
              return true;
            }
          }
          return false;
        },
        30s);
    return corner;
  }

  // Seconds from a click on the close button until the program has ended.
  double CloseTime(pid_t pid, std::pair<int, int> corner) {
    XDoTool({"mousemove", std::to_string(corner.first + kCloseX),
             std::to_string(corner.second + kCloseY)});
    // From just before the click: the program may well have ended before xdotool has.
    const auto clicked = Clock::now();
    XDoTool({"click", "1"});
    if (lab_.Wait(pid, kExitLimit) < 0) {
      return std::chrono::duration<double>(kExitLimit).count();
    }
    return std::chrono::duration<double>(Clock::now() - clicked).count();
  }

 private:
  testsupport::CommandResult XDoTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{xdotool_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::RunCommand(argv, {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"}, 15s);
  }

  testsupport::LabNetwork& lab_;
  std::string display_;
  std::string program_;
  std::string xdotool_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> rates{500, 2000, 4000};
  std::vector<int> clicks{5, 30};
  int runs = 3;
  int rssSeconds = 60;
  int searchSeconds = 30;
  std::string program = testsupport::BuiltProgram("tarvelo");
  try {
    for (int i = 1; i + 1 < argc; i += 2) {
      if (std::strcmp(argv[i], "--rates") == 0) {
        rates = benchlab::ParseList(argv[i + 1], "rate", 1, 100000);
      } else if (std::strcmp(argv[i], "--clicks") == 0) {
        clicks = benchlab::ParseList(argv[i + 1], "click moment", 0, 3600);
      } else if (std::strcmp(argv[i], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[i + 1]));
      } else if (std::strcmp(argv[i], "--rss-seconds") == 0) {
        rssSeconds = std::max(0, std::atoi(argv[i + 1]));
      } else if (std::strcmp(argv[i], "--search-seconds") == 0) {
        searchSeconds = std::max(0, std::atoi(argv[i + 1]));
      } else if (std::strcmp(argv[i], "--program") == 0) {
        program = argv[i + 1];
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "flood_bench: %s\n", error.what());
    return 2;
  }
  if (!testsupport::LabAvailable()) {
    std::fprintf(stderr, "flood_bench: needs root to make its network lab\n");
    return 2;
  }
  if (testsupport::FindProgram("Xvfb").empty() || testsupport::FindProgram("xdotool").empty()) {
    std::fprintf(stderr, "flood_bench: needs Xvfb and xdotool\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  try {
    testsupport::PrivateXServer screen("1024x768x24");
    if (screen.Display().empty()) {
      std::fprintf(stderr, "flood_bench: Xvfb did not start\n");
      return 1;
    }
    testsupport::LabNetwork lab;
    Bench bench(lab, screen.Display(), program);
    std::printf("%-6s %-8s %-10s %s\n", "rate/s", "click at", "close (s)", "each run");
    for (const int rate : rates) {
      for (const int click : clicks) {
        const auto moment = std::chrono::seconds(click);
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
          testsupport::TemporaryDirectory folder;
          const pid_t pid = bench.StartWindow(folder);
          const auto corner = bench.WaitForWindow();
          if (!corner) {
            lab.Terminate(pid);
            throw std::runtime_error("the window did not show");
          }
          const auto shown = Clock::now();
          FloodSender flood(lab, rate);
          std::this_thread::sleep_until(shown + moment);
          // The program has ended (or was killed at the limit) and been reaped.
          times.push_back(bench.CloseTime(pid, *corner));
        }
        std::string each;
        for (const double time : times) {
          each += (each.empty() ? "" : " ") + std::to_string(time).substr(0, 5);
        }
        std::printf("%-6d %-8s %-10.2f %s\n", rate, (std::to_string(click) + " s").c_str(),
                    Median(times), each.c_str());
        std::fflush(stdout);
      }
    }

    if (rssSeconds > 0) {
      std::printf("\nwindow RSS (MB) from the end of the cycle, every 10 s, flood going on:\n");
      for (const int rate : rates) {
        testsupport::TemporaryDirectory folder;
        const pid_t pid = bench.StartWindow(folder);
        if (!bench.WaitForWindow()) {
          lab.Terminate(pid);
          throw std::runtime_error("the window did not show");
        }
        const auto shown = Clock::now();
        FloodSender flood(lab, rate);
        std::this_thread::sleep_until(shown + kCycle);
        std::string samples;
        for (int second = 0; second <= rssSeconds; second += 10) {
          std::this_thread::sleep_until(shown + kCycle + std::chrono::seconds(second));
          char sample[32];
          std::snprintf(sample, sizeof sample, "%s%.1f", samples.empty() ? "" : " ",
                        ResidentMegabytes(pid));
          samples += sample;
        }
        std::printf("%-6d %s (%lld sent)\n", rate, samples.c_str(), flood.Sent());
        std::fflush(stdout);
        lab.Terminate(pid);
      }
    }

    if (searchSeconds > 0) {
      std::printf("\n--search --seconds %d RSS (MB) every 5 s, flood going on:\n", searchSeconds);
      for (const int rate : rates) {
        testsupport::TemporaryDirectory folder;
        FloodSender flood(lab, rate);
        const auto start = Clock::now();
        const pid_t pid =
            bench.StartProgram(folder, {"--search", "--seconds", std::to_string(searchSeconds)});
        std::string samples;
        for (int second = 5; second < searchSeconds; second += 5) {
          std::this_thread::sleep_until(start + std::chrono::seconds(second));
          char sample[32];
          std::snprintf(sample, sizeof sample, "%s%.1f", samples.empty() ? "" : " ",
                        ResidentMegabytes(pid));
          samples += sample;
        }
        lab.Wait(pid, std::chrono::seconds(searchSeconds + 60));
        std::printf("%-6d %s\n", rate, samples.c_str());
        std::fflush(stdout);
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "flood_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
