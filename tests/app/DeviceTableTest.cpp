#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/DeviceTable.h"

namespace {

DeviceInfo Report(const char* id, const char* ip, const char* host, std::int32_t type) {
  DeviceInfo device;
  SetDeviceText(device.id, id, std::strlen(id));
  SetDeviceText(device.ip, ip, std::strlen(ip));
  SetDeviceText(device.host, host, std::strlen(host));
  device.type = type;
  return device;
}

class DeviceTableTest : public ::testing::Test {
 protected:
  void SetUp() override { DeviceTable::Instance().Clear(); }
  void TearDown() override { DeviceTable::Instance().Clear(); }
  static std::vector<DeviceInfo> Entries() { return DeviceTable::Instance().CopyAll(); }
};

TEST_F(DeviceTableTest, HandlerFilesByTypeAddingRemovingOrIgnoring) {
  struct Step {
    DeviceInfo report;
    std::vector<std::string> idsAfter;
  };
  const Step steps[] = {
      {Report("A", "10.0.0.1", "a", 1), {"A"}},
      {Report("B", "10.0.0.2", "b", 2), {"A", "B"}},
      {Report("C", "10.0.0.3", "c", 0), {"A", "B"}},    // other announcement: ignored
      {Report("D", "10.0.0.4", "d", 3), {"A", "B"}},    // unknown type: ignored
      {Report("E", "10.0.0.5", "e", 255), {"A", "B"}},  // byte 1 of a broadcast reply
      {Report("A", "10.9.9.9", "x", 4), {"B"}},         // bye-bye removes by id alone
      {Report("Z", "10.0.0.2", "b", 4), {"B"}},         // unknown id: nothing
  };
  for (const Step& step : steps) {
    EXPECT_EQ(DeviceFoundHandler(&step.report, 1530), 0);
    std::vector<std::string> ids;
    for (const DeviceInfo& entry : Entries()) ids.emplace_back(entry.id);
    EXPECT_EQ(ids, step.idsAfter) << "after report " << step.report.id;
  }
  EXPECT_EQ(DeviceFoundHandler(nullptr, 67), 0);
}

TEST_F(DeviceTableTest, EqualReportOnlyRefreshesTimeToLive) {
  DeviceInfo first = Report("A", "10.0.0.1", "nas", 1);
  DeviceFoundHandler(&first, 67);
  DeviceInfo again = first;
  again.type = 2;  // the same device heard through the other search
  again.timeToLive = 120;
  DeviceFoundHandler(&again, 1900);
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].timeToLive, 120);
  EXPECT_EQ(entries[0].type, 1);
}

TEST_F(DeviceTableTest, KnownAddressWithOtherDetailsIsReplacedInPlace) {
  DeviceInfo a = Report("A", "10.0.0.1", "old", 1);
  DeviceInfo b = Report("B", "10.0.0.2", "b", 1);
  DeviceInfo renamed = Report("A2", "10.0.0.1", "new", 2);
  DeviceFoundHandler(&a, 67);
  DeviceFoundHandler(&b, 67);
  DeviceFoundHandler(&renamed, 1900);
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_STREQ(entries[0].id, "A2");
  EXPECT_STREQ(entries[0].host, "new");
  EXPECT_EQ(entries[0].type, 2);
  EXPECT_STREQ(entries[1].id, "B");
}

TEST_F(DeviceTableTest, RemoveTakesOnlyTheFirstMatchAndKeepsTheOrder) {
  // Two entries with the same id at different addresses.
  DeviceInfo a1 = Report("A", "10.0.0.1", "one", 1);
  DeviceInfo b = Report("B", "10.0.0.2", "b", 1);
  DeviceInfo a2 = Report("A", "10.0.0.3", "two", 1);
  for (const DeviceInfo* report : {&a1, &b, &a2}) DeviceFoundHandler(report, 67);
  DeviceTable::Instance().RemoveById("A");
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_STREQ(entries[0].id, "B");
  EXPECT_STREQ(entries[1].host, "two");
  // Case matters.
  DeviceTable::Instance().RemoveById("b");
  EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(DeviceTableTest, FullLengthFieldsCompareOverTheirWholeWidth) {
  DeviceInfo a = Report("A", "10.0.0.1", "h", 1);
  std::memset(a.id, 'i', sizeof a.id);  // 32 bytes, no terminating NUL
  DeviceFoundHandler(&a, 67);
  char id[33];
  std::memset(id, 'i', 32);
  id[32] = '\0';
  DeviceTable::Instance().RemoveById(id);
  EXPECT_TRUE(Entries().empty());
}

}  // namespace
