#include "app/SearchCommand.h"

#include <wchar.h>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include "TemporaryDirectory.h"
#include "diag/LogSystem.h"

namespace {

using Action = SearchCommandLine::Action;

void SetText(char (&field)[DeviceInfo::kTextSize], const std::string& text) {
  SetDeviceText(field, text.data(), text.size());
}

DeviceInfo MakeDevice(const std::string& host, const std::string& ip, std::int32_t type = 1) {
  DeviceInfo device;
  SetText(device.id, "ID-" + host);
  SetText(device.ip, ip);
  SetText(device.host, host);
  SetText(device.product, "HomeNas");
  SetText(device.vendor, "Tarvelo");
  SetText(device.ssid, "home");
  SetText(device.mac0, "02:00:00:00:00:01");
  device.type = type;
  return device;
}

QJsonObject ParseObject(const std::string& json) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
  EXPECT_TRUE(document.isObject()) << json;
  return document.object();
}

// ---------------------------------------------------------------------------------------------
// Command line

SearchOptions With(int seconds, int passes, bool json, bool events, std::string logFile = {}) {
  SearchOptions options;
  options.seconds = seconds;
  options.passes = passes;
  options.json = json;
  options.events = events;
  options.logFile = std::move(logFile);
  return options;
}

TEST(SearchCommandLine, EveryOptionAndEveryBadValue) {
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    SearchOptions options;      // compared for Action::Search
    const char* errorFragment;  // for Action::Error
  };
  const SearchOptions none;
  const std::string longestPath(kLogPathSize - 1, 'p');
  const std::vector<Case> cases = {
      {{"--search"}, Action::Search, With(10, 1, false, false), ""},
      {{"--search", "--seconds", "5"}, Action::Search, With(5, 1, false, false), ""},
      {{"--search", "--seconds=86400"}, Action::Search, With(86400, 1, false, false), ""},
      {{"--search", "--passes", "1000"}, Action::Search, With(10, 1000, false, false), ""},
      {{"--json", "--events", "--search"}, Action::Search, With(10, 1, true, true), ""},
      {{"--search", "--log", "a.log"}, Action::Search, With(10, 1, false, false, "a.log"), ""},
      {{"--search", "--log", longestPath},
       Action::Search,
       With(10, 1, false, false, longestPath),
       ""},
      {{"--search", "--seconds", "3", "--seconds", "4"},
       Action::Search,
       With(4, 1, false, false),
       ""},
      {{"--search", "--parsable", "--events"},
       Action::Search,
       [] {
         SearchOptions options = With(10, 1, false, true);
         options.parsable = true;
         return options;
       }(),
       ""},
      {{"--search", "--json", "--parsable"}, Action::Error, none, "cannot be combined"},
      {{"--help"}, Action::Help, none, ""},
      {{"-h"}, Action::Help, none, ""},
      {{"--search", "--seconds", "3", "--help"}, Action::Help, none, ""},

      {{}, Action::Error, none, "use --search"},
      {{"--json"}, Action::Error, none, "--json needs --search"},
      {{"--search", "--verbose"}, Action::Error, none, "unknown option '--verbose'"},
      {{"--search", "now"}, Action::Error, none, "unexpected argument 'now'"},
      {{"--search", "--json=yes"}, Action::Error, none, "--json takes no value"},
      {{"--search", "--seconds"}, Action::Error, none, "--seconds needs a value"},
      {{"--search", "--seconds", "--json"}, Action::Error, none, "--seconds needs a value"},
      {{"--search", "--seconds", "abc"},
       Action::Error,
       none,
       "--seconds needs a whole number from 1 to 86400, not 'abc'"},
      {{"--search", "--seconds", "0"}, Action::Error, none, "not '0'"},
      {{"--search", "--seconds", "-5"}, Action::Error, none, "not '-5'"},
      {{"--search", "--seconds", "86401"}, Action::Error, none, "not '86401'"},
      {{"--search", "--seconds", "99999999999999999999"}, Action::Error, none, "whole number"},
      {{"--search", "--seconds", "1.5"}, Action::Error, none, "not '1.5'"},
      {{"--search", "--seconds", "+5"}, Action::Error, none, "not '+5'"},
      {{"--search", "--seconds="}, Action::Error, none, "not ''"},
      {{"--search", "--passes", "0"},
       Action::Error,
       none,
       "--passes needs a whole number from 1 to 1000, not '0'"},
      {{"--search", "--passes", "1001"}, Action::Error, none, "not '1001'"},
      {{"--search", "--log"}, Action::Error, none, "--log needs a value"},
      {{"--search", "--log="}, Action::Error, none, "--log needs a file name"},
      {{"--search", "--log", longestPath + "p"}, Action::Error, none, "longer than 4095 bytes"},
      // A line break in a value must not break the one-line message.
      {{"--search", "--seconds", "1\n2"}, Action::Error, none, "not '1?2'"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.arguments.empty() ? "(none)" : test.arguments.back());
    const SearchCommandLine result = ParseSearchCommandLine(test.arguments);
    ASSERT_EQ(result.action, test.action) << result.error;
    if (test.action == Action::Search) {
      EXPECT_EQ(result.options, test.options);
    }
    if (test.action == Action::Error) {
      EXPECT_NE(result.error.find(test.errorFragment), std::string::npos) << result.error;
      EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
  }
}

