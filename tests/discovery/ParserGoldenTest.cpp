// The two datagram parsers against the golden files of tests/golden (see the README there): every
// datagram with its expected record, and the same datagrams placed in memory the way the receive
// loop hands them over, or followed by bytes that must not be read.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "TemporaryDirectory.h"
#include "discovery/DeviceInfo.h"
#include "discovery/SearchProtocol.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSender = "10.231.0.99";
constexpr std::size_t kReceiveBufferSize = 1025;

fs::path GoldenFolder(const std::string& kind) { return fs::path(TARVELO_GOLDEN_DIR) / kind; }

// The case names of a folder: every NAME.bin, sorted.
std::vector<std::string> CaseNames(const std::string& kind) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(GoldenFolder(kind), error)) {
    if (entry.path().extension() == ".bin") {
      names.push_back(entry.path().stem().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Writes text the way the expected files do: printable ASCII as it is, a few control characters
// as C escapes, every other byte as \xHH.
std::string Escape(const char* text, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte >= 0x20 && byte < 0x7f) {
          out += static_cast<char>(byte);
        } else {
          static const char kHex[] = "0123456789abcdef";
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 15];
        }
    }
  }
  return out;
}

// The record as the expected files write it, plus a list of broken invariants (a field without
// its terminating NUL, bytes after the text that are not zero, a set flag).
std::string Render(const DeviceInfo& device) {
  const std::pair<const char*, const char*> fields[] = {
      {"id", device.id},           {"ip", device.ip},       {"host", device.host},
      {"product", device.product}, {"extra", device.extra}, {"osVersion", device.osVersion},
      {"vendor", device.vendor},   {"ssid", device.ssid},   {"mac0", device.mac0},
      {"mac1", device.mac1},
  };
  std::string out;
  std::string broken;
  for (const auto& [name, field] : fields) {
    const std::size_t size = strnlen(field, DeviceInfo::kTextSize);
    out += std::string(name) + "=" + Escape(field, size) + "\n";
    if (size == static_cast<std::size_t>(DeviceInfo::kTextSize)) {
      broken += std::string("! ") + name + " has no NUL\n";
    } else if (std::any_of(field + size, field + DeviceInfo::kTextSize,
                           [](char c) { return c != 0; })) {
      broken += std::string("! ") + name + " is not zero-filled after its text\n";
    }
  }
  out += "type=" + std::to_string(device.type) + "\n";
  out += "timeToLive=" + std::to_string(device.timeToLive) + "\n";
  if (device.reservedFlag) {
    broken += "! reservedFlag is set\n";
  }
  return out + broken;
}

// The expected file without its comment lines.
std::string Expected(const std::string& kind, const std::string& name) {
  std::istringstream in(testsupport::ReadFile(GoldenFolder(kind) / (name + ".expected")));
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("#")) {
      out += line + "\n";
    }
  }
  return out;
}

// A record whose every byte is garbage, so that a field the parser forgets to set shows.
DeviceInfo GarbageRecord() {
  DeviceInfo device;
  std::memset(static_cast<void*>(&device), 0xA5, sizeof device);
  return device;
}

// The parsers' results in the notation of the expected files.
std::string ParseBroadcast(const char* data, std::size_t length, const char* sender = kSender) {
  DeviceInfo device = GarbageRecord();
  switch (ParseBroadcastReply(data, length, sender, device)) {
    case BroadcastReplyStatus::WrongLength:
      return "dropped wrong-length\n";
    case BroadcastReplyStatus::NotDevice:
      return "dropped not-device\n";
    case BroadcastReplyStatus::NotIPv4Address:
      return "dropped not-ipv4\n";
    case BroadcastReplyStatus::Device:
      return Render(device);
  }
  return "unknown status\n";
}

