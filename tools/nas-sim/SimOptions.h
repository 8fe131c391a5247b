#pragma once

// The command line of tarvelo-nas-sim.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimAddress.h"

namespace nassim {

inline constexpr int kMaxDevices = 65536;
inline constexpr int kUsageExitStatus = 2;

inline constexpr const char* kDefaultBroadcastText =
    "id=SIM{i}&host=nas{i}&vendor=Tarvelo&product=HomeNas&ssid=home"
    "&mac0=02:00:00:00:00:01&mac1=02:00:00:00:00:02";
inline constexpr const char* kDefaultLocation = "http://{ip}:80/desc.xml";
inline constexpr const char* kDefaultServer = "VRIX/2.0, UPnP/1.0, Tarvelo/nas{i}/HomeNas/1";
inline constexpr const char* kDefaultSsidinfo =
    "SSID/home,MAC0/02:00:00:00:00:01,MAC1/02:00:00:00:00:02";
inline constexpr const char* kDefaultUsn = "uuid:SIM{i}::upnp:rootdevice";
// A header template with this value leaves the header out.
inline constexpr const char* kNoHeader = "none";

struct SimOptions {
  int devices = 1;
  // Device i answers from firstAddress + i; without it from the host's own address.
  std::optional<std::uint32_t> firstAddress;
  std::string broadcastText = kDefaultBroadcastText;
  std::uint8_t opcode = 12;
  std::uint8_t byte1 = 1;
  std::string location = kDefaultLocation;
  std::string server = kDefaultServer;
  std::string ssidinfo = kDefaultSsidinfo;
  std::string usn = kDefaultUsn;
  bool answerBroadcast = true;
  bool answerMulticast = true;
  std::chrono::milliseconds replyDelay{0};
  std::chrono::milliseconds replySpread{0};
  int repeat = 1;
  std::optional<std::string> notify;
  std::optional<std::chrono::milliseconds> notifyEvery;
  std::vector<std::string> rawFiles;
  std::optional<Endpoint> rawDestination;
  bool once = false;
  std::string captureDir;
  std::string readyFile;
  std::optional<std::chrono::milliseconds> duration;
  bool verbose = false;
  bool help = false;
};

// A command line that cannot be run; the message is one line without the program name.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the arguments that follow the program name. Options take their value as the next
// argument or after "=" ("--devices 3", "--devices=3"); a repeated option replaces the earlier
// value, except --raw, which adds a file. Throws UsageError.
SimOptions ParseSimOptions(const std::vector<std::string>& arguments);

// The text printed for --help.
const char* SimUsage();

}  // namespace nassim