TEST(SearchCommandLine, HelpAndUsageErrorsGiveTheirExitStatusAndStreams) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0},   {{"--search", "--help"}, 0},
      {{"--bogus"}, 2},  {{"--search", "--seconds", "0"}, 2},
      {{"--events"}, 2},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.arguments.back());
    // These command lines must never start a search: this test runs outside the network lab.
    ASSERT_NE(ParseSearchCommandLine(test.arguments).action, Action::Search);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(RunSearchCommand(test.arguments, out, err), test.status);
    const std::string outText = testsupport::ReadStream(out);
    const std::string errText = testsupport::ReadStream(err);
    std::fclose(out);
    std::fclose(err);
    if (test.status == 0) {
      EXPECT_EQ(outText, SearchUsage());
      EXPECT_NE(outText.find("not cleared between passes"), std::string::npos);
      EXPECT_EQ(errText, "");
    } else {
      EXPECT_EQ(outText, "");
      ASSERT_FALSE(errText.empty());
      EXPECT_EQ(errText.rfind("tarvelo: ", 0), 0u) << errText;
      EXPECT_EQ(errText.find('\n'), errText.size() - 1) << "one line: " << errText;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// JSON

TEST(SearchJson, StringsAreQuotedAndEscaped) {
  struct Case {
    const char* scenario;
    QString text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"plain text", QStringLiteral("nas0"), "\"nas0\""},
      {"empty", QString(), "\"\""},
      {"quote and backslash", QStringLiteral(R"(a"b\c)"), R"("a\"b\\c")"},
      {"control characters as \\u00XX", QString::fromLatin1("\x01\n\t\r\x1f", 5),
       R"("\u0001\u000a\u0009\u000d\u001f")"},
      {"NUL inside a string", QString(QChar(0)) + QLatin1Char('x'), R"("\u0000x")"},
      {"space, slash and DEL stay", QString::fromLatin1(" /\x7f"), "\" /\x7f\""},
      {"non-ASCII as UTF-8", QStringLiteral("caf\u00e9 \u4e2d"), "\"caf\xc3\xa9 \xe4\xb8\xad\""},
      {"a character outside the basic plane", QString::fromUcs4(U"\U0001F600", 1),
       "\"\xf0\x9f\x98\x80\""},
      {"a lone surrogate becomes the replacement character", QString(QChar(0xD800)),
       "\"\xef\xbf\xbd\""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    EXPECT_EQ(JsonString(test.text), test.json);
  }
}

TEST(SearchJson, RecordKeysInRecordOrderWithNumbers) {
  DeviceInfo device = MakeDevice("nas0", "10.231.0.10", 2);
  SetText(device.extra, "1");
  SetText(device.osVersion, "2.0");
  SetText(device.mac1, "02:00:00:00:00:02");
  device.timeToLive = 1234567890123;
  const std::string fields =
      R"({"id":"ID-nas0","ip":"10.231.0.10","host":"nas0","product":"HomeNas",)"
      R"("extra":"1","osVersion":"2.0","vendor":"Tarvelo","ssid":"home",)"
      R"("mac0":"02:00:00:00:00:01","mac1":"02:00:00:00:00:02","type":2,)"
      R"("timeToLive":1234567890123)";
  EXPECT_EQ(DeviceToJson(device), fields + "}");
  EXPECT_EQ(DeviceEventToJson(device, 1530), fields + R"(,"port":1530})");
  device.type = -7;
  EXPECT_EQ(ParseObject(DeviceToJson(device)).value("type").toInt(), -7);
}

TEST(SearchJson, HostileFieldsStayValidJson) {
  // Every byte value from 1 to 255 spread over the ten fields, 31 bytes each: quotes,
  // backslashes, control bytes and bytes that are no valid UTF-8 sequence.
  DeviceInfo device;
  char(*fields[])[DeviceInfo::kTextSize] = {
      &device.id,        &device.ip,     &device.host, &device.product, &device.extra,
      &device.osVersion, &device.vendor, &device.ssid, &device.mac0,    &device.mac1};
  int byte = 1;
  for (auto* field : fields) {
    std::string text;
    for (int i = 0; i < DeviceInfo::kTextLimit; ++i) {
      text += static_cast<char>(byte);
      byte = byte == 255 ? 1 : byte + 1;
    }
    SetText(*field, text);
  }
  const std::string json = DeviceToJson(device);
  const QJsonObject object = ParseObject(json);
  const char* keys[] = {"id",        "ip",     "host", "product", "extra",
                        "osVersion", "vendor", "ssid", "mac0",    "mac1"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    SCOPED_TRACE(keys[i]);
    EXPECT_EQ(object.value(keys[i]).toString(),
              QString::fromLocal8Bit(*fields[i], DeviceInfo::kTextLimit));
  }
  EXPECT_EQ(QString::fromUtf8(json.data(), static_cast<qsizetype>(json.size())).toUtf8(),
            QByteArray::fromStdString(json))
      << "the output is valid UTF-8";
}

TEST(SearchJson, FieldsAreReadAsTheWindowReadsThem) {
  DeviceInfo device = MakeDevice("nas", "10.231.0.10");
  // Bytes that are no valid text in the locale become replacement characters.
  SetText(device.host,
          "a\xff"
          "b\xc3");
  // A field without its terminator ends after 32 bytes and never runs into the next one.
  std::memset(device.id, 'a', sizeof device.id);
  const QJsonObject object = ParseObject(DeviceToJson(device));
  EXPECT_EQ(object.value("host").toString(), QStringLiteral("a\ufffdb\ufffd"));
  EXPECT_EQ(object.value("id").toString(), QString(DeviceInfo::kTextSize, QLatin1Char('a')));
  EXPECT_EQ(object.value("ip").toString(), QStringLiteral("10.231.0.10"));
}

TEST(SearchJson, ResultArrayKeepsTableOrderOneObjectPerLine) {
  EXPECT_EQ(DevicesToJson({}), "[]\n");

  const std::vector<DeviceInfo> devices = {MakeDevice("zeta", "10.231.0.12"),
                                           MakeDevice("alpha", "10.231.0.10"),
                                           MakeDevice("mid", "10.231.0.11", 2)};
  const std::string json = DevicesToJson(devices);
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
  const QJsonArray array = document.array();
  ASSERT_EQ(array.size(), 3);
  EXPECT_EQ(array[0].toObject().value("host").toString(), QStringLiteral("zeta"));
  EXPECT_EQ(array[1].toObject().value("host").toString(), QStringLiteral("alpha"));
  EXPECT_EQ(array[2].toObject().value("type").toInt(), 2);
  const QStringList lines = QString::fromStdString(json).split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 6);  // "[", three objects, "]", and the empty rest after the last break
  EXPECT_EQ(lines[0], QStringLiteral("["));
  EXPECT_EQ(lines[1].toStdString(), "  " + DeviceToJson(devices[0]) + ",");
  EXPECT_EQ(lines[3].toStdString(), "  " + DeviceToJson(devices[2]));
  EXPECT_EQ(lines[4], QStringLiteral("]"));
}

// ---------------------------------------------------------------------------------------------
// Text table

// Puts the C library's locale (which the table measures with) to `name` for one test, and the
// previous one back afterwards.
class ScopedCLocale {
 public:
  explicit ScopedCLocale(const char* name) : previous(std::setlocale(LC_ALL, nullptr)) {
    active = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedCLocale() { std::setlocale(LC_ALL, previous.c_str()); }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

  bool active = false;

 private:
  std::string previous;
};

// The terminal columns of a text as the C library measures it under the current locale.
int Columns(const QString& text) {
  const std::wstring wide = text.toStdWString();
  const int columns = wcswidth(wide.c_str(), wide.size());
  EXPECT_GE(columns, 0) << "a test text the terminal cannot show";
  return columns;
}

// The part of `line` whose characters start at a terminal column from `from` to before `to`.
QString ColumnSlice(const QString& line, int from, int to) {
  QString slice;
  int column = 0;
  for (const char32_t character : line.toUcs4()) {
    const QString text = QString::fromUcs4(&character, 1);
    if (column >= from && column < to) {
      slice += text;
    }
    column += Columns(text);
  }
  return slice;
}

const QStringList kHeaders = {QStringLiteral("HOST"),    QStringLiteral("IP"),
                              QStringLiteral("TYPE"),    QStringLiteral("VENDOR"),
                              QStringLiteral("PRODUCT"), QStringLiteral("MAC"),
                              QStringLiteral("SSID")};

// Formats `devices` and checks that in every line each cell starts at its header's terminal
// column and is followed by blanks only, at least two before the next column; that each column
// starts two blanks after the widest cell of the one before; and that no line ends in a blank.
// `expected` holds each device's cells in header order.
void ExpectColumnsLineUp(const std::vector<DeviceInfo>& devices,
                         const std::vector<QStringList>& expected) {
  const QString table = FormatDeviceTable(devices);
  ASSERT_TRUE(table.endsWith(QLatin1Char('\n')));
  const QStringList lines = table.chopped(1).split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), static_cast<qsizetype>(expected.size()) + 1) << table.toStdString();

  // The header line is ASCII: its character positions are its columns.
  std::vector<int> starts;
  for (const QString& name : kHeaders) {
    starts.push_back(static_cast<int>(
        lines[0].indexOf(QRegularExpression(QStringLiteral("\\b") + name + "\\b"))));
    ASSERT_GE(starts.back(), 0) << name.toStdString();
  }
  EXPECT_EQ(starts.front(), 0);
  for (std::size_t column = 0; column + 1 < starts.size(); ++column) {
    int widest = Columns(kHeaders[static_cast<qsizetype>(column)]);
    for (const QStringList& cells : expected) {
      widest = std::max(widest, Columns(cells[static_cast<qsizetype>(column)]));
    }
    EXPECT_EQ(starts[column + 1], starts[column] + widest + 2) << "column " << column;
  }

  for (std::size_t row = 0; row < expected.size(); ++row) {
    const QString& line = lines[static_cast<qsizetype>(row) + 1];
    SCOPED_TRACE(line.toStdString());
    for (std::size_t column = 0; column < starts.size(); ++column) {
      const int end = column + 1 < starts.size() ? starts[column + 1] : Columns(line) + 1;
      const QString cell = ColumnSlice(line, starts[column], end);
      EXPECT_EQ(cell.trimmed(), expected[row][static_cast<qsizetype>(column)]) << column;
      if (column + 1 < starts.size()) {
        EXPECT_TRUE(cell.endsWith(QStringLiteral("  "))) << column;
      }
    }
    EXPECT_FALSE(line.endsWith(QLatin1Char(' ')));
  }
}

