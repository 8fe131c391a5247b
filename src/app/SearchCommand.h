#pragma once

// The headless search: `tarvelo --search` starts the discovery engine exactly as the window's
// start-up does, sends a number of search passes, waits, prints the devices it heard and stops.
// It needs no display. Parsing, running and the output writers are separate so that each can be
// tested alone.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <QString>

#include "app/CommandLine.h"
#include "app/DeviceFields.h"
#include "app/JsonText.h"
#include "discovery/DeviceInfo.h"

inline constexpr int kDefaultSearchSeconds = 10;
inline constexpr int kMaxSearchSeconds = 24 * 60 * 60;
inline constexpr int kDefaultSearchPasses = 1;
inline constexpr int kMaxSearchPasses = 1000;

struct SearchOptions {
  int seconds = kDefaultSearchSeconds;
  int passes = kDefaultSearchPasses;
  bool json = false;
  // One device per line, its fields separated by ';' (ParsableField); excludes `json`.
  bool parsable = false;
  bool events = false;
  // Empty: the diagnostic log stays off, as in the window.
  std::string logFile;

  bool operator==(const SearchOptions&) const = default;
};

// What a command line asks for.
struct SearchCommandLine {
  enum class Action { Search, Help, Error };
  Action action = Action::Error;
  SearchOptions options;
  // For Action::Error: one line without the program name and without a line break.
  std::string error;
};

// Parses the arguments that follow the program name. Touches nothing.
SearchCommandLine ParseSearchCommandLine(const std::vector<std::string>& arguments);

// The text of --help, ending in a line break.
std::string SearchUsage();

// The command-line mode as a whole: parses the arguments, prints the usage or a one-line error,
// or runs the search. The result goes to `out` and errors to `err`. Returns the exit status.
int RunSearchCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// One headless search with valid options. Opens sockets: run it only where the search may be
// sent. Returns the exit status: kExitSearchOff when one of the searches could not run (the others
// ran and their devices are printed).
int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err);

// One record as a JSON object on one line, keys in record order: id, ip, host, product, extra,
// osVersion, vendor, ssid, mac0, mac1, type, timeToLive.
std::string DeviceToJson(const DeviceInfo& device);
// One hand-off as --events prints it: the record's keys followed by "port".
std::string DeviceEventToJson(const DeviceInfo& device, std::int32_t port);
// The final result of --json: an array with one object per line, ending in a line break.
std::string DevicesToJson(const std::vector<DeviceInfo>& devices);

// The devices ordered by IP address, by its number; an address that is not dotted IPv4 text
// after every one that is, in text order. Stable: records of one address keep their order.
std::vector<DeviceInfo> SortedByAddress(std::vector<DeviceInfo> devices);

// A record's fields for --parsable, each escaped with ParsableField and joined by ';', in record
// order (the keys of DeviceToJson); without a line break.
std::string DeviceToParsable(const DeviceInfo& device);
// The final result of --parsable: "=;" and the record's fields, one line per device; empty when
// there are none.
std::string DevicesToParsable(const std::vector<DeviceInfo>& devices);
// One hand-off as --events --parsable prints it: "+;PORT;" and the record's fields.
std::string DeviceEventToParsable(const DeviceInfo& device, std::int32_t port);

// The final result as text: a header line and one line per device, ending in a line break;
// empty when there are none (the search then says "No devices found." on standard error). Columns
// are aligned by display width under the C library's current locale (a wide CJK character takes two
// columns, a combining mark none), so that they line up on a terminal of that locale.
QString FormatDeviceTable(const std::vector<DeviceInfo>& devices);
