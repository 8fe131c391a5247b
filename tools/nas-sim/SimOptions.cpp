#include "SimOptions.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace nassim {

namespace {

using std::chrono::milliseconds;

[[noreturn]] void Refuse(std::string_view option, std::string_view what, std::string_view value) {
  throw UsageError(std::string(option) + " needs " + std::string(what) + ", not \"" +
                   std::string(value) + "\"");
}

std::int64_t ParseWhole(std::string_view option, std::string_view value, std::int64_t min,
                        std::int64_t max) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || number < min ||
      number > max) {
    Refuse(option, "a whole number from " + std::to_string(min) + " to " + std::to_string(max),
           value);
  }
  return number;
}

milliseconds ParseMilliseconds(std::string_view option, std::string_view value, std::int64_t min) {
  // A day is far beyond any test or demo, and keeps every later sum of times from overflowing.
  constexpr std::int64_t kLimit = 24 * 60 * 60 * 1000;
  return milliseconds(ParseWhole(option, value, min, kLimit));
}

milliseconds ParseSeconds(std::string_view option, std::string_view value) {
  double seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      !std::isfinite(seconds) || seconds <= 0 || seconds > 24 * 60 * 60) {
    Refuse(option, "a number of seconds above 0, at most a day", value);
  }
  return milliseconds(std::llround(seconds * 1000));
}

struct KnownOption {
  std::string_view name;
  bool takesValue;
  void (*apply)(SimOptions& options, std::string_view name, std::string_view value);
};

const KnownOption kOptions[] = {
    {"--devices", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.devices = static_cast<int>(ParseWhole(n, v, 1, kMaxDevices));
     }},
    {"--first-address", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.firstAddress = ParseIPv4(v);
       if (!o.firstAddress) {
         Refuse(n, "a dotted IPv4 address", v);
       }
     }},
    {"--broadcast-text", true,
     [](SimOptions& o, std::string_view, std::string_view v) { o.broadcastText = v; }},
    {"--byte1", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.byte1 = static_cast<std::uint8_t>(ParseWhole(n, v, 0, 255));
     }},
    {"--opcode", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.opcode = static_cast<std::uint8_t>(ParseWhole(n, v, 0, 255));
     }},
    {"--location", true,
     [](SimOptions& o, std::string_view, std::string_view v) { o.location = v; }},
    {"--server", true, [](SimOptions& o, std::string_view, std::string_view v) { o.server = v; }},
    {"--ssidinfo", true,
     [](SimOptions& o, std::string_view, std::string_view v) { o.ssidinfo = v; }},
    {"--usn", true, [](SimOptions& o, std::string_view, std::string_view v) { o.usn = v; }},
    {"--no-broadcast", false,
     [](SimOptions& o, std::string_view, std::string_view) { o.answerBroadcast = false; }},
    {"--no-multicast", false,
     [](SimOptions& o, std::string_view, std::string_view) { o.answerMulticast = false; }},
    {"--reply-delay", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.replyDelay = ParseMilliseconds(n, v, 0);
     }},
    {"--reply-spread", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.replySpread = ParseMilliseconds(n, v, 0);
     }},
    {"--repeat", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.repeat = static_cast<int>(ParseWhole(n, v, 1, 1000));
     }},
    {"--notify", true, [](SimOptions& o, std::string_view, std::string_view v) { o.notify = v; }},
    {"--notify-every", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.notifyEvery = ParseMilliseconds(n, v, 1);
     }},
    {"--raw", true,
     [](SimOptions& o, std::string_view, std::string_view v) { o.rawFiles.emplace_back(v); }},
    {"--to", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.rawDestination = ParseEndpoint(v);
       if (!o.rawDestination) {
         Refuse(n, "ADDRESS:PORT with a dotted IPv4 address and a port from 1 to 65535", v);
       }
     }},
    {"--once", false, [](SimOptions& o, std::string_view, std::string_view) { o.once = true; }},
    {"--capture", true,
     [](SimOptions& o, std::string_view, std::string_view v) { o.captureDir = v; }},
    {"--ready", true, [](SimOptions& o, std::string_view, std::string_view v) { o.readyFile = v; }},
    {"--duration", true,
     [](SimOptions& o, std::string_view n, std::string_view v) {
       o.duration = ParseSeconds(n, v);
     }},
    {"--verbose", false,
     [](SimOptions& o, std::string_view, std::string_view) { o.verbose = true; }},
    {"--help", false, [](SimOptions& o, std::string_view, std::string_view) { o.help = true; }},
};