// ---------------------------------------------------------------------------------------------
// Parsable lines and the order by address

TEST(SearchParsable, EveryFieldInRecordOrderWithHostileTextsEscaped) {
  DeviceInfo device = MakeDevice("nas;1", "10.0.0.9", 2);
  SetText(device.product, "a\\b");
  SetText(device.vendor, "line\nbreak");
  SetText(device.ssid, "Büro 無線");
  EXPECT_EQ(
      DeviceToParsable(device),
      "ID-nas\\;1;10.0.0.9;nas\\;1;a\\\\b;;;line\\010break;Büro 無線;02:00:00:00:00:01;;2;60");
  EXPECT_EQ(DevicesToParsable({device, MakeDevice("b", "10.0.0.10")}),
            "=;" + DeviceToParsable(device) + "\n=;" +
                DeviceToParsable(MakeDevice("b", "10.0.0.10")) + "\n");
  EXPECT_EQ(DeviceEventToParsable(device, 1900), "+;1900;" + DeviceToParsable(device));
  EXPECT_EQ(DevicesToParsable({}), "");
  EXPECT_EQ(FormatDeviceTable({}), "");
}

TEST(SearchParsable, DevicesSortByTheAddressNumberThenTextStably) {
  const std::vector<DeviceInfo> devices = {
      MakeDevice("a", "10.0.0.10"), MakeDevice("b", "not-an-address"),
      MakeDevice("c", "10.0.0.9"),  MakeDevice("d", "9.255.255.255"),
      MakeDevice("e", "10.0.0.10"), MakeDevice("f", ""),
  };
  std::string order;
  for (const DeviceInfo& device : SortedByAddress(devices)) {
    order += device.host;
  }
  // Addresses by number, equal ones in their order of arrival; what is not an address last.
  EXPECT_EQ(order, "dcaefb");
}

