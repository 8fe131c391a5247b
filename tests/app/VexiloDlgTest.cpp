// The main window without a network: the shipped English layout from a deployed skin, the
// engine's search replaced by a counter, the browser and the file manager by recorders. Reports
// reach the device table as the engine would hand them on.

#include "app/VexiloDlg.h"

#include <cstring>

#include <QFile>
#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "app/DeviceTable.h"
#include "app/SkinDeployment.h"
#include "app/VexiloApp.h"
#include "controls/Buttons.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "platform/WorkingFolder.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

class TestDlg : public CVexiloDlg {
 public:
  int searches = 0;
  std::vector<QUrl> opened;
  std::vector<QString> storages;

 protected:
  void SendSearch() override { ++searches; }
  void OpenUrl(const QUrl& url) override { opened.push_back(url); }
  void OpenStorage(const QString& address) override { storages.push_back(address); }
};

DeviceInfo Device(const char* ip, const char* host, const char* product, int type = 1) {
  DeviceInfo device;
  std::strncpy(device.ip, ip, DeviceInfo::kTextLimit);
  std::strncpy(device.host, host, DeviceInfo::kTextLimit);
  std::strncpy(device.product, product, DeviceInfo::kTextLimit);
  std::strncpy(device.id, host, DeviceInfo::kTextLimit);
  device.type = type;
  return device;
}

void Report(const DeviceInfo& device) { DeviceFoundHandler(&device, 1530); }

class VexiloDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DeploySkinFiles());
    DeviceTable::Instance().Clear();
  }

  // The list's rows as "ip host product", top first.
  std::vector<std::string> Rows(const TestDlg& dialog) const {
    std::vector<std::string> rows;
    for (int row = 0; row < dialog.deviceList->GetItemCount(); ++row) {
      rows.push_back((dialog.deviceList->GetItemText(row, 1) + ' ' +
                      dialog.deviceList->GetItemText(row, 0) + ' ' +
                      dialog.deviceList->GetItemText(row, 2))
                         .toStdString());
    }
    return rows;
  }

  // The states of Log In, Refresh, My Storage and the wait text as four letters (1 on, 0 off).
  static std::string Buttons(const TestDlg& dialog) {
    std::string state;
    for (const QWidget* widget : {static_cast<const QWidget*>(dialog.loginButton),
                                  static_cast<const QWidget*>(dialog.refreshButton),
                                  static_cast<const QWidget*>(dialog.storageButton)}) {
      state += widget->isEnabled() ? '1' : '0';
    }
    state += dialog.waitText->isHidden() ? '0' : '1';
    return state;
  }

  TemporaryDirectory folder_;
  const ScopedEnvironment data_{"XDG_DATA_HOME", folder_.Path()};
  const ScopedEnvironment language_{"LC_ALL", "en_US.UTF-8"};
};

