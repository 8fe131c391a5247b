#include "app/CommandLine.h"

#include <algorithm>

#include "app/LayoutCheckCommand.h"
#include "app/RenderLayoutCommand.h"
#include "app/SearchCommand.h"

#ifndef TARVELO_VERSION
#error "TARVELO_VERSION is defined by the build"
#endif

namespace {

// The layout modes come first: their own options ("--out") would read as mistakes to the search's
// parser, and a layout file may well be named like an option of the search.
const CommandMode kModes[] = {
    {"--check-layout", "check a layout document and print what it holds", &RunLayoutCheckCommand,
     &LayoutCheckUsage},
    {"--render-layout", "draw a layout document's window into a PNG image", &RunRenderLayoutCommand,
     &RenderLayoutUsage},
    {"--search", "search the network without a window and print the devices", &RunSearchCommand,
     &SearchUsage},
};

}  // namespace

std::span<const CommandMode> CommandModes() { return kModes; }

const CommandMode* FindCommandMode(const CommandArguments& arguments) {
  for (const CommandMode& mode : kModes) {
    const std::string option = mode.option;
    const bool named =
        std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
          return argument == option || argument.rfind(option + "=", 0) == 0;
        });
    if (named) {
      return &mode;
    }
  }
  return nullptr;
}

bool WindowArguments(const CommandArguments& arguments, std::string& logFile) {
  if (arguments.empty()) {
    return true;
  }
  if (arguments.size() == 2 && arguments[0] == "--log" && !arguments[1].empty() &&
      arguments[1].rfind("--", 0) != 0) {
    logFile = arguments[1];
    return true;
  }
  if (arguments.size() == 1 && arguments[0].rfind("--log=", 0) == 0 && arguments[0].size() > 6) {
    logFile = arguments[0].substr(6);
    return true;
  }
  return false;
}

std::string QuotedArgument(std::string_view text) {
  std::string quoted = "'";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    quoted += (byte < 0x20 || byte == 0x7F) ? '?' : ch;
  }
  quoted += "'";
  return quoted;
}

std::string ParsableField(std::string_view text) {
  std::string field;
  field.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\\' || ch == ';') {
      field += '\\';
      field += ch;
    } else if (byte < 0x20 || byte == 0x7F) {
      const char digits[] = {'\\', static_cast<char>('0' + byte / 100),
                             static_cast<char>('0' + byte / 10 % 10),
                             static_cast<char>('0' + byte % 10)};
      field.append(digits, sizeof digits);
    } else {
      field += ch;
    }
  }
  return field;
}

bool WriteText(std::FILE* stream, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
         std::fflush(stream) == 0;
}

void ReportLine(std::FILE* err, std::string_view message) {
  WriteText(err, "tarvelo: " + std::string(message) + "\n");
}

int UsageError(std::FILE* err, std::string_view message, std::string_view mode) {
  const std::string help =
      mode.empty() ? "tarvelo --help" : "tarvelo " + std::string(mode) + " --help";
  ReportLine(err, std::string(message) + " (see " + help + ")");
  return kExitUsage;
}

std::string VersionText() { return std::string("tarvelo ") + TARVELO_VERSION + "\n"; }

std::string ProgramUsage() {
  std::string usage =
      "Usage: tarvelo [--log FILE]\n"
      "       tarvelo --search [--seconds N] [--passes K] [--json | --parsable] [--events]\n"
      "                        [--log FILE]\n"
      "       tarvelo --check-layout FILE [--dialog ID] [--variant NAME] [--skin-dir DIR]\n"
      "       tarvelo --render-layout FILE --out PNG [--dialog ID] [--variant NAME]\n"
      "                               [--skin-dir DIR]\n"
      "       tarvelo --help | --version\n"
      "\n"
      "Finds the network storage devices of the local network and lets you reach them.\n"
      "Without arguments Tarvelo opens its window (it needs a display: DISPLAY or\n"
      "WAYLAND_DISPLAY) and searches; started while its window is open, it brings that\n"
      "window to the front and exits.\n"
      "\n"
      "  --log FILE    write the search engine's diagnostic log to FILE\n"
      "  --help, -h    show this help; MODE --help shows a mode's help alone\n"
      "  --version     show the version\n"
      "\n"
      "Modes:\n";
  for (const CommandMode& mode : kModes) {
    std::string option = mode.option;
    option.resize(std::max<std::size_t>(option.size(), 16), ' ');
    usage += "  " + option + "  " + mode.summary + "\n";
  }
  for (const CommandMode& mode : kModes) {
    usage += "\n" + mode.usage();
  }
  usage +=
      "\n"
      "Exit status of every mode: 0 success, 1 an error, 2 a usage error, 3 (--search) a\n"
      "search could not run because its port is taken or not permitted.\n"
      "\n"
      "Files: the skin below $XDG_DATA_HOME (rewritten by the window at every start), the\n"
      "window's place in $XDG_CONFIG_HOME/tarvelo/tarvelo.conf, the single-instance lock\n"
      "and socket in $XDG_RUNTIME_DIR. The broadcast search binds UDP port 67 through the\n"
      "port helper, the one program that holds CAP_NET_BIND_SERVICE. See tarvelo(1).\n";
  return usage;
}

int RunCommandLine(const CommandArguments& arguments, std::FILE* out, std::FILE* err,
                   const std::function<int(const std::string& logFile)>& openWindow) {
  if (arguments.size() == 1 && arguments[0] == "--version") {
    return WriteText(out, VersionText()) ? kExitSuccess : kExitFailure;
  }
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
    return WriteText(out, ProgramUsage()) ? kExitSuccess : kExitFailure;
  }
  if (const CommandMode* mode = FindCommandMode(arguments)) {
    return mode->run(arguments, out, err);
  }
  std::string logFile;
  if (WindowArguments(arguments, logFile)) {
    return openWindow(logFile);
  }
  // Options of the search given without --search ("--json") are answered by its parser, which
  // says what is missing.
  return RunSearchCommand(arguments, out, err);
}