TEST(SearchTable, ColumnsAlignByDisplayWidth) {
  const ScopedCLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.active);
  DeviceInfo wide = MakeDevice("\xe4\xb8\xad\xe6\x96\x87-nas", "10.231.0.100", 2);  // 中文-nas
  SetText(wide.vendor, "Caf\xc3\xa9");                                              // Café
  SetText(wide.product, "\xf0\x9f\x98\x80 storage box");  // an emoji: two columns, four bytes
  SetText(wide.mac1, "02:00:00:00:00:02");
  DeviceInfo bare = MakeDevice("a-much-longer-host-name", "10.231.0.9", 1);
  SetText(bare.vendor, "");  // an empty cell in the middle keeps the columns in place
  SetText(bare.product, "P");

  ExpectColumnsLineUp(
      {wide, bare},
      {
          {QStringLiteral("\u4e2d\u6587-nas"), QStringLiteral("10.231.0.100"), QStringLiteral("2"),
           QStringLiteral("Caf\u00e9"), QString::fromUcs4(U"\U0001F600 storage box"),
           QStringLiteral("02:00:00:00:00:01 02:00:00:00:00:02"), QStringLiteral("home")},
          {QStringLiteral("a-much-longer-host-name"), QStringLiteral("10.231.0.9"),
           QStringLiteral("1"), QString(), QStringLiteral("P"), QStringLiteral("02:00:00:00:00:01"),
           QStringLiteral("home")},
      });
}