TEST_F(VexiloDlgTest, ASearchCycleCountsDownAndShowsNewAddressesOnTop) {
  TestDlg dialog;
  dialog.EnsureInitialized();
  ASSERT_TRUE(dialog.ControlsBound());
  EXPECT_EQ(dialog.windowTitle(), "Tarvelo");
  EXPECT_EQ(dialog.searches, 1);
  EXPECT_TRUE(dialog.SearchTimerActive());
  EXPECT_EQ(dialog.waitText->drawnText, "Searching new devices,please wait 10s...");
  EXPECT_EQ(Buttons(dialog), "0001");
  EXPECT_EQ(dialog.deviceList->columnCount(), 3);
  EXPECT_EQ(dialog.deviceList->columnWidth(1), 122);

  Report(Device("10.0.0.1", "first", "HomeNas"));
  Report(Device("10.0.0.2", "second", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  EXPECT_EQ(dialog.waitText->drawnText, "Searching new devices,please wait 9s...");
  EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"10.0.0.2 second HomeNas",
                                                    "10.0.0.1 first HomeNas"}));

  // New details of a listed address change the table, never a shown row; a departure removes
  // the entry but not its row; unknown report types are ignored.
  Report(Device("10.0.0.1", "renamed", "Other"));
  Report(Device("10.0.0.2", "second", "HomeNas", 4));
  Report(Device("10.0.0.9", "ignored", "HomeNas", 3));
  Report(Device("10.0.0.3", "third", "HomeNas", 2));
  dialog.OnTimer(kSearchTimerId);
  EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"10.0.0.3 third HomeNas",
                                                    "10.0.0.2 second HomeNas",
                                                    "10.0.0.1 first HomeNas"}));
  EXPECT_EQ(DeviceTable::Instance().CopyAll().size(), 2u);

  for (int tick = 3; tick <= 9; ++tick) {
    dialog.OnTimer(kSearchTimerId);
  }
  EXPECT_EQ(dialog.waitText->drawnText, "Searching new devices,please wait 1s...");
  // A device first reported after the ninth tick is not shown in this cycle.
  Report(Device("10.0.0.4", "late", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  EXPECT_FALSE(dialog.SearchTimerActive());
  EXPECT_EQ(dialog.Countdown(), 1);
  EXPECT_EQ(Rows(dialog).size(), 3u);
  EXPECT_EQ(Buttons(dialog), "0100");

  // Refresh empties list and table and starts again.
  dialog.OnCtrlCommand(kRefreshButtonId, kButtonClicked);
  EXPECT_EQ(dialog.searches, 2);
  EXPECT_TRUE(Rows(dialog).empty());
  EXPECT_TRUE(DeviceTable::Instance().CopyAll().empty());
  EXPECT_EQ(Buttons(dialog), "0001");
}

TEST_F(VexiloDlgTest, ClicksOnRowsDecideLogInAndMyStorage) {
  TestDlg dialog;
  dialog.EnsureInitialized();
  Report(Device("192.168.1.20", "nas", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  for (int tick = 2; tick <= 10; ++tick) {
    dialog.OnTimer(kSearchTimerId);
  }
  dialog.deviceList->selectRow(0);
  dialog.OnCtrlNotify(kDeviceListId, kNotifyClick);
  EXPECT_EQ(Buttons(dialog), "1110");
  dialog.OnCtrlCommand(kLogInButtonId, kButtonClicked);
  dialog.OnCtrlNotify(kDeviceListId, kNotifyDoubleClick);
  dialog.OnCtrlCommand(kStorageButtonId, kButtonClicked);
  EXPECT_EQ(dialog.opened, (std::vector<QUrl>{QUrl("http://192.168.1.20"),
                                              QUrl("http://192.168.1.20")}));
  EXPECT_EQ(dialog.storages, std::vector<QString>{"192.168.1.20"});

  dialog.deviceList->clearSelection();
  dialog.OnCtrlNotify(kDeviceListId, kNotifyClick);
  EXPECT_EQ(Buttons(dialog), "0100");
  // Nothing selected: a double click, Log In and My Storage do nothing.
  dialog.OnCtrlNotify(kDeviceListId, kNotifyDoubleClick);
  dialog.OnLogIn();
  dialog.OnMyStorage();
  EXPECT_EQ(dialog.opened.size(), 2u);
  EXPECT_EQ(dialog.storages.size(), 1u);
}

TEST_F(VexiloDlgTest, EveryUiStateChangesOnlyItsControls) {
  TestDlg dialog;
  dialog.EnsureInitialized();
  struct Case {
    int state;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {kUiInitialised, "1111", "0100"}, {kUiSearching, "1110", "0001"},
      {kUiSearchEnded, "0001", "0100"}, {kUiSearchEnded, "1011", "1110"},
      {kUiRowSelected, "0001", "1011"}, {kUiNoRowSelected, "1110", "0100"},
      {7, "1010", "1010"},
  };
  for (const Case& test : cases) {
    dialog.loginButton->setEnabled(test.before[0] == '1');
    dialog.refreshButton->setEnabled(test.before[1] == '1');
    dialog.storageButton->setEnabled(test.before[2] == '1');
    dialog.waitText->setHidden(test.before[3] == '0');
    dialog.SetUiState(test.state);
    EXPECT_EQ(Buttons(dialog), test.after) << test.state << " from " << test.before;
  }
}

TEST_F(VexiloDlgTest, MissingLayoutStringsAndControls) {
  // The layout without its strings: the wait text begins with the space before the seconds.
  QFile file(MakeLayoutPath(QString::fromUtf16(kLayoutFile)));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QByteArray document = file.readAll();
  file.close();
  const auto rewrite = [&](const char* from, const char* to) {
    document.replace(from, to);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(document);
    file.close();
  };
  rewrite("SEARCH_DEVICE_WATI_TIME_WARNING", "SOMETHING_ELSE");
  {
    TestDlg dialog;
    dialog.EnsureInitialized();
    EXPECT_EQ(dialog.waitText->drawnText, " 10s...");
  }
  // Without the list nothing is bound: no search, no timer.
  rewrite("StandardListCtrl", "NoList");
  TestDlg dialog;
  dialog.EnsureInitialized();
  EXPECT_FALSE(dialog.ControlsBound());
  EXPECT_EQ(dialog.searches, 0);
  EXPECT_FALSE(dialog.SearchTimerActive());
  EXPECT_EQ(dialog.GetSelectedRow(), -1);
}

TEST(VexiloAppTest, FailureMessagesByLanguage) {
  EXPECT_EQ(DeployFailureMessage(2), "创建配置文件失败!");
  EXPECT_EQ(DeployFailureMessage(3), "創建配置文件失敗!");
  EXPECT_EQ(DeployFailureMessage(6), "La création du fichier de configuration a échoué!");
  for (const int code : {1, 7, 8, 12, 13, 14}) {
    EXPECT_EQ(DeployFailureMessage(code), "Failed to create the configuration file!") << code;
  }
}

}  // namespace
