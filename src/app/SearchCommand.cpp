#include "app/SearchCommand.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <thread>

#include <boost/thread/mutex.hpp>

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include "app/DeviceTable.h"
#include "app/Messages.h"
#include "app/SkinDeployment.h"
#include "diag/LogSystem.h"
#include "discovery/PortHelper.h"
#include "discovery/SearchDeviceManager.h"

namespace {

// How long the command waits, after stopping the engine, for the receive threads to end before
// it exits anyway. They end within moments of their sockets being shut down.
constexpr std::chrono::seconds kWorkerExitWait{5};

// Reads a whole decimal number from `minimum` to `maximum`; false for anything else, including
// a plus sign, blanks, fractions and numbers too large for any integer type.
bool ParseCount(const std::string& text, int minimum, int maximum, int& value) {
  long long number = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [end, error] = std::from_chars(first, last, number);
  if (text.empty() || error != std::errc() || end != last || number < minimum || number > maximum) {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

SearchCommandLine Failure(std::string message) {
  SearchCommandLine result;
  result.action = SearchCommandLine::Action::Error;
  result.error = std::move(message);
  return result;
}

// The stream that --events writes to; null when events are off or the search has ended. Read
// on the workers' receive threads.
std::atomic<std::FILE*> eventStream{nullptr};
// Whether events are written as parsable lines rather than JSON; set before the engine starts.
std::atomic<bool> parsableEvents{false};

// The found-device callback of the headless search: files the report exactly as the window
// does, then prints it when --events asked for it. The engine serialises every call under its
// hand-off mutex, so event lines never interleave.
std::int32_t HeadlessDeviceFoundHandler(const DeviceInfo* device, std::int32_t port) {
  DeviceFoundHandler(device, port);
  std::FILE* stream = eventStream.load();
  if (device != nullptr && stream != nullptr) {
    const std::string line = (parsableEvents.load() ? DeviceEventToParsable(*device, port)
                                                    : DeviceEventToJson(*device, port)) +
                             "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
  }
  return 0;
}

// The device's details without their closing brace, shared by the result and the event lines.
std::string DeviceJsonFields(const DeviceInfo& device) {
  std::string json = "{";
  for (const DeviceField& field : DeviceFields()) {
    if (json.size() > 1) {
      json += ',';
    }
    json += '"';
    json += field.key;
    json += "\":";
    const QString value = field.text(device);
    json += field.kind == FieldKind::kNumber ? value.toStdString() : JsonString(value);
  }
  return json;
}

// The columns of the text table: a heading and the fields whose texts the cell joins with a
// blank (the second one optional).
struct TableColumn {
  const char* heading;
  const char* fields[2];
};
const TableColumn kTableColumns[] = {
    {"HOST", {"host"}},     {"IP", {"ip"}},           {"TYPE", {"type"}},
    {"VENDOR", {"vendor"}}, {"PRODUCT", {"product"}}, {"MAC", {"mac0", "mac1"}},
    {"SSID", {"ssid"}},
};

// A table cell as the terminal shows it: control characters (line breaks, tabs, escape
// sequences a device might send) would break the table or drive the terminal, so each one is
// shown as '?'.
QString PrintableCell(QString text) {
  for (QChar& ch : text) {
    if (ch.category() == QChar::Other_Control) {
      ch = QLatin1Char('?');
    }
  }
  return text;
}

// The number of terminal columns the cell takes: its local 8-bit bytes decoded with the C
// library under the current locale, each character measured by wcwidth, so that a wide CJK
// character counts two columns and a combining mark none. A character that wcwidth cannot
// measure, and every byte that does not decode, counts one column: a terminal shows something
// there, and a guess of one keeps the rest of the line close to its place.
qsizetype DisplayWidth(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  const char* next = bytes.constData();
  auto left = static_cast<std::size_t>(bytes.size());
  std::mbstate_t state{};
  qsizetype width = 0;
  while (left > 0) {
    wchar_t character = 0;
    const std::size_t used = std::mbrtowc(&character, next, left, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
      // Decoding starts afresh after the byte it could not place.
      state = std::mbstate_t{};
      ++width;
      ++next;
      --left;
      continue;
    }
    const int columns = ::wcwidth(character);
    width += columns < 0 ? 1 : columns;
    // A NUL byte decodes with a length of 0 but still takes its byte.
    const std::size_t step = used == 0 ? 1 : used;
    next += step;
    left -= step;
  }
  return width;
}

}  // namespace

SearchCommandLine ParseSearchCommandLine(const std::vector<std::string>& arguments) {
  SearchCommandLine result;
  bool search = false;
  std::string firstSearchOption;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (argument.rfind("--", 0) != 0 || argument.size() == 2) {
      if (argument == "-h") {
        result.action = SearchCommandLine::Action::Help;
        return result;
      }
      return Failure("unexpected argument " + QuotedArgument(argument));
    }
    // Both "--seconds 5" and "--seconds=5" are accepted.
    std::string name = argument;
    std::string value;
    bool hasValue = false;
    if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    const bool takesValue = name == "--seconds" || name == "--passes" || name == "--log";
    const bool isFlag = name == "--search" || name == "--json" || name == "--parsable" ||
                        name == "--events" || name == "--help";
    if (!takesValue && !isFlag) {
      return Failure("unknown option " + QuotedArgument(name));
    }
    if (isFlag && hasValue) {
      return Failure(name + " takes no value");
    }
    if (takesValue && !hasValue) {
      // A following option is never taken as the value: "--log --json" is a forgotten name.
      if (index + 1 >= arguments.size() || arguments[index + 1].rfind("--", 0) == 0) {
        return Failure(name + " needs a value");
      }
      value = arguments[++index];
    }

    if (name == "--help") {
      result.action = SearchCommandLine::Action::Help;
      return result;
    }
    if (name == "--search") {
      search = true;
      continue;
    }
    if (firstSearchOption.empty()) {
      firstSearchOption = name;
    }
    if (name == "--json") {
      result.options.json = true;
    } else if (name == "--parsable") {
      result.options.parsable = true;
    } else if (name == "--events") {
      result.options.events = true;
    } else if (name == "--seconds") {
      if (!ParseCount(value, 1, kMaxSearchSeconds, result.options.seconds)) {
        return Failure("--seconds needs a whole number from 1 to " +
                       std::to_string(kMaxSearchSeconds) + ", not " + QuotedArgument(value));
      }
    } else if (name == "--passes") {
      if (!ParseCount(value, 1, kMaxSearchPasses, result.options.passes)) {
        return Failure("--passes needs a whole number from 1 to " +
                       std::to_string(kMaxSearchPasses) + ", not " + QuotedArgument(value));
      }
    } else if (name == "--log") {
      if (value.empty()) {
        return Failure("--log needs a file name");
      }
      if (value.size() >= static_cast<std::size_t>(kLogPathSize)) {
        return Failure("--log: the file name is longer than " + std::to_string(kLogPathSize - 1) +
                       " bytes");
      }
      result.options.logFile = value;
    }
  }
  if (result.options.json && result.options.parsable) {
    return Failure("--json and --parsable cannot be combined");
  }
  if (!search) {
    if (firstSearchOption.empty()) {
      return Failure("no command given; use --search");
    }
    return Failure(firstSearchOption + " needs --search");
  }
  result.action = SearchCommandLine::Action::Search;
  return result;
}

std::string SearchUsage() {
  return "Usage: tarvelo --search [--seconds N] [--passes K] [--json | --parsable] [--events]\n"
         "                        [--log FILE]\n"
         "\n"
         "Searches the local network for storage devices without a window and prints what\n"
         "it found.\n"
         "\n"
         "  --search      run the search\n"
         "  --seconds N   listen for N whole seconds, 1 to " +
         std::to_string(kMaxSearchSeconds) + " (default " + std::to_string(kDefaultSearchSeconds) +
         ")\n"
         "  --passes K    send K search passes at equal intervals, the first at once,\n"
         "                1 to " +
         std::to_string(kMaxSearchPasses) + " (default " + std::to_string(kDefaultSearchPasses) +
         ")\n"
         "  --json        print the devices as a JSON array instead of a table\n"
         "  --parsable    print one device per line for scripts: \"=\" and the fields,\n"
         "                separated by ';' (see below)\n"
         "  --events      also print every report the moment it arrives, before the final\n"
         "                result: one JSON object per line with the reporting port, or with\n"
         "                --parsable a line of \"+\", the port and the fields\n"
         "  --log FILE    write the diagnostic log to FILE (its echo goes to standard error)\n"
         "  --help        show this help\n"
         "\n"
         "The device list is not cleared between passes: the result holds every device heard\n"
         "during the whole run with its latest details. A device that announced its departure\n"
         "(and was not heard again) is left out. The table and the parsable lines are sorted\n"
         "by IP address; the JSON array is in the order the devices were first heard.\n"
         "\n"
         "Parsable fields, in this order: id;ip;host;product;extra;osVersion;vendor;ssid;\n"
         "mac0;mac1;type;timeToLive. In a field '\\' is written \"\\\\\", ';' is written \"\\;\"\n"
         "and a control character as '\\' and three decimal digits of its byte (\"\\010\"\n"
         "for a line break); other bytes, UTF-8 included, stand as they are.\n"
         "\n"
         "\"No devices found.\" and every other message go to standard error.\n"
         "\n"
         "Exit status: 0 when the search ran (also when it found nothing), 1 when the result\n"
         "could not be written, 2 for a usage error, 3 when one of the searches could not\n"
         "run (its port is taken or not permitted; what the others found is printed).\n";
}

int RunSearchCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  const SearchCommandLine commandLine = ParseSearchCommandLine(arguments);
  switch (commandLine.action) {
    case SearchCommandLine::Action::Help:
      return WriteText(out, SearchUsage()) ? kExitSuccess : kExitFailure;
    case SearchCommandLine::Action::Error:
      return UsageError(err, commandLine.error);
    case SearchCommandLine::Action::Search:
      break;
  }
  return RunSearch(commandLine.options, out, err);
}

