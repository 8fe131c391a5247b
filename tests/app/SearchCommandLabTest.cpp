// The built `tarvelo --search` inside the network lab: the engine in one namespace, simulated
// devices in the other, so the search crosses a real link and never leaves the lab.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "LabNetwork.h"
#include "NamespaceProcesses.h"
#include "NasSimulator.h"
#include "TemporaryDirectory.h"
#include "UdpSocket.h"
#include "app/CommandLine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The search itself runs two seconds; this only bounds a hung program.
constexpr auto kRunTimeout = 60s;

QJsonDocument ParseJson(const std::string& text) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return document;
}

const char* const kTextKeys[] = {"id",        "ip",     "host", "product", "extra",
                                 "osVersion", "vendor", "ssid", "mac0",    "mac1"};

// Runs the built program in the engine namespace and returns its exit status.
int RunTarvelo(testsupport::LabNetwork& lab, const std::vector<std::string>& arguments,
               const std::string& output) {
  std::vector<std::string> argv = {testsupport::BuiltProgram("tarvelo")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t pid = lab.Spawn(lab.EngineNamespace(), argv, output);
  return lab.Wait(pid, kRunTimeout);
}

// A search whose port cannot be used is named on standard error with what to do; the others run
// and the command ends with the status that says a search could not run.
TEST(SearchCommandLab, SearchesThatCannotRunAreNamedOnStandardError) {
  TARVELO_REQUIRE_LAB();
  testsupport::LabNetwork lab;
  testsupport::TemporaryDirectory folder;
  // A copy that any user may run, wherever the build folder lies.
  const std::string program = folder.File("tarvelo");
  fs::copy_file(testsupport::BuiltProgram("tarvelo"), program);
  // The port helper beside it, without the capability: the program runs it, and names it as the
  // one to grant the capability to.
  const std::string helper = folder.File("tarvelo-port-helper");
  fs::copy_file(testsupport::BuiltProgram("tarvelo-port-helper"), helper);
  fs::permissions(folder.Path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  const std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                                "LC_ALL=C.UTF-8", "HOME=" + folder.Path()};
  struct Case {
    const char* name;
    bool holdPorts;
    std::vector<std::string> prefix;  // how the program is started
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"ports held by another program",
       true,
       {},
       {"tarvelo: Broadcast search off: another program holds UDP port 67.",
        "tarvelo: Multicast search off: another program holds UDP port 1900."}},
      {"an ordinary user without the capability",
       false,
       {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"},
       {"tarvelo: Broadcast search off: port 67 needs a privilege. Run: sudo setcap "
        "cap_net_bind_service=+ep " +
        helper}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<testsupport::UdpSocket>> held;
    if (c.holdPorts) {
      const auto inside = lab.EnterEngine();
      held.push_back(std::make_unique<testsupport::UdpSocket>("0.0.0.0", 67));
      held.push_back(std::make_unique<testsupport::UdpSocket>("0.0.0.0", 1900));
    }
    std::vector<std::string> argv = c.prefix;
    argv.insert(argv.end(), {program, "--search", "--seconds", "1"});
    const std::string errors =
        folder.File(std::string("errors-") + (c.holdPorts ? "held" : "user"));
    const testsupport::CommandResult result = testsupport::RunInNamespace(
        lab, lab.EngineNamespace(), argv, environment, kRunTimeout, errors);
    // The search ran without one of its parts: its own exit status says so to a script.
    EXPECT_EQ(result.status, kExitSearchOff);
    std::vector<std::string> expected = c.expected;
    expected.push_back("tarvelo: No devices found.");
    EXPECT_EQ(testsupport::SplitLines(testsupport::ReadFile(errors)), expected);
  }
}

TEST(SearchCommandLab, EventsShowEveryReportAndTheResultFilesEachDeviceOnce) {
  TARVELO_REQUIRE_LAB();
  testsupport::LabNetwork lab;
  testsupport::TemporaryDirectory folder;
  constexpr int kDevices = 3;
  lab.AddDeviceAddresses("10.231.0.10", kDevices);
  const testsupport::NasSimulator devices(
      lab, {"--devices", std::to_string(kDevices), "--first-address", "10.231.0.10"});

  const std::string output = folder.File("out.txt");
  const std::string log = folder.File("search.log");
  ASSERT_EQ(
      RunTarvelo(
          lab, {"--search", "--seconds", "2", "--passes", "2", "--json", "--events", "--log", log},
          output),
      0);

  // Standard output holds the event lines, then the result array, and nothing else: the log's
  // echo went to standard error.
  const std::vector<std::string> lines = testsupport::SplitLines(testsupport::ReadFile(output));
  std::vector<QJsonObject> events;
  std::size_t index = 0;
  for (; index < lines.size() && lines[index] != "[" && lines[index] != "[]"; ++index) {
    const QJsonDocument event = ParseJson(lines[index]);
    ASSERT_TRUE(event.isObject()) << lines[index];
    events.push_back(event.object());
  }
  ASSERT_LT(index, lines.size()) << "no result array";
  std::string resultText;
  for (; index < lines.size(); ++index) {
    resultText += lines[index] + "\n";
  }
  const QJsonDocument resultDocument = ParseJson(resultText);
  ASSERT_TRUE(resultDocument.isArray()) << resultText;
  const QJsonArray result = resultDocument.array();

  // Every device answers both searches in both passes: broadcast replies on the broadcast
  // worker's port, multicast replies on the group worker's or the per-address worker's.
  const std::set<int> multicastPorts = {1900, 1530};
  std::map<QString, std::set<QString>> kindsByAddress;
  std::map<QString, int> broadcastReports;
  std::vector<QString> firstHeard;
  std::map<QString, QJsonObject> lastReport;
  for (const QJsonObject& event : events) {
    const QString ip = event.value("ip").toString();
    const int port = event.value("port").toInt();
    EXPECT_EQ(event.value("type").toInt(), 1);
    // A multicast reply carries the simulated device's max-age of 1800 seconds; a broadcast
    // reply has none and gets the default minute.
    EXPECT_EQ(event.value("timeToLive").toInt(), port == 67 ? 60 : 1800);
    ASSERT_TRUE(port == 67 || multicastPorts.count(port) == 1) << port;
    kindsByAddress[ip].insert(port == 67 ? "broadcast" : "multicast");
    if (port == 67) {
      ++broadcastReports[ip];
    }
    if (lastReport.count(ip) == 0) {
      firstHeard.push_back(ip);
    }
    lastReport[ip] = event;
  }
  ASSERT_EQ(kindsByAddress.size(), static_cast<std::size_t>(kDevices));
  for (int device = 0; device < kDevices; ++device) {
    const QString ip = QStringLiteral("10.231.0.%1").arg(10 + device);
    SCOPED_TRACE(ip.toStdString());
    EXPECT_EQ(kindsByAddress[ip], (std::set<QString>{"broadcast", "multicast"}));
    EXPECT_GE(broadcastReports[ip], 2) << "the second pass reports the device again";
    EXPECT_EQ(lastReport[ip].value("id").toString(), QStringLiteral("SIM%1").arg(device));
    EXPECT_EQ(lastReport[ip].value("host").toString(), QStringLiteral("nas%1").arg(device));
  }

  // The result is the window's table: one entry per address (the two searches' records of one
  // device differ in their details, so the later replaces the earlier in place), in the order
  // first heard, each holding the details of its latest report.
  ASSERT_EQ(result.size(), kDevices);
  for (qsizetype row = 0; row < result.size(); ++row) {
    const QJsonObject entry = result[row].toObject();
    const QString ip = entry.value("ip").toString();
    SCOPED_TRACE(ip.toStdString());
    EXPECT_EQ(ip, firstHeard[static_cast<std::size_t>(row)]);
    EXPECT_EQ(entry.keys().size(), 12);
    for (const char* key : kTextKeys) {
      EXPECT_EQ(entry.value(key).toString(), lastReport[ip].value(key).toString()) << key;
    }
    EXPECT_EQ(entry.value("type").toInt(), 1);
    EXPECT_FALSE(entry.contains("port"));
  }

  const std::string logText = testsupport::ReadFile(log);
  EXPECT_NE(logText.find("SendMessage : pdhcp is NULL"), std::string::npos);
  EXPECT_NE(logText.find("------Exit Log System-------"), std::string::npos);
}

TEST(SearchCommandLab, TextResultAndExitStatuses) {
  TARVELO_REQUIRE_LAB();
  testsupport::LabNetwork lab;
  testsupport::TemporaryDirectory folder;

  // Nothing answers: nothing on standard output (the sentence goes to standard error).
  const std::string empty = folder.File("empty.txt");
  ASSERT_EQ(RunTarvelo(lab, {"--search", "--seconds", "1"}, empty), 0);
  EXPECT_EQ(testsupport::ReadFile(empty), "");

  // One device answers: a header and one row, found by both searches.
  const testsupport::NasSimulator device(lab, {});
  const std::string found = folder.File("found.txt");
  ASSERT_EQ(RunTarvelo(lab, {"--search", "--seconds", "1"}, found), 0);
  const std::vector<std::string> lines = testsupport::SplitLines(testsupport::ReadFile(found));
  ASSERT_EQ(lines.size(), 2u) << testsupport::ReadFile(found);
  EXPECT_EQ(lines[0].rfind("HOST", 0), 0u);
  EXPECT_EQ(lines[1].rfind("nas0 ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find(testsupport::LabNetwork::kDeviceAddress), std::string::npos);
  EXPECT_NE(lines[1].find("02:00:00:00:00:01 02:00:00:00:00:02"), std::string::npos);

  // Parsable lines: one per device, sorted by the address's number (.8 and .9 before .10), each
  // with every field of the record.
  lab.AddDeviceAddresses("10.231.0.8", 3);
  const testsupport::NasSimulator more(lab, {"--devices", "3", "--first-address", "10.231.0.8"});
  const std::string parsable = folder.File("parsable.txt");
  ASSERT_EQ(RunTarvelo(lab, {"--search", "--seconds", "1", "--parsable"}, parsable), 0);
  std::vector<std::string> addresses;
  for (const std::string& line : testsupport::SplitLines(testsupport::ReadFile(parsable))) {
    ASSERT_EQ(line.rfind("=;", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 12) << line;
    const std::size_t ip = line.find(';', 2) + 1;
    addresses.push_back(line.substr(ip, line.find(';', ip) - ip));
  }
  EXPECT_EQ(addresses,
            (std::vector<std::string>{"10.231.0.2", "10.231.0.8", "10.231.0.9", "10.231.0.10"}));

  // The program's own exit statuses: the window without a display, and usage errors.
  const std::string ignored = folder.File("ignored.txt");
  EXPECT_EQ(RunTarvelo(lab, {}, ignored), 1);
  EXPECT_EQ(RunTarvelo(lab, {"--search", "--passes", "0"}, ignored), 2);
  EXPECT_EQ(RunTarvelo(lab, {"--help"}, ignored), 0);
  EXPECT_EQ(RunTarvelo(lab, {"--search", "--json", "--parsable"}, ignored), 2);
}

}  // namespace