std::string ParseMulticast(const char* data, std::size_t length, const char* sender = kSender) {
  DeviceInfo device = GarbageRecord();
  switch (ReadMulticastMessage(data, length, sender, device)) {
    case MulticastMessageStatus::Dropped:
      return "dropped\n";
    case MulticastMessageStatus::NotIPv4Address:
      return "dropped not-ipv4\n";
    case MulticastMessageStatus::Device:
      return Render(device);
  }
  return "unknown status\n";
}

using Parser = std::string (*)(const char*, std::size_t, const char*);

// A heap block of exactly the datagram's size, so that AddressSanitizer sees any read past it.
std::unique_ptr<char[]> ExactCopy(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

// Header text that would change almost any record if a parser read it after the datagram's end.
constexpr std::string_view kTrailingText =
    "::tail\r\nLOCATION: http://10.9.9.9:1/\r\nSERVER: VRIX/9, x, a/b/c/d\r\n"
    "SSIDINFO: SSID/t,MAC0/t,MAC1/t\r\nUSN: uuid:tail::upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
    "&id=tail&host=tail&mac1=tail";

struct GoldenCase {
  std::string kind;
  std::string name;
  Parser parse;
};

void CheckCase(const GoldenCase& golden) {
  const std::string bytes =
      testsupport::ReadFile(GoldenFolder(golden.kind) / (golden.name + ".bin"));
  const std::string expected = Expected(golden.kind, golden.name);

  const std::unique_ptr<char[]> exact = ExactCopy(bytes);
  EXPECT_EQ(golden.parse(exact.get(), bytes.size(), kSender), expected)
      << "datagram of exactly " << bytes.size() << " bytes";

  // The receive loop passes its zeroed 1025-byte buffer; datagrams longer than 1024 bytes never
  // reach the parser.
  if (bytes.size() < kReceiveBufferSize) {
    std::vector<char> buffer(kReceiveBufferSize, 0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    EXPECT_EQ(golden.parse(buffer.data(), bytes.size(), kSender), expected)
        << "datagram in the receive buffer";
  }

  const std::string followed = bytes + std::string(kTrailingText);
  const std::unique_ptr<char[]> longer = ExactCopy(followed);
  EXPECT_EQ(golden.parse(longer.get(), bytes.size(), kSender), expected)
      << "datagram followed by more text in memory";
}

class BroadcastGolden : public testing::TestWithParam<std::string> {};
class MulticastGolden : public testing::TestWithParam<std::string> {};

TEST_P(BroadcastGolden, ParsesAsExpected) { CheckCase({"broadcast", GetParam(), ParseBroadcast}); }
TEST_P(MulticastGolden, ParsesAsExpected) { CheckCase({"multicast", GetParam(), ParseMulticast}); }

// Cutting a message anywhere must give the same result as a datagram that really ends there: the
// bytes after `length` play no part. Run under AddressSanitizer this also proves that no prefix
// makes the parser read past its end.
TEST_P(MulticastGolden, EveryPrefixEndsAtItsLength) {
  const std::string bytes =
      testsupport::ReadFile(GoldenFolder("multicast") / (GetParam() + ".bin"));
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    const std::unique_ptr<char[]> prefix = ExactCopy(bytes.substr(0, length));
    // A zero-length heap block still has an address, as a received datagram would.
    const std::string alone = ParseMulticast(prefix.get(), length);
    const std::string inside = ParseMulticast(bytes.data(), length);
    ASSERT_EQ(alone, inside) << "cut after " << length << " bytes";
  }
}

std::string CaseName(const testing::TestParamInfo<std::string>& info) { return info.param; }

INSTANTIATE_TEST_SUITE_P(Golden, BroadcastGolden, testing::ValuesIn(CaseNames("broadcast")),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Golden, MulticastGolden, testing::ValuesIn(CaseNames("multicast")),
                         CaseName);

// Guards the parameterised tests above: a missing folder would otherwise run no case at all, and
// a datagram without its expectation (or the reverse) would silently be skipped.
TEST(GoldenFiles, EveryDatagramHasItsExpectation) {
  for (const std::string kind : {"broadcast", "multicast"}) {
    SCOPED_TRACE(kind);
    std::set<std::string> datagrams, expectations;
    for (const fs::directory_entry& entry : fs::directory_iterator(GoldenFolder(kind))) {
      const std::string stem = entry.path().stem().string();
      if (entry.path().extension() == ".bin") {
        datagrams.insert(stem);
      } else if (entry.path().extension() == ".expected") {
        expectations.insert(stem);
      } else {
        ADD_FAILURE() << "unexpected file " << entry.path();
      }
    }
    EXPECT_GE(datagrams.size(), 30u);
    EXPECT_EQ(datagrams, expectations);
  }
}

// The sender address is the record's address only where the datagram does not name one, and like
// any address it must be a dotted IPv4 address.
TEST(ParserSender, AddressTextComesFromSenderUnlessLocationNamesOne) {
  const std::string longSender(40, '7');
  constexpr const char* kNotIPv4 = "dropped not-ipv4\n";
  const std::string reply =
      "HTTP/1.1 200 OK\r\nSERVER: VRIX/2.0, UPnP/1.0, V/nas/P/1\r\nUSN: uuid:abc::x\r\n\r\n";
  const std::string located =
      "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.5:80/\r\nSERVER: VRIX/2.0, UPnP/1.0, "
      "V/nas/P/1\r\nUSN: uuid:abc::x\r\n\r\n";
  std::string packet(sizeof(SearchPacket), '\0');
  packet[0] = static_cast<char>(kSearchReplyOpcode);
  packet[1] = 1;

  struct Row {
    const char* what;
    Parser parse;
    const std::string& datagram;
    std::string sender;
    std::string ip;
  };
  const Row rows[] = {
      {"broadcast, short sender", ParseBroadcast, packet, "10.0.0.1", "10.0.0.1"},
      {"broadcast, long sender", ParseBroadcast, packet, longSender, ""},
      {"broadcast, empty sender", ParseBroadcast, packet, "", ""},
      {"broadcast, named sender", ParseBroadcast, packet, "nas.local", ""},
      {"multicast, sender", ParseMulticast, reply, "10.0.0.1", "10.0.0.1"},
      {"multicast, long sender", ParseMulticast, reply, longSender, ""},
      {"multicast, sender with port", ParseMulticast, reply, "10.0.0.1:80", ""},
      {"multicast, LOCATION wins", ParseMulticast, located, "10.0.0.1", "192.168.1.5"},
      {"multicast, LOCATION wins over a bad sender", ParseMulticast, located, "x", "192.168.1.5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::unique_ptr<char[]> data = ExactCopy(row.datagram);
    const std::string record = row.parse(data.get(), row.datagram.size(), row.sender.c_str());
    if (row.ip.empty()) {
      EXPECT_EQ(record, kNotIPv4);
    } else {
      EXPECT_NE(record.find("\nip=" + row.ip + "\n"), std::string::npos) << record;
      EXPECT_EQ(record.find("! "), std::string::npos) << record;
    }
  }
}

// The one form of address a device may have: what inet_pton(AF_INET) takes, nothing else.
TEST(DottedIPv4, AcceptsFourDecimalPartsOnly) {
  struct Row {
    std::string_view text;
    bool accepted;
  };
  const Row rows[] = {
      {"0.0.0.0", true},
      {"10.231.3.9", true},
      {"255.255.255.255", true},
      {"", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"256.1.1.1", false},
      {"01.2.3.4", false},
      {"1..3.4", false},
      {" 1.2.3.4", false},
      {"1.2.3.4 ", false},
      {"1.2.3.4/24", false},
      {"0x7f.0.0.1", false},
      {"2130706433", false},
      {"::ffff:1.2.3.4", false},
      {"255.255.255.2555", false},
      {std::string_view("1.2.3.4\0garbage", 15), false},
      {"nas.example", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsDottedIPv4(row.text), row.accepted) << Escape(row.text.data(), row.text.size());
  }
}

}  // namespace