int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err) {
  // The engine starts as in the window's start-up: the table first, the log off, the handler
  // registered, the address list refreshed on every pass.
  DeviceTable& table = DeviceTable::Instance();
  SetLogState(false, nullptr);
  if (!options.logFile.empty()) {
    // The log skips a file it cannot open without a word; a user who asked for one is told at
    // once instead of finding an empty file afterwards.
    std::FILE* probe = std::fopen(options.logFile.c_str(), "a");
    if (probe == nullptr) {
      ReportLine(err, "--log: cannot open " + QuotedArgument(options.logFile) + ": " +
                          std::strerror(errno));
      return kExitUsage;
    }
    std::fclose(probe);
    // Standard output carries the result, so the log's echo goes to standard error.
    SetLogEchoStream(err);
    SetLogState(true, options.logFile.c_str());
  }
  // The text table is measured in terminal columns, which the C library knows only under the
  // user's locale; a program starts in the "C" locale, where no multibyte character decodes.
  // Set here, before the engine starts its threads, since the locale is process-wide.
  std::setlocale(LC_CTYPE, "");
  // A reader that goes away (`| head -1`) makes writes fail with EPIPE instead of ending the
  // process from a worker thread in the middle of a hand-off.
  std::signal(SIGPIPE, SIG_IGN);
  parsableEvents.store(options.parsable);
  eventStream.store(options.events ? out : nullptr);
  SearchDeviceManager& manager = SearchDeviceManager::Instance();
  SearchDeviceManager::foundCallback.store(&HeadlessDeviceFoundHandler);
  manager.autoRefreshLocalIP = true;
  manager.StartSearch();
  // A search that cannot run does not stop the others, but the user is told which and why.
  // The privilege belongs to the port helper, never to this program.
  const QString program = QString::fromStdString(PortHelperPath());
  const std::vector<SearchOff> searchesOff = manager.SearchesOff();
  for (const SearchOff& search : searchesOff) {
    ReportLine(
        err,
        SearchOffWarning(GetDisplayLanguageCode(), search, program).toLocal8Bit().toStdString());
  }

  // Pass k goes out k * N / K seconds after the start; the run ends N seconds after the start.
  const auto start = std::chrono::steady_clock::now();
  const std::chrono::milliseconds total = std::chrono::seconds(options.seconds);
  for (int pass = 0; pass < options.passes; ++pass) {
    std::this_thread::sleep_until(start + total * pass / options.passes);
    manager.SendSearch();
  }
  std::this_thread::sleep_until(start + total);

  // Once the hand-off mutex is held no hand-off is in progress; with the callback gone none that
  // follows files or prints anything, so the result below is exactly what the events showed and
  // no event line can fall into it.
  std::vector<DeviceInfo> devices;
  {
    boost::mutex::scoped_lock lock(SearchDeviceManager::foundMutex);
    SearchDeviceManager::foundCallback.store(nullptr);
    eventStream.store(nullptr);
    devices = table.CopyAll();
  }
  const std::size_t found = devices.size();

  QByteArray result;
  if (options.json) {
    result = QByteArray::fromStdString(DevicesToJson(devices));
  } else if (options.parsable) {
    result = QByteArray::fromStdString(DevicesToParsable(SortedByAddress(std::move(devices))));
  } else {
    result = FormatDeviceTable(SortedByAddress(std::move(devices))).toLocal8Bit();
  }
  const bool written =
      WriteText(out, std::string_view(result.constData(), static_cast<std::size_t>(result.size())));
  // Saved at once: stopping the workers shuts their sockets down, which sets errno as well.
  const int writeError = errno;

  manager.StopSearch();
  manager.WaitForWorkThreads(kWorkerExitWait);
  if (!written) {
    ReportLine(err, std::string("cannot write the result: ") + std::strerror(writeError));
    return kExitFailure;
  }
  if (found == 0) {
    ReportLine(err, "No devices found.");
  }
  return searchesOff.empty() ? kExitSuccess : kExitSearchOff;
}

