// The table of device fields: the order rows sort in, the details' labels in every language, and
// that every field reaches the JSON writer.

#include "app/DeviceFields.h"

#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/SearchCommand.h"

namespace {

DeviceInfo WithAddress(const char* ip) {
  DeviceInfo device;
  std::strncpy(device.ip, ip, DeviceInfo::kTextLimit);
  return device;
}

TEST(DeviceFields, AddressesSortByNumberAndBeforeTextThatIsNotOne) {
  // Each list is in the order the keys must sort.
  const std::vector<std::vector<const char*>> orders = {
      {"9.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.10", "10.0.0.100", "192.168.0.1"},
      {"255.255.255.255", "10.0.0", "fe80::1", "nas.local"},
  };
  const DeviceField& ip = DeviceFieldOf("ip");
  for (const auto& order : orders) {
    for (std::size_t index = 0; index + 1 < order.size(); ++index) {
      EXPECT_LT(SortKeyOf(ip, WithAddress(order[index])),
                SortKeyOf(ip, WithAddress(order[index + 1])))
          << order[index] << " before " << order[index + 1];
    }
  }

  DeviceInfo lower = WithAddress("1.1.1.1");
  DeviceInfo upper = lower;
  std::strcpy(lower.host, "alpha");
  std::strcpy(upper.host, "Beta");
  EXPECT_LT(SortKeyOf(DeviceFieldOf("host"), lower), SortKeyOf(DeviceFieldOf("host"), upper));
  lower.type = -1;
  upper.type = 2;
  EXPECT_LT(SortKeyOf(DeviceFieldOf("type"), lower), SortKeyOf(DeviceFieldOf("type"), upper));
}

TEST(DeviceFields, EveryFieldIsWrittenAndEveryShownOneLabelledInEveryLanguage) {
  DeviceInfo device = WithAddress("10.0.0.1");
  std::set<int> ranks;
  for (const DeviceField& field : DeviceFields()) {
    EXPECT_NE(DeviceToJson(device).find(std::string("\"") + field.key + "\":"), std::string::npos)
        << field.key;
    if (field.detailRank == 0) {
      continue;
    }
    EXPECT_TRUE(ranks.insert(field.detailRank).second) << field.key << " shares its place";
    for (int code = 1; code <= 14; ++code) {
      EXPECT_FALSE(DeviceLabelText(code, field.label).isEmpty()) << field.key << " " << code;
    }
  }
  EXPECT_EQ(DeviceDetails(5, device, true), "IP-Adresse: 10.0.0.1\nHat das Netzwerk verlassen");
  EXPECT_EQ(CopyCommandText(3, CopyCommand::kMacAddress), QString::fromUtf8("複製 MAC 位址"));
}

}  // namespace