TEST(SearchTable, CjkNamesLineUpUnderAUtf8Locale) {
  const ScopedCLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.active);
  struct Row {
    const char* host;  // UTF-8, as a device sends it
    const char* vendor;
    const char* ssid;
  };
  const Row rows[] = {
      {"nas-office", "Generic", "home"},
      // Chinese: seven wide characters, fourteen columns, the widest host.
      {"\xe7\xbd\x91\xe7\xbb\x9c\xe5\xad\x98\xe5\x82\xa8\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8",
       "\xe5\xad\x98\xe5\x82\xa8", "\xe5\xae\xb6"},  // 网络存储服务器, 存储, 家
      // Japanese: katakana with the long vowel mark, all wide.
      {"\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab", "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
       "\xe3\x81\x86\xe3\x81\xa1"},  // ファイル, テスト, うち
      // Mixed: ASCII, kanji and a combining acute accent that takes no column.
      {"NAS-\xe6\x9d\xb1\xe4\xba\xac-cafe\xcc\x81", "Caf\xc3\xa9", "wlan-\xe4\xba\x8c"},
  };
  std::vector<DeviceInfo> devices;
  std::vector<QStringList> expected;
  int index = 0;
  for (const Row& row : rows) {
    const QString ip = QStringLiteral("10.231.0.%1").arg(++index);
    DeviceInfo device = MakeDevice(row.host, ip.toStdString());
    SetText(device.vendor, row.vendor);
    SetText(device.ssid, row.ssid);
    devices.push_back(device);
    expected.push_back({QString::fromUtf8(row.host), ip, QStringLiteral("1"),
                        QString::fromUtf8(row.vendor), QStringLiteral("HomeNas"),
                        QStringLiteral("02:00:00:00:00:01"), QString::fromUtf8(row.ssid)});
  }
  // The measure is the terminal's, not the number of characters or bytes.
  ASSERT_EQ(Columns(expected[1][0]), 14);
  ASSERT_EQ(Columns(expected[3][0]), 13);
  ExpectColumnsLineUp(devices, expected);
}

TEST(SearchTable, ControlCharactersCannotBreakTheTableOrDriveTheTerminal) {
  DeviceInfo device = MakeDevice("evil", "10.231.0.10");
  SetText(device.host, "a\nb\x1b[2Jc\rd\te");
  SetText(device.ssid, "\x7f\xc2\x9b");  // DEL and the C1 control sequence introducer
  const QString table = FormatDeviceTable({device});
  const QStringList lines = table.chopped(1).split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("a?b?[2Jc?d?e  "))) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral("??"))) << lines[1].toStdString();
  for (const QChar ch : table) {
    EXPECT_TRUE(ch == QLatin1Char('\n') || ch.category() != QChar::Other_Control);
  }
}

}  // namespace