std::string DeviceToJson(const DeviceInfo& device) { return DeviceJsonFields(device) + "}"; }

std::string DeviceEventToJson(const DeviceInfo& device, std::int32_t port) {
  return DeviceJsonFields(device) + ",\"port\":" + std::to_string(port) + "}";
}

std::string DevicesToJson(const std::vector<DeviceInfo>& devices) {
  if (devices.empty()) {
    return "[]\n";
  }
  std::string json = "[\n";
  for (std::size_t index = 0; index < devices.size(); ++index) {
    json += "  " + DeviceToJson(devices[index]);
    json += index + 1 < devices.size() ? ",\n" : "\n";
  }
  json += "]\n";
  return json;
}

std::vector<DeviceInfo> SortedByAddress(std::vector<DeviceInfo> devices) {
  const DeviceField& address = DeviceFieldOf("ip");
  std::vector<std::pair<QString, std::size_t>> keys;
  keys.reserve(devices.size());
  for (std::size_t index = 0; index < devices.size(); ++index) {
    keys.emplace_back(SortKeyOf(address, devices[index]), index);
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  std::vector<DeviceInfo> sorted;
  sorted.reserve(devices.size());
  for (const auto& key : keys) {
    sorted.push_back(devices[key.second]);
  }
  return sorted;
}

std::string DeviceToParsable(const DeviceInfo& device) {
  std::string line;
  bool first = true;
  for (const DeviceField& field : DeviceFields()) {
    if (!first) {
      line += ';';
    }
    first = false;
    line += ParsableField(field.text(device).toStdString());
  }
  return line;
}

std::string DevicesToParsable(const std::vector<DeviceInfo>& devices) {
  std::string lines;
  for (const DeviceInfo& device : devices) {
    lines += "=;" + DeviceToParsable(device) + "\n";
  }
  return lines;
}

std::string DeviceEventToParsable(const DeviceInfo& device, std::int32_t port) {
  return "+;" + std::to_string(port) + ";" + DeviceToParsable(device);
}

QString FormatDeviceTable(const std::vector<DeviceInfo>& devices) {
  if (devices.empty()) {
    return QString();
  }
  std::vector<std::vector<QString>> rows(1);
  for (const TableColumn& column : kTableColumns) {
    rows.front().push_back(QString::fromLatin1(column.heading));
  }
  for (const DeviceInfo& device : devices) {
    std::vector<QString>& cells = rows.emplace_back();
    for (const TableColumn& column : kTableColumns) {
      QStringList texts;
      for (const char* key : column.fields) {
        if (key == nullptr) {
          continue;
        }
        if (const QString text = DeviceFieldOf(key).text(device); !text.isEmpty()) {
          texts << text;
        }
      }
      cells.push_back(PrintableCell(texts.join(QLatin1Char(' '))));
    }
  }
  std::vector<qsizetype> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], DisplayWidth(row[column]));
    }
  }
  constexpr qsizetype kColumnGap = 2;
  QString table;
  for (const auto& row : rows) {
    // Padding is held back until a later cell has text, so no line ends in blanks.
    qsizetype pendingBlanks = 0;
    for (std::size_t column = 0; column < row.size(); ++column) {
      if (!row[column].isEmpty()) {
        table += QString(pendingBlanks, QLatin1Char(' '));
        table += row[column];
        pendingBlanks = 0;
      }
      pendingBlanks += widths[column] - DisplayWidth(row[column]) + kColumnGap;
    }
    table += QLatin1Char('\n');
  }
  return table;
}
