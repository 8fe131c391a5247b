#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "LogCapture.h"
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

namespace {

DeviceInfo Numbered(int number, std::int32_t type = 1) {
  const std::string id = "id" + std::to_string(number);
  const std::string ip = "10." + std::to_string(number >> 16) + "." +
                         std::to_string((number >> 8) & 255) + "." + std::to_string(number & 255);
  return Report(id.c_str(), ip.c_str(), id.c_str(), type);
}

std::vector<std::string> Ids(const std::vector<DeviceInfo>& entries) {
  std::vector<std::string> ids;
  for (const DeviceInfo& entry : entries) ids.emplace_back(entry.id);
  return ids;
}

TEST(DeviceTableIndexTest, ManyDevicesKeepTheirOrderAndEachReportFindsItsOwn) {
  DeviceTable table;
  constexpr int kDevices = 3000;
  for (int number = 0; number < kDevices; ++number) table.AddOrUpdate(Numbered(number));
  // Every third device leaves by its id, every fifth is renamed at its address, every seventh
  // is heard again unchanged.
  std::vector<std::string> expected;
  for (int number = 0; number < kDevices; ++number) {
    if (number % 3 == 0) {
      table.RemoveById(Numbered(number).id);
      continue;
    }
    DeviceInfo again = Numbered(number);
    if (number % 5 == 0) SetDeviceText(again.id, "renamed", 7);
    if (number % 5 == 0 || number % 7 == 0) table.AddOrUpdate(again);
    expected.emplace_back(again.id);
  }
  const std::vector<DeviceInfo> entries = table.CopyAll();
  EXPECT_EQ(Ids(entries), expected);
  // The renamed devices share one id now: a goodbye takes the first of them in table order.
  table.RemoveById("renamed");
  expected.erase(std::find(expected.begin(), expected.end(), "renamed"));
  EXPECT_EQ(Ids(table.CopyAll()), expected);
}

TEST(DeviceTableCapTest, AFullTableLeavesNewDevicesOutAndSaysSoOncePerFill) {
  testsupport::LogCapture log;
  DeviceTable table(4);
  for (int number = 0; number < 10; ++number) table.AddOrUpdate(Numbered(number));
  EXPECT_EQ(Ids(table.CopyAll()), (std::vector<std::string>{"id0", "id1", "id2", "id3"}));
  // Known devices are still updated while the table is full.
  DeviceInfo renamed = Numbered(2);
  SetDeviceText(renamed.host, "new", 3);
  table.AddOrUpdate(renamed);
  EXPECT_STREQ(table.CopyAll()[2].host, "new");
  EXPECT_EQ(log.CountContaining("Device table full (4 devices)"), 1u);

  // Room again: the next new device gets in, and the following fill says so once more.
  table.RemoveById("id0");
  for (int number = 10; number < 20; ++number) table.AddOrUpdate(Numbered(number));
  EXPECT_EQ(Ids(table.CopyAll()), (std::vector<std::string>{"id1", "id2", "id3", "id10"}));
  EXPECT_EQ(log.CountContaining("Device table full"), 2u);
}

TEST(DeviceTableExpiryTest, DevicesLeaveWhenTheirTimeToLiveRunsOutUnlessHeardAgain) {
  DeviceTable table;
  const auto start = DeviceTable::Clock::now();
  DeviceInfo shortLived = Numbered(1);
  shortLived.timeToLive = 5;
  DeviceInfo longLived = Numbered(2);
  longLived.timeToLive = 60;
  DeviceInfo negative = Numbered(3);
  negative.timeToLive = -1;
  DeviceInfo huge = Numbered(4);
  huge.timeToLive = INT64_MAX;
  for (const DeviceInfo& device : {shortLived, longLived, negative, huge}) {
    table.AddOrUpdate(device, start);
  }
  EXPECT_EQ(table.NextExpiry(), start);
  EXPECT_EQ(table.RemoveExpired(start), 1u);  // a negative time to live has run out at once
  EXPECT_EQ(table.NextExpiry(), start + std::chrono::seconds(5));

  // Heard again at 4 s: its five seconds start over.
  table.AddOrUpdate(shortLived, start + std::chrono::seconds(4));
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::seconds(8)), 0u);
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::seconds(9)), 1u);
  EXPECT_EQ(Ids(table.CopyAll()), (std::vector<std::string>{"id2", "id4"}));
  // An answer to the broadcast search promises nothing: it neither shortens the device's
  // promise nor sets one, and a device known only from such answers stays until told otherwise.
  DeviceInfo answer = longLived;
  SetDeviceText(answer.host, "other", 5);
  table.AddOrUpdate(answer, start + std::chrono::seconds(10), false);
  EXPECT_STREQ(table.CopyAll()[0].host, "other");
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::seconds(59)), 0u);
  table.AddOrUpdate(Numbered(5), start, false);
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::seconds(60)), 1u);
  // A time to live too long for the clock is held to a day.
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::hours(23)), 0u);
  EXPECT_EQ(table.RemoveExpired(start + std::chrono::hours(25)), 1u);
  EXPECT_FALSE(table.NextExpiry());
  EXPECT_EQ(Ids(table.CopyAll()), (std::vector<std::string>{"id5"}));
}

TEST(DeviceTableJournalTest, ReadersGetEveryChangeInOrderOrAreToldToStartAgain) {
  DeviceTable table;
  const std::uint64_t start = table.LastSequence();
  table.AddOrUpdate(Numbered(1));
  table.AddOrUpdate(Numbered(1));  // only its time to live: no change
  DeviceInfo renamed = Numbered(1);
  SetDeviceText(renamed.host, "new", 3);
  table.AddOrUpdate(renamed);
  table.AddOrUpdate(Numbered(2));
  table.RemoveById("id1");
  DeviceTable::ChangeSlice slice = table.ChangesAfter(start, 100);
  ASSERT_FALSE(slice.lost);
  using Kind = DeviceTable::ChangeKind;
  std::vector<std::pair<Kind, std::string>> seen;
  for (const auto& change : slice.changes) seen.emplace_back(change.kind, change.device.host);
  EXPECT_EQ(seen, (std::vector<std::pair<Kind, std::string>>{{Kind::kAdded, "id1"},
                                                             {Kind::kReplaced, "new"},
                                                             {Kind::kAdded, "id2"},
                                                             {Kind::kRemoved, "new"}}));
  // In slices: the second starts after the last of the first.
  slice = table.ChangesAfter(start, 3);
  ASSERT_EQ(slice.changes.size(), 3u);
  slice = table.ChangesAfter(slice.changes.back().sequence, 3);
  ASSERT_EQ(slice.changes.size(), 1u);
  EXPECT_EQ(slice.changes[0].sequence, table.LastSequence());
  EXPECT_TRUE(table.ChangesAfter(table.LastSequence(), 3).changes.empty());

  // A reader too far behind, or one from before a Clear, starts again from a copy.
  for (int number = 10; number < 10 + static_cast<int>(DeviceTable::kJournalSize); ++number) {
    table.AddOrUpdate(Numbered(number));
  }
  EXPECT_TRUE(table.ChangesAfter(start, 10).lost);
  const std::uint64_t beforeClear = table.LastSequence();
  const std::uint64_t cleared = table.Clear();
  EXPECT_TRUE(table.ChangesAfter(beforeClear - 1, 10).lost);
  table.AddOrUpdate(Numbered(5));
  slice = table.ChangesAfter(cleared, 10);
  ASSERT_FALSE(slice.lost);
  ASSERT_EQ(slice.changes.size(), 1u);
  EXPECT_STREQ(slice.changes[0].device.id, "id5");
}

}  // namespace
