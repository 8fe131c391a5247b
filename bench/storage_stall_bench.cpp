// How long the window's thread stalls when My Storage is clicked, on a real desktop: a private
// Samba server with guest shares on the device side of a network lab, and on the other side an
// X server, a session bus with GVFS, openbox and thunar as the user's file manager. Each round
// runs the whole My Storage sequence for the device (close its windows, unmount its GVFS and
// kernel mounts, mount and open it) while a 1 ms timer ticks on this thread, and the longest gap
// between two ticks is the stall a user would feel: once with the sequence on this thread, as a
// window that does the work itself, and once handed to the sequence's own thread, as the window
// does.
//
// It needs root (it makes the lab), Samba, GVFS, openbox and thunar, which scripts/setup.sh
// installs, and it opens no socket outside the lab.
//
//   storage_stall_bench [--rounds 5] [--log FILE]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "DesktopSession.h"
#include "LabNetwork.h"
#include "SambaServer.h"
#include "TemporaryDirectory.h"
#include "app/StorageAccess.h"
#include "diag/LogSystem.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kDevice[] = "10.231.50.2";

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// Runs START, then this thread's event loop until DONE holds and a little after; returns the
// longest gap between two ticks of a 1 ms timer in milliseconds, and the whole time.
std::pair<double, double> LongestStall(const std::function<void()>& start,
                                       const std::function<bool()>& done) {
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  ticker.start(1);
  clock.start();
  // The first tick comes through the loop, so a sequence run right here on the thread shows as
  // the gap it causes.
  QTimer::singleShot(0, [&] { start(); });
  while (!done() || clock.elapsed() < 200) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  const qint64 now = clock.nsecsElapsed();
  longest = std::max(longest, now - last);
  return {longest / 1e6, now / 1e6};
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--log") == 0) {
      // What each sequence did, in the diagnostic log's words.
      SetLogState(true, argv[i + 1]);
      SetLogEchoStream(nullptr);
    }
  }
  if (!testsupport::LabAvailable()) {
    std::fprintf(stderr, "storage_stall_bench: needs root to make its network lab\n");
    return 2;
  }
  try {
    testsupport::TemporaryDirectory folder;
    testsupport::LabNetwork lab;
    lab.AddDeviceAddresses(kDevice, 1);
    std::filesystem::create_directory(folder.File("samba"));
    std::filesystem::create_directory(folder.File("desktop"));
    testsupport::SambaServer samba(lab, folder.File("samba"), {kDevice});
    testsupport::DesktopSession desktop(lab, folder.File("desktop"));
    std::ofstream(desktop.ConfigHome() + "/mimeapps.list")
        << "[Default Applications]\ninode/directory=thunar.desktop\n"
           "x-scheme-handler/smb=thunar.desktop\n";
    // This program joins the session: its display, bus and folders, inside the lab.
    for (const std::string& variable : desktop.Environment()) {
      const std::size_t equals = variable.find('=');
      ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
    const auto inside = lab.EnterEngine();
    QCoreApplication application(argc, argv);

    std::vector<double> onThread, offThread, onTotal, offTotal;
    for (int round = 0; round < rounds; ++round) {
      bool finished = false;
      const auto [stall, total] = LongestStall(
          [&] {
            CloseExplorerWindows(kDevice);
            DeleteConnections(kDevice);
            DeleteMappedDrives(kDevice);
            OpenServerInExplorer(kDevice);
            finished = true;
          },
          [&] { return finished; });
      onThread.push_back(stall);
      onTotal.push_back(total);

      std::atomic<bool> ended{false};
      const auto [offStall, offElapsed] =
          LongestStall([&] { OpenStorage(kDevice, [&](const QString&, bool) { ended = true; }); },
                       [&] { return ended.load(); });
      offThread.push_back(offStall);
      offTotal.push_back(offElapsed);
      std::printf(
          "round %d: on the window's thread %.1f ms stall (%.0f ms in all), "
          "off it %.1f ms stall (%.0f ms in all)\n",
          round + 1, stall, total, offStall, offElapsed);
    }
    const double on = Median(onThread);
    const double off = Median(offThread);
    std::printf(
        "median longest stall: on the window's thread %.1f ms, off it %.1f ms "
        "(%.0f times shorter); median sequence %.0f ms / %.0f ms\n",
        on, off, off > 0 ? on / off : 0.0, Median(onTotal), Median(offTotal));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "storage_stall_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
