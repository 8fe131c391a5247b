// The simulator's command line: what each option sets, and every way to get it wrong.

#include "SimOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace nassim {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;

TEST(SimOptions, EveryOptionReachesItsField) {
  const SimOptions options = ParseSimOptions({
      "--devices",
      "1000",
      "--first-address=10.231.1.254",
      "--broadcast-text",
      "id={i}",
      "--byte1",
      "255",
      "--opcode",
      "0",
      "--location",
      "none",
      "--server",
      "S{i}",
      "--ssidinfo",
      "",
      "--usn",
      "uuid:{ip}::x",
      "--no-broadcast",
      "--no-multicast",
      "--reply-delay",
      "15",
      "--reply-spread",
      "1000",
      "--repeat",
      "3",
      "--notify",
      "",
      "--notify-every",
      "250",
      "--raw",
      "a.bin",
      "--raw",
      "b.bin",
      "--to",
      "10.231.0.1:67",
      "--capture",
      "cap",
      "--ready",
      "ready",
      "--duration",
      "0.25",
      "--verbose",
  });
  EXPECT_EQ(options.devices, 1000);
  EXPECT_EQ(options.firstAddress, 0x0AE701FEu);
  EXPECT_EQ(options.broadcastText, "id={i}");
  EXPECT_EQ(options.byte1, 255);
  EXPECT_EQ(options.opcode, 0);
  // "none" stays a plain value here; building the messages gives it its meaning.
  EXPECT_EQ(options.location, "none");
  EXPECT_EQ(options.server, "S{i}");
  EXPECT_EQ(options.ssidinfo, "");
  EXPECT_EQ(options.usn, "uuid:{ip}::x");
  EXPECT_FALSE(options.answerBroadcast);
  EXPECT_FALSE(options.answerMulticast);
  EXPECT_EQ(options.replyDelay, milliseconds(15));
  EXPECT_EQ(options.replySpread, milliseconds(1000));
  EXPECT_EQ(options.repeat, 3);
  // An empty NTS is still a request to announce.
  EXPECT_EQ(options.notify, std::optional<std::string>(""));
  EXPECT_EQ(options.notifyEvery, milliseconds(250));
  EXPECT_EQ(options.rawFiles, (std::vector<std::string>{"a.bin", "b.bin"}));
  ASSERT_TRUE(options.rawDestination);
  EXPECT_EQ(options.rawDestination->address, 0x0AE70001u);
  EXPECT_EQ(options.rawDestination->port, 67);
  EXPECT_EQ(options.captureDir, "cap");
  EXPECT_EQ(options.readyFile, "ready");
  EXPECT_EQ(options.duration, milliseconds(250));
  EXPECT_TRUE(options.verbose);
}

TEST(SimOptions, LaterValueReplacesEarlierAndOnceAcceptsEitherSender) {
  EXPECT_EQ(ParseSimOptions({"--devices", "2", "--devices=5"}).devices, 5);
  EXPECT_TRUE(ParseSimOptions({"--once", "--notify", "ssdp:alive"}).once);
  EXPECT_TRUE(ParseSimOptions({"--once", "--raw", "f", "--to", "10.231.0.1:1900"}).once);
  // The last address that leaves room for every device.
  EXPECT_EQ(ParseSimOptions({"--devices", "2", "--first-address", "255.255.255.254"}).firstAddress,
            0xFFFFFFFEu);
  EXPECT_TRUE(ParseSimOptions({"--help", "--once"}).help);
}

struct RefusedCase {
  std::vector<std::string> arguments;
  const char* messagePart;
};

class RefusedCommandLine : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedCommandLine, GivesOneLineUsageError) {
  try {
    ParseSimOptions(GetParam().arguments);
    FAIL() << "accepted";
  } catch (const UsageError& error) {
    const std::string message = error.what();
    EXPECT_THAT(message, HasSubstr(GetParam().messagePart));
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadValues, RefusedCommandLine,
    ::testing::Values(
        RefusedCase{{"--devices", "0"}, "--devices needs a whole number from 1 to 65536"},
        RefusedCase{{"--devices", "65537"}, "--devices"},
        RefusedCase{{"--devices", "3x"}, "not \"3x\""},
        RefusedCase{{"--devices", " 3"}, "--devices"}, RefusedCase{{"--devices="}, "--devices"},
        RefusedCase{{"--devices"}, "--devices needs a value"},
        RefusedCase{{"--byte1", "256"}, "--byte1"}, RefusedCase{{"--opcode", "-1"}, "--opcode"},
        RefusedCase{{"--repeat", "0"}, "--repeat"},
        RefusedCase{{"--reply-delay", "-5"}, "--reply-delay"},
        RefusedCase{{"--reply-spread", "1.5"}, "--reply-spread"},
        RefusedCase{{"--notify", "a", "--notify-every", "0"}, "--notify-every"},
        RefusedCase{{"--duration", "0"}, "--duration"},
        RefusedCase{{"--duration", "-1"}, "--duration"},
        RefusedCase{{"--duration", "nan"}, "--duration"},
        RefusedCase{{"--duration", "inf"}, "--duration"},
        RefusedCase{{"--first-address", "10.231.0"}, "--first-address needs a dotted IPv4"},
        RefusedCase{{"--first-address", "10.231.0.256"}, "--first-address"},
        RefusedCase{{"--first-address", "10.231.0.2.1"}, "--first-address"},
        RefusedCase{{"--first-address", "010.231.0.2"}, "--first-address"},
        RefusedCase{{"--first-address", "255.255.255.254", "--devices", "3"}, "no room for 3"},
        RefusedCase{{"--raw", "f", "--to", "10.231.0.1"}, "--to needs ADDRESS:PORT"},
        RefusedCase{{"--raw", "f", "--to", "10.231.0.1:0"}, "--to"},
        RefusedCase{{"--raw", "f", "--to", "10.231.0.1:65536"}, "--to"},
        RefusedCase{{"--raw", "f"}, "--raw needs --to"},
        RefusedCase{{"--to", "10.231.0.1:68"}, "--to needs at least one --raw"},
        RefusedCase{{"--notify-every", "100"}, "--notify-every needs --notify"},
        RefusedCase{{"--once"}, "--once needs --notify or --raw"},
        RefusedCase{{"--verbose=1"}, "--verbose takes no value"},
        RefusedCase{{"--bogus"}, "unknown option \"--bogus\""},
        RefusedCase{{"devices"}, "unknown option \"devices\""}));

}  // namespace
}  // namespace nassim