const KnownOption* FindOption(std::string_view name) {
  for (const KnownOption& known : kOptions) {
    if (known.name == name) {
      return &known;
    }
  }
  return nullptr;
}

// Refuses combinations that would silently do less than asked.
void CheckCombination(const SimOptions& options) {
  if (options.firstAddress &&
      !OffsetAddress(*options.firstAddress, static_cast<std::uint64_t>(options.devices - 1))) {
    throw UsageError("--first-address " + FormatIPv4(*options.firstAddress) +
                     " leaves no room for " + std::to_string(options.devices) +
                     " devices below 255.255.255.255");
  }
  if (!options.rawFiles.empty() && !options.rawDestination) {
    throw UsageError("--raw needs --to ADDRESS:PORT");
  }
  if (options.rawFiles.empty() && options.rawDestination) {
    throw UsageError("--to needs at least one --raw FILE");
  }
  if (options.notifyEvery && !options.notify) {
    throw UsageError("--notify-every needs --notify NTS");
  }
  if (options.once && !options.notify && options.rawFiles.empty()) {
    throw UsageError("--once needs --notify or --raw, else there is nothing to send");
  }
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    std::string_view name = arguments[at];
    std::string_view value;
    bool hasValue = false;
    const std::size_t equals = name.find('=');
    if (name.starts_with("--") && equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasValue = true;
    }
    const KnownOption* known = FindOption(name);
    if (known == nullptr) {
      throw UsageError("unknown option \"" + std::string(name) + "\" (see --help)");
    }
    if (known->takesValue && !hasValue) {
      if (at + 1 == arguments.size()) {
        throw UsageError(std::string(name) + " needs a value");
      }
      value = arguments[++at];
    } else if (!known->takesValue && hasValue) {
      throw UsageError(std::string(name) + " takes no value");
    }
    known->apply(options, name, value);
  }
  if (!options.help) {
    CheckCombination(options);
  }
  return options;
}

const char* SimUsage() {
  return R"(usage: tarvelo-nas-sim [options]
Simulated storage devices that answer the broadcast search on UDP port 68 and the
multicast search on 239.143.255.250:1900. Run it only inside a network namespace.

  --devices N              number of devices (default 1), device index i = 0..N-1
  --first-address A        device i answers from address A+i (the address must exist)
  --broadcast-text T       text area of the broadcast reply ({i}: index, {ip}: address)
  --opcode N, --byte1 N    bytes 0 and 1 of the broadcast reply (default 12 and 1)
  --location T, --server T, --ssidinfo T, --usn T
                           header values of the HTTP reply and NOTIFY ("none": left out)
  --no-broadcast, --no-multicast
                           do not answer that search
  --reply-delay MS         wait before answering a request
  --reply-spread MS        spread the devices' answers evenly over this time
  --repeat K               send every answer K times
  --notify NTS             send one NOTIFY per device right after start
  --notify-every MS        repeat the NOTIFY messages periodically
  --raw FILE --to A:PORT   send the bytes of FILE as one datagram after start (repeatable)
  --once                   send what --notify/--raw ask for, then exit
  --capture DIR            write every received datagram to DIR/<port>-<NNNN>.bin
                           (the group loops the devices' own NOTIFY messages back too)
  --ready FILE             create FILE, holding the process id, once all sockets are bound
  --duration SEC           exit after SEC seconds
  --verbose                one line per datagram on stderr
)";
}

}  // namespace nassim
