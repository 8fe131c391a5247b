// The devices built from the command line: templates, addresses, timing, and what the engine
// reads from their messages.

#include "SimDevices.h"

#include <string>

#include <gtest/gtest.h>

#include "SimTemplate.h"
#include "discovery/SearchProtocol.h"

namespace nassim {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(Template, ReplacesIndexAndAddressInOnePass) {
  struct Case {
    const char* pattern;
    int index;
    const char* ip;
    const char* expected;
  };
  const Case cases[] = {
      {"id=SIM{i}", 7, "10.0.0.1", "id=SIM7"},
      {"http://{ip}:80/", 0, "10.231.2.0", "http://10.231.2.0:80/"},
      {"{i}{ip}{i}", 12, "1.2.3.4", "121.2.3.412"},
      {"{i}", 65535, "", "65535"},
      {"no braces", 1, "x", "no braces"},
      {"{ {x} {ip {I} {IP} }", 1, "x", "{ {x} {ip {I} {IP} }"},
      {"{{i}}", 3, "x", "{3}"},
      // A value that looks like a placeholder is not expanded again.
      {"{ip}", 3, "{i}", "{i}"},
      {"", 1, "x", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandTemplate(c.pattern, c.index, c.ip), c.expected) << c.pattern;
  }
}

SimOptions Options(const std::vector<std::string>& arguments) { return ParseSimOptions(arguments); }

TEST(Devices, CountUpFromTheFirstAddressOrShareTheHostAddress) {
  const SimOptions own = Options({"--devices", "3", "--first-address", "10.231.1.254"});
  const std::vector<DeviceMessages> devices = BuildDevices(own, 0x0A000001u);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(FormatIPv4(devices[0].address), "10.231.1.254");
  EXPECT_EQ(FormatIPv4(devices[1].address), "10.231.1.255");
  EXPECT_EQ(FormatIPv4(devices[2].address), "10.231.2.0");

  const std::vector<DeviceMessages> shared = BuildDevices(Options({"--devices", "2"}), 0x0AE70002u);
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_EQ(shared[0].address, 0x0AE70002u);
  EXPECT_EQ(shared[1].address, 0x0AE70002u);
}

TEST(Devices, ExpandEveryTemplateWithTheirOwnIndexAndAddress) {
  const SimOptions options = Options({"--devices",
                                      "2",
                                      "--first-address",
                                      "10.231.0.9",
                                      "--broadcast-text",
                                      "id=D{i}&host={ip}",
                                      "--byte1",
                                      "4",
                                      "--opcode",
                                      "13",
                                      "--location",
                                      "L{i}",
                                      "--server",
                                      "none",
                                      "--ssidinfo",
                                      "none",
                                      "--usn",
                                      "U{ip}",
                                      "--notify",
                                      "N"});
  const std::vector<DeviceMessages> devices = BuildDevices(options, 0);
  ASSERT_EQ(devices.size(), 2u);
  const DeviceMessages& second = devices[1];
  const std::string reply(second.broadcastReply.begin(), second.broadcastReply.end());
  EXPECT_EQ(reply[0], 13);
  EXPECT_EQ(reply[1], 4);
  EXPECT_EQ(reply.substr(20, 22), std::string("id=D1&host=10.231.0.10"));
  EXPECT_EQ(reply[42], '\0');
  EXPECT_EQ(second.searchReply,
            "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: L1\r\n"
            "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\nUSN: U10.231.0.10\r\n\r\n");
  EXPECT_EQ(second.notify,
            "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: L1\r\nNT: upnp:rootdevice\r\nNTS: N\r\nUSN: U10.231.0.10\r\n\r\n");
  EXPECT_TRUE(BuildDevices(Options({}), 1)[0].notify.empty());
}

// The defaults must describe a complete device to the engine's own parsers; a mismatch here
// would make every test and demo run with half-empty records.
TEST(Devices, DefaultMessagesGiveTheEngineAFullRecord) {
  const DeviceMessages device =
      BuildDevices(Options({"--devices", "6", "--notify", "ssdp:alive"}), 0x0AE70002u)[5];

  DeviceInfo fromBroadcast;
  ASSERT_EQ(ParseBroadcastReply(reinterpret_cast<const char*>(device.broadcastReply.data()),
                                device.broadcastReply.size(), "10.231.0.2", fromBroadcast),
            BroadcastReplyStatus::Device);
  EXPECT_STREQ(fromBroadcast.id, "SIM5");
  EXPECT_STREQ(fromBroadcast.host, "nas5");
  EXPECT_STREQ(fromBroadcast.vendor, "Tarvelo");
  EXPECT_STREQ(fromBroadcast.product, "HomeNas");
  EXPECT_STREQ(fromBroadcast.ssid, "home");
  EXPECT_STREQ(fromBroadcast.mac0, "02:00:00:00:00:01");
  EXPECT_STREQ(fromBroadcast.mac1, "02:00:00:00:00:02");
  EXPECT_EQ(fromBroadcast.type, 1);

  for (const auto& [message, type] : {std::pair{device.searchReply, 1}, {device.notify, 2}}) {
    DeviceInfo record;
    // The sender address differs from LOCATION's, which must win.
    ASSERT_TRUE(ParseMulticastMessage(message.data(), message.size(), "10.9.9.9", record))
        << message;
    EXPECT_STREQ(record.ip, "10.231.0.2");
    EXPECT_STREQ(record.id, "SIM5");
    EXPECT_STREQ(record.host, "nas5");
    EXPECT_STREQ(record.vendor, "Tarvelo");
    EXPECT_STREQ(record.product, "HomeNas");
    EXPECT_STREQ(record.extra, "1");
    EXPECT_STREQ(record.osVersion, "2.0");
    EXPECT_STREQ(record.ssid, "home");
    EXPECT_STREQ(record.mac0, "02:00:00:00:00:01");
    EXPECT_STREQ(record.mac1, "02:00:00:00:00:02");
    EXPECT_EQ(record.type, type);
  }
}

TEST(Devices, ShareTheSpreadEvenlyAfterTheDelay) {
  struct Case {
    int index;
    int count;
    int delayMs;
    int spreadMs;
    nanoseconds expected;
  };
  const Case cases[] = {
      {0, 1, 0, 0, nanoseconds(0)},
      {0, 1, 0, 500, nanoseconds(0)},
      {999, 1000, 0, 0, nanoseconds(0)},
      {0, 4, 10, 100, milliseconds(10)},
      {1, 4, 10, 100, milliseconds(35)},
      {3, 4, 10, 100, milliseconds(85)},
      {1, 3, 0, 1, nanoseconds(333333)},
      {999, 1000, 0, 1000, milliseconds(999)},
      // The largest values the command line allows do not overflow.
      {65535, 65536, 86400000, 86400000,
       milliseconds(86400000) + nanoseconds(86400000LL * 1000000 * 65535 / 65536)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplyOffset(c.index, c.count, milliseconds(c.delayMs), milliseconds(c.spreadMs)),
              c.expected)
        << c.index << " of " << c.count;
  }
}

}  // namespace
}  // namespace nassim
