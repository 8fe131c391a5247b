// tarvelo-nas-sim: simulated storage devices for tests, benchmarks and demos. It answers the
// broadcast and multicast searches as real devices do; run it only inside a network namespace.

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DeviceSimulator.h"
#include "SimOptions.h"

namespace {

// The payload limit of a UDP datagram over IPv4.
constexpr std::size_t kLargestPayload = 65507;

int UsageFailure(const std::string& message) {
  std::fprintf(stderr, "tarvelo-nas-sim: %s\n", message.c_str());
  return nassim::kUsageExitStatus;
}

}  // namespace

int main(int argc, char** argv) {
  nassim::SimOptions options;
  try {
    options = nassim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const nassim::UsageError& error) {
    return UsageFailure(error.what());
  }
  if (options.help) {
    std::fputs(nassim::SimUsage(), stdout);
    return 0;
  }

  // The raw files are read before any socket is opened, so a wrong path is a usage error.
  std::vector<nassim::RawDatagram> raw;
  for (const std::string& path : options.rawFiles) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad()) {
      return UsageFailure("cannot read --raw file \"" + path + "\"");
    }
    if (bytes.size() > kLargestPayload) {
      return UsageFailure("--raw file \"" + path + "\" is larger than one UDP datagram");
    }
    raw.push_back(nassim::RawDatagram{path, std::move(bytes)});
  }

  try {
    nassim::DeviceSimulator simulator(std::move(options), std::move(raw));
    return simulator.Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarvelo-nas-sim: %s\n", error.what());
    return 1;
  }
}
