// Addresses of the simulated devices: reading, writing and counting up from the first one.

#include "SimAddress.h"

#include <gtest/gtest.h>

namespace nassim {
namespace {

TEST(SimAddress, ParsesOnlyPlainDottedQuads) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> address;
  };
  const Case cases[] = {
      {"10.231.0.2", 0x0AE70002u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {"1.2.3.4", 0x01020304u},
      {"256.0.0.0", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.", std::nullopt},
      {"1..3.4", std::nullopt},
      {".1.2.3", std::nullopt},
      {"1.2.3.04", std::nullopt},
      {"1.2.3.-4", std::nullopt},
      {"1.2.3.+4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"1.2.3.1000", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIPv4(c.text), c.address) << c.text;
  }
}

TEST(SimAddress, FormatsEachOctet) {
  EXPECT_EQ(FormatIPv4(0x0AE701FFu), "10.231.1.255");
  EXPECT_EQ(FormatIPv4(0u), "0.0.0.0");
  EXPECT_EQ(FormatIPv4(0xFFFFFFFFu), "255.255.255.255");
}

TEST(SimAddress, CountsAcrossOctetBoundariesAndRefusesToWrap) {
  struct Case {
    const char* base;
    std::uint64_t offset;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"10.231.1.254", 0, "10.231.1.254"},         {"10.231.1.254", 1, "10.231.1.255"},
      {"10.231.1.254", 2, "10.231.2.0"},           {"10.231.255.255", 1, "10.232.0.0"},
      {"10.255.255.200", 56, "11.0.0.0"},          {"10.231.0.0", 999, "10.231.3.231"},
      {"255.255.255.254", 1, "255.255.255.255"},   {"255.255.255.254", 2, nullptr},
      {"0.0.0.0", 0xFFFFFFFFu, "255.255.255.255"}, {"0.0.0.0", 0x100000000u, nullptr},
      {"0.0.0.1", 0xFFFFFFFFu, nullptr},
  };
  for (const Case& c : cases) {
    const auto address = OffsetAddress(*ParseIPv4(c.base), c.offset);
    if (c.expected == nullptr) {
      EXPECT_FALSE(address) << c.base << " + " << c.offset;
    } else {
      ASSERT_TRUE(address) << c.base << " + " << c.offset;
      EXPECT_EQ(FormatIPv4(*address), c.expected) << c.base << " + " << c.offset;
    }
  }
}

TEST(SimAddress, ParsesEndpoints) {
  const auto endpoint = ParseEndpoint("10.231.0.1:1900");
  ASSERT_TRUE(endpoint);
  EXPECT_EQ(endpoint->address, 0x0AE70001u);
  EXPECT_EQ(endpoint->port, 1900);
  EXPECT_EQ(FormatEndpoint(*endpoint), "10.231.0.1:1900");
  EXPECT_EQ(ParseEndpoint("255.255.255.255:65535")->port, 65535);
  for (const char* bad : {"10.231.0.1", "10.231.0.1:", ":68", "10.231.0.1:0", "10.231.0.1:65536",
                          "10.231.0.1:068", "host:68", "10.231.0.1:68:1"}) {
    EXPECT_FALSE(ParseEndpoint(bad)) << bad;
  }
}

}  // namespace
}  // namespace nassim
