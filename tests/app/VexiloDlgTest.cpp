// The main window without a network: the shipped English layout from a deployed skin, the
// engine's search replaced by a counter, the browser and the file manager by recorders. Reports
// reach the device table as the engine would hand them on.

#include "app/VexiloDlg.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "app/DeviceTable.h"
#include "app/SkinDeployment.h"
#include "app/StorageAccess.h"
#include "app/VexiloApp.h"
#include "controls/Buttons.h"
#include "controls/CtrlAccessible.h"
#include "controls/FocusCue.h"
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
  std::vector<QString> invalid;

 protected:
  void SendSearch() override { ++searches; }
  void OpenUrl(const QUrl& url) override { opened.push_back(url); }
  void OpenStorage(const QString& address) override { storages.push_back(address); }
  void ShowInvalidAddress(const QString& address) override { invalid.push_back(address); }
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

// Records what the window copies, and puts it on the clipboard as well.
class CopyingDlg : public TestDlg {
 public:
  std::vector<QString> copied;

 protected:
  void CopyText(const QString& text) override {
    copied.push_back(text);
    CVexiloDlg::CopyText(text);
  }
};

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

  // The window as the user meets it: initialised, shown and active.
  static void Show(TestDlg& dialog) {
    dialog.EnsureInitialized();
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }

  // Every tick of the running cycle, up to its end.
  static void EndCycle(TestDlg& dialog) {
    while (dialog.SearchTimerActive()) {
      dialog.OnTimer(kSearchTimerId);
    }
  }

  // A key as the user types it: to whatever has the focus, on to the dialog if it is ignored.
  static void Type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
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
  EXPECT_EQ(dialog.waitText->drawnText, "Searching for new devices, please wait 10s...");
  EXPECT_EQ(Buttons(dialog), "0001");
  EXPECT_EQ(dialog.deviceList->columnCount(), 3);
  // The design's 122 pixels of 311, scaled to the list's inside width of 306.
  EXPECT_EQ(dialog.deviceList->columnWidth(1), 120);

  Report(Device("10.0.0.1", "first", "HomeNas"));
  Report(Device("10.0.0.2", "second", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  EXPECT_EQ(dialog.waitText->drawnText, "Searching for new devices, please wait 9s...");
  EXPECT_EQ(Rows(dialog),
            (std::vector<std::string>{"10.0.0.2 second HomeNas", "10.0.0.1 first HomeNas"}));

  // New details of a listed address change its row in place; a departure greys its row; unknown
  // report types are ignored.
  Report(Device("10.0.0.1", "renamed", "Other"));
  Report(Device("10.0.0.2", "second", "HomeNas", 4));
  Report(Device("10.0.0.9", "ignored", "HomeNas", 3));
  Report(Device("10.0.0.3", "third", "HomeNas", 2));
  dialog.OnTimer(kSearchTimerId);
  EXPECT_EQ(Rows(dialog),
            (std::vector<std::string>{"10.0.0.3 third HomeNas", "10.0.0.2 second HomeNas",
                                      "10.0.0.1 renamed Other"}));
  EXPECT_TRUE(dialog.deviceList->RowGreyed(1));
  EXPECT_EQ(DeviceTable::Instance().CopyAll().size(), 2u);

  for (int tick = 3; tick <= 9; ++tick) {
    dialog.OnTimer(kSearchTimerId);
  }
  EXPECT_EQ(dialog.waitText->drawnText, "Searching for new devices, please wait 1s...");
  dialog.OnTimer(kSearchTimerId);
  EXPECT_FALSE(dialog.SearchTimerActive());
  EXPECT_EQ(dialog.Countdown(), 1);
  EXPECT_EQ(Buttons(dialog), "0101");
  // The device that said goodbye is not counted.
  EXPECT_EQ(dialog.waitText->drawnText, "2 devices found.");

  // After the cycle the list goes on listening: a late device appears on top, one that comes
  // back is shown normally again, and the count follows, all without a tick.
  Report(Device("10.0.0.4", "late", "HomeNas", 2));
  Report(Device("10.0.0.2", "second", "HomeNas", 2));
  QCoreApplication::processEvents();
  EXPECT_EQ(Rows(dialog).front(), "10.0.0.4 late HomeNas");
  EXPECT_FALSE(dialog.deviceList->RowGreyed(2));
  EXPECT_EQ(dialog.waitText->drawnText, "4 devices found.");

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
  EXPECT_EQ(Buttons(dialog), "1111");
  dialog.OnCtrlCommand(kLogInButtonId, kButtonClicked);
  dialog.OnCtrlNotify(kDeviceListId, kNotifyDoubleClick);
  dialog.OnCtrlCommand(kStorageButtonId, kButtonClicked);
  EXPECT_EQ(dialog.opened,
            (std::vector<QUrl>{QUrl("http://192.168.1.20"), QUrl("http://192.168.1.20")}));
  EXPECT_EQ(dialog.storages, std::vector<QString>{"192.168.1.20"});

  dialog.deviceList->clearSelection();
  dialog.OnCtrlNotify(kDeviceListId, kNotifyClick);
  EXPECT_EQ(Buttons(dialog), "0101");
  // Nothing selected: a double click, Log In and My Storage do nothing.
  dialog.OnCtrlNotify(kDeviceListId, kNotifyDoubleClick);
  dialog.OnLogIn();
  dialog.OnMyStorage();
  EXPECT_EQ(dialog.opened.size(), 2u);
  EXPECT_EQ(dialog.storages.size(), 1u);
}

// The real Log In and My Storage on a machine where nothing can open anything: no launcher on
// PATH, no session bus, no display. The window is told, in the user's language, once per click.
class OpeningDlg : public CVexiloDlg {
 public:
  std::vector<std::pair<OpenTarget, QString>> failures;

 protected:
  void SendSearch() override {}
  void ShowOpenFailure(OpenTarget target, const QString& location) override {
    failures.emplace_back(target, location);
  }
};

TEST_F(VexiloDlgTest, WhenNothingCanOpenTheUserIsToldInTheirLanguage) {
  EXPECT_EQ(OpenFailureMessage(1, OpenTarget::kWebPage, "http://10.0.0.2"),
            "Could not open http://10.0.0.2.\nMake sure a web browser is installed and set as the "
            "default.");
  EXPECT_EQ(OpenFailureMessage(99, OpenTarget::kShares, "smb://x/"),
            OpenFailureMessage(1, OpenTarget::kShares, "smb://x/"));
  for (int code = 2; code <= 14; ++code) {
    SCOPED_TRACE(code);
    for (const OpenTarget target : {OpenTarget::kWebPage, OpenTarget::kShares}) {
      const QString text = OpenFailureMessage(code, target, "smb://x/");
      EXPECT_TRUE(text.contains("smb://x/"));
      EXPECT_NE(text, OpenFailureMessage(1, target, "smb://x/"));
    }
    EXPECT_NE(OpenFailureMessage(code, OpenTarget::kWebPage, "a"),
              OpenFailureMessage(code, OpenTarget::kShares, "a"));
  }

  TemporaryDirectory nothing;
  ScopedEnvironment path("PATH", nothing.Path());
  ScopedEnvironment display("DISPLAY", std::nullopt);
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + nothing.File("no-bus"));
  OpeningDlg dialog;
  dialog.EnsureInitialized();
  Report(Device("10.231.99.9", "nas", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  dialog.deviceList->selectRow(0);
  dialog.OnCtrlNotify(kDeviceListId, kNotifyClick);
  dialog.OnCtrlCommand(kLogInButtonId, kButtonClicked);
  dialog.OnCtrlCommand(kStorageButtonId, kButtonClicked);
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.failures.size() >= 2; }, 20000));
  EXPECT_TRUE(StorageAccess::Instance().WaitUntilIdle(std::chrono::seconds(10)));
  QTest::qWait(50);
  std::sort(dialog.failures.begin(), dialog.failures.end());
  EXPECT_EQ(dialog.failures, (std::vector<std::pair<OpenTarget, QString>>{
                                 {OpenTarget::kWebPage, "http://10.231.99.9"},
                                 {OpenTarget::kShares, "smb://10.231.99.9/"}}));
}

// A search whose port could not be used is named at the foot of the list, in the user's language,
// with what to do; the line goes once every search runs again.
class WarnedDlg : public CVexiloDlg {
 public:
  std::vector<SearchOff> off;
  std::vector<std::int32_t> ports = {67, 1900, 1530};

 protected:
  void SendSearch() override {}
  std::vector<SearchOff> SearchesOff() override { return off; }
  std::vector<std::int32_t> ReplyPorts() override { return ports; }
};

// After a cycle the wait text's place counts the devices found; when none answered, the empty list
// says what to check, with the ports replies really come in on.
TEST_F(VexiloDlgTest, ACycleWithoutDevicesSaysWhatToCheck) {
  EXPECT_EQ(DevicesFoundText(1, 1), "1 device found.");
  EXPECT_EQ(DevicesFoundText(1, 12), "12 devices found.");
  for (int code = 2; code <= 14; ++code) {
    SCOPED_TRACE(code);
    EXPECT_TRUE(DevicesFoundText(code, 12).contains("12"));
    EXPECT_NE(DevicesFoundText(code, 12), DevicesFoundText(1, 12));
    EXPECT_TRUE(NoDeviceHint(code, "67, 1900").contains("67, 1900"));
    EXPECT_NE(NoDeviceHint(code, "67"), NoDeviceHint(1, "67"));
  }

  WarnedDlg dialog;
  dialog.EnsureInitialized();
  for (int tick = 1; tick <= kSearchCycleSteps; ++tick) {
    dialog.OnTimer(kSearchTimerId);
  }
  auto* hint = dialog.deviceList->viewport()->findChild<QLabel*>();
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisibleTo(&dialog));
  EXPECT_EQ(hint->text(),
            "No device answered.\nCheck that the device is switched on and connected to this "
            "network, and that the firewall lets in UDP ports 67, 1900, 1530.");
  EXPECT_TRUE(dialog.waitText->isHidden());

  // Refresh takes the hint away; a cycle with a device counts it instead.
  dialog.OnRefresh();
  EXPECT_FALSE(hint->isVisibleTo(&dialog));
  Report(Device("10.0.0.1", "first", "HomeNas"));
  for (int tick = 1; tick <= kSearchCycleSteps; ++tick) {
    dialog.OnTimer(kSearchTimerId);
  }
  EXPECT_FALSE(hint->isVisibleTo(&dialog));
  EXPECT_EQ(dialog.waitText->drawnText, "1 device found.");
  EXPECT_FALSE(dialog.waitText->isHidden());
}

TEST_F(VexiloDlgTest, SearchesThatCannotRunAreNamedAtTheFootOfTheList) {
  const SearchOff privilege{true, 67, EACCES, "Permission denied"};
  const SearchOff held{false, 1900, EADDRINUSE, "Address already in use"};
  const SearchOff other{false, 1900, ENODEV, "No such device"};
  EXPECT_EQ(SearchOffWarning(1, privilege, "/usr/bin/tarvelo"),
            "Broadcast search off: port 67 needs a privilege. Run: sudo setcap "
            "cap_net_bind_service=+ep /usr/bin/tarvelo");
  EXPECT_EQ(SearchOffWarning(1, held, "/p"),
            "Multicast search off: another program holds UDP port 1900.");
  EXPECT_EQ(SearchOffWarning(1, other, "/p"),
            "Multicast search off: UDP port 1900: No such device");
  for (int code = 2; code <= 14; ++code) {
    SCOPED_TRACE(code);
    for (const SearchOff& search : {privilege, held, other}) {
      const QString text = SearchOffWarning(code, search, "/usr/bin/tarvelo");
      EXPECT_TRUE(text.contains(QString::number(search.port)));
      EXPECT_EQ(text.contains("/usr/bin/tarvelo"), search.error == EACCES);
      EXPECT_NE(text, SearchOffWarning(1, search, "/usr/bin/tarvelo"));
    }
  }

  // The capability belongs to the port helper, so the command names the helper.
  const QString program = "/usr/libexec/tarvelo/tarvelo-port-helper";
  testsupport::ScopedEnvironment helper("TARVELO_PORT_HELPER", program.toStdString());
  WarnedDlg dialog;
  dialog.off = {privilege, held};
  dialog.EnsureInitialized();
  auto* line = dialog.deviceList->viewport()->findChild<QLabel*>();
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(line->isVisibleTo(&dialog));
  const QString whole =
      SearchOffWarning(1, privilege, program) + "\n" + SearchOffWarning(1, held, program);
  EXPECT_EQ(line->toolTip(), whole);
  EXPECT_EQ(line->accessibleName(), whole);
  // One line inside the list, elided to its width.
  EXPECT_TRUE(line->text().startsWith("Broadcast search off")) << line->text().toStdString();
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
  EXPECT_EQ(line->geometry().bottom(), dialog.deviceList->viewport()->rect().bottom());

  dialog.off.clear();
  dialog.OnRefresh();
  EXPECT_FALSE(line->isVisibleTo(&dialog));
}

// The window has one size, opens where it was last closed, and its columns fill the list's
// inside exactly, so no horizontal scroll bar shows while the texts fit.
TEST_F(VexiloDlgTest, FixedSizeRememberedPlaceAndColumnsThatFit) {
  {
    TestDlg dialog;
    dialog.EnsureInitialized();
    EXPECT_EQ(dialog.minimumSize(), QSize(328, 245));
    EXPECT_EQ(dialog.maximumSize(), QSize(328, 245));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QHeaderView* header = dialog.deviceList->horizontalHeader();
    EXPECT_EQ(header->length(), dialog.deviceList->viewport()->width());
    EXPECT_FALSE(dialog.deviceList->horizontalScrollBar()->isVisible());
    // The proportions of the design's 96, 122 and 93 pixels stay.
    EXPECT_NEAR(header->sectionSize(1) * 96.0 / header->sectionSize(0), 122.0, 2.0);
    dialog.move(120, 90);
    dialog.OnCancel();
  }
  TestDlg reopened;
  reopened.EnsureInitialized();
  EXPECT_EQ(reopened.pos(), QPoint(120, 90));
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
      {kUiInitialised, "1111", "0100"},
      {kUiSearching, "1110", "0001"},
      {kUiSearchEnded, "0001", "0100"},
      {kUiSearchEnded, "1011", "1110"},
      {kUiRowSelected, "0001", "1011"},
      {kUiNoRowSelected, "1110", "0100"},
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

TEST_F(VexiloDlgTest, WithoutAMouseAUserFindsOpensRefreshesAndCloses) {
  TestDlg dialog;
  Show(dialog);
  ASSERT_TRUE(dialog.ControlsBound());
  EXPECT_EQ(QApplication::focusWidget(), dialog.deviceList) << "the focus starts on the list";
  EXPECT_FALSE(ShowsFocusCue(dialog.deviceList)) << "a focus ring before any key";
  // Space right after the start selects nothing in the empty list and closes nothing; from this
  // first key on, the list shows that it has the focus.
  Type(Qt::Key_Space);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(ShowsFocusCue(dialog.deviceList));

  Report(Device("10.0.0.1", "first", "HomeNas"));
  Report(Device("10.0.0.2", "second", "HomeNas"));
  Report(Device("10.0.0.3", "third", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  ASSERT_EQ(Rows(dialog).size(), 3u);
  // During the cycle F5 does nothing, and Tab passes over the three disabled commands.
  Type(Qt::Key_F5);
  EXPECT_EQ(dialog.searches, 1);
  EXPECT_EQ(Rows(dialog).size(), 3u);
  Type(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dialog.closeButton);
  Type(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dialog.deviceList);
  EndCycle(dialog);
  EXPECT_EQ(Buttons(dialog), "0101");

  // The keys of the list select a row as a click does: Log In and My Storage follow.
  struct Step {
    Qt::Key key;
    int selected;
    const char* buttons;
  };
  const Step steps[] = {
      {Qt::Key_Down, 0, "1111"},     {Qt::Key_End, 2, "1111"}, {Qt::Key_Home, 0, "1111"},
      {Qt::Key_PageDown, 2, "1111"}, {Qt::Key_Up, 1, "1111"},  {Qt::Key_PageUp, 0, "1111"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << "key " << step.key);
    Type(step.key);
    EXPECT_EQ(dialog.GetSelectedRow(), step.selected);
    EXPECT_EQ(Buttons(dialog), step.buttons);
  }
  Type(Qt::Key_Space, Qt::ControlModifier);
  EXPECT_EQ(dialog.GetSelectedRow(), -1);
  EXPECT_EQ(Buttons(dialog), "0101");
  Type(Qt::Key_Down);
  EXPECT_EQ(dialog.GetSelectedRow(), 1);

  // Return and keypad Enter open the selected row's device; the dialog closes on neither.
  Type(Qt::Key_Return);
  Type(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(dialog.opened, (std::vector<QUrl>{QUrl("http://10.0.0.2"), QUrl("http://10.0.0.2")}));
  EXPECT_TRUE(dialog.isVisible());

  // With every command enabled, Tab goes list, Log In, Refresh, My Storage, close, list.
  const QWidget* order[] = {dialog.loginButton, dialog.refreshButton, dialog.storageButton,
                            dialog.closeButton, dialog.deviceList};
  for (const QWidget* next : order) {
    Type(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  Type(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), dialog.closeButton);
  Type(Qt::Key_Tab);

  // F5 after the cycle starts the next one.
  Type(Qt::Key_F5);
  EXPECT_EQ(dialog.searches, 2);
  EXPECT_TRUE(Rows(dialog).empty());
  EXPECT_EQ(Buttons(dialog), "0001");

  // Escape closes the window as the close button does.
  Type(Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(VexiloDlgTest, FocusedButtonsClickOnSpaceAndEnterAndHandTheFocusToTheListWhenDisabled) {
  TestDlg dialog;
  Show(dialog);
  Report(Device("10.0.0.1", "first", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  EndCycle(dialog);
  Type(Qt::Key_Down);
  // Enter on Log In logs in, Space on My Storage opens the storage.
  Type(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), dialog.loginButton);
  Type(Qt::Key_Return);
  EXPECT_EQ(dialog.opened, std::vector<QUrl>{QUrl("http://10.0.0.1")});
  Type(Qt::Key_Tab);
  Type(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), dialog.storageButton);
  Type(Qt::Key_Space);
  EXPECT_EQ(dialog.storages, std::vector<QString>{"10.0.0.1"});
  // Space on Refresh starts a cycle, which disables Refresh: the focus goes back to the list, so
  // that a second Space does not land on the close button.
  Type(Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), dialog.refreshButton);
  Type(Qt::Key_Space);
  EXPECT_EQ(dialog.searches, 2);
  EXPECT_EQ(QApplication::focusWidget(), dialog.deviceList);
  Type(Qt::Key_Space);
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(VexiloDlgTest, OnlyTheFocusedButtonShowsTheRingAndOnlyAfterKeys) {
  TestDlg dialog;
  Show(dialog);
  Report(Device("10.0.0.1", "first", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  EndCycle(dialog);
  dialog.deviceList->selectRow(0);
  dialog.OnListClick();
  CStandardButton* buttons[] = {dialog.loginButton, dialog.refreshButton, dialog.storageButton,
                                dialog.closeButton};
  std::vector<QImage> plain;
  for (CStandardButton* button : buttons) {
    plain.push_back(button->RenderBuffer());
  }
  // A click gives Log In the focus but no ring.
  QTest::mouseClick(dialog.loginButton, Qt::LeftButton);
  ASSERT_EQ(QApplication::focusWidget(), dialog.loginButton);
  EXPECT_EQ(dialog.loginButton->RenderBuffer(), plain[0]);
  // From Tab on, the focused button, and it alone, shows a ring in its caption's colour.
  for (int focused = 1; focused < 4; ++focused) {
    Type(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), buttons[focused]);
    for (int index = 0; index < 4; ++index) {
      SCOPED_TRACE(::testing::Message() << "focus on " << focused << ", button " << index);
      const QImage shown = buttons[index]->RenderBuffer();
      if (index != focused) {
        EXPECT_EQ(shown, plain[index]);
        continue;
      }
      int ringPixels = 0;
      for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
          if (shown.pixel(x, y) == plain[index].pixel(x, y)) {
            continue;
          }
          ++ringPixels;
          EXPECT_EQ(shown.pixel(x, y), buttons[index]->textColor) << x << "," << y;
        }
      }
      EXPECT_GT(ringPixels, index == 3 ? 8 : 40);
    }
  }
}

TEST_F(VexiloDlgTest, ScreenReadersReadEveryControlOfTheShippedLayout) {
  TestDlg dialog;
  dialog.EnsureInitialized();
  struct Case {
    QObject* object;
    QAccessible::Role role;
    const char* name;
    const char* description;
  };
  QWidget* logo = dialog.FindStaticCtrl(2101);
  QWidget* title = dialog.FindStaticCtrl(2102);
  QWidget* caption = dialog.FindStaticCtrl(2104);
  // The wait text is read as it shows now.
  const QByteArray waitText = dialog.waitText->drawnText.toUtf8();
  ASSERT_TRUE(waitText.endsWith(" 10s..."));
  const Case cases[] = {
      {&dialog, QAccessible::Dialog, "Tarvelo", "Device Search Dialog"},
      {logo, QAccessible::Graphic, "LOG Image Show", ""},
      {title, QAccessible::StaticText, "Tarvelo", "Dialog Title"},
      {dialog.closeButton, QAccessible::Button, "Close", "Close Button"},
      {caption, QAccessible::StaticText, "Device List", "Device List Title"},
      {dialog.deviceList, QAccessible::Table, "Device List", "Device List Show"},
      {dialog.waitText, QAccessible::StaticText, waitText.data(), ""},
      {dialog.loginButton, QAccessible::Button, "Log In", "Log In Button"},
      {dialog.refreshButton, QAccessible::Button, "Refresh", "Refresh Button"},
      {dialog.storageButton, QAccessible::Button, "My Storage", "My Storage Button"},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.object, nullptr);
    SCOPED_TRACE(c.name);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(c.object);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), c.role);
    EXPECT_EQ(face->text(QAccessible::Name), c.name);
    EXPECT_EQ(face->text(QAccessible::Description), c.description);
  }
  QAccessibleTableInterface* table =
      QAccessible::queryAccessibleInterface(dialog.deviceList)->tableInterface();
  ASSERT_NE(table, nullptr);
  // The column titles are those the header shows, the layout's strings.
  const char* titles[] = {"SEARCH_DEVICE_LIST_ITEM_NAME", "SEARCH_DEVICE_LIST_ITEM_IP",
                          "SEARCH_DEVICE_LIST_ITEM_TYPE"};
  for (int column = 0; column < 3; ++column) {
    const QString title = dialog.GetLayoutString(titles[column]);
    EXPECT_FALSE(title.isEmpty());
    EXPECT_EQ(table->columnDescription(column), title);
  }

  // Each tick's new text is what the wait text is read as, and it is announced.
  static std::vector<QWidget*> announced;
  announced.clear();
  SetTextChangeHook([](QWidget* control) { announced.push_back(control); });
  Report(Device("10.0.0.1", "first", "HomeNas"));
  dialog.OnTimer(kSearchTimerId);
  SetTextChangeHook(nullptr);
  EXPECT_TRUE(dialog.waitText->drawnText.endsWith(" 9s..."));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.waitText)->text(QAccessible::Name),
            dialog.waitText->drawnText);
  EXPECT_EQ(announced, std::vector<QWidget*>{dialog.waitText});
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->cellAt(0, 0)->text(QAccessible::Name), "first");
  EXPECT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), "10.0.0.1");
}

// Every row carries everything its device reported in its tooltip; its menu opens it or copies
// its details; the columns sort by a click on their titles.
TEST_F(VexiloDlgTest, RowsTellTheirDetailsCopyAndSort) {
  CopyingDlg dialog;
  Show(dialog);
  DeviceInfo full = Device("10.0.0.10", "storage-in-the-basement", "HomeNas");
  std::strcpy(full.vendor, "Acme");
  std::strcpy(full.osVersion, "2.1");
  std::strcpy(full.mac1, "02:00:00:00:00:02");
  Report(full);
  Report(Device("10.0.0.9", "b-nas", "Zeta"));
  Report(Device("10.0.0.100", "A-nas", "Alpha"));
  QCoreApplication::processEvents();
  ASSERT_EQ(Rows(dialog).size(), 3u);
  const auto tip = [&](int row, int column) {
    return dialog.deviceList->model()
        ->data(dialog.deviceList->model()->index(row, column), Qt::ToolTipRole)
        .toString();
  };
  // Labelled, in the details' order, without the fields the device left empty; on every cell.
  const QString details =
      "Host name: storage-in-the-basement\nIP address: 10.0.0.10\nModel: HomeNas\n"
      "Firmware version: 2.1\nVendor: Acme\nSecond MAC address: 02:00:00:00:00:02\n"
      "Device ID: storage-in-the-basement";
  EXPECT_EQ(tip(2, 0), details);
  EXPECT_EQ(tip(2, 2), details);
  Report(Device("10.0.0.10", "storage-in-the-basement", "HomeNas", 4));
  QCoreApplication::processEvents();
  EXPECT_EQ(tip(2, 1), details + "\nHas left the network");

  // Sorting: addresses by number, names without regard to case; a second click reverses; a new
  // device goes to its sorted place.
  const auto column = [&](int index) {
    std::vector<std::string> texts;
    for (int row = 0; row < dialog.deviceList->GetItemCount(); ++row) {
      texts.push_back(dialog.deviceList->GetItemText(row, index).toStdString());
    }
    return texts;
  };
  QTest::mouseClick(dialog.deviceList->horizontalHeader()->viewport(), Qt::LeftButton, {},
                    QPoint(dialog.deviceList->columnViewportPosition(1) + 10, 5));
  EXPECT_EQ(column(1), (std::vector<std::string>{"10.0.0.9", "10.0.0.10", "10.0.0.100"}));
  QTest::mouseClick(dialog.deviceList->horizontalHeader()->viewport(), Qt::LeftButton, {},
                    QPoint(dialog.deviceList->columnViewportPosition(1) + 10, 5));
  EXPECT_EQ(column(1), (std::vector<std::string>{"10.0.0.100", "10.0.0.10", "10.0.0.9"}));
  dialog.OnColumnClick(0);
  Report(Device("10.0.0.5", "C-nas", "Alpha"));
  QCoreApplication::processEvents();
  EXPECT_EQ(column(0),
            (std::vector<std::string>{"A-nas", "b-nas", "C-nas", "storage-in-the-basement"}));

  // The menu of a row: a right click selects the row and offers its commands.
  const QRect last = dialog.deviceList->visualRect(dialog.deviceList->model()->index(3, 0));
  QContextMenuEvent click(QContextMenuEvent::Mouse, last.center(),
                          dialog.deviceList->viewport()->mapToGlobal(last.center()));
  QApplication::sendEvent(dialog.deviceList->viewport(), &click);
  EXPECT_EQ(dialog.GetSelectedRow(), 3);
  EXPECT_EQ(Buttons(dialog).substr(0, 3), "101");
  auto* menu = dialog.findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  QStringList captions;
  for (const QAction* action : menu->actions()) {
    captions << (action->isSeparator() ? "-" : action->text() + (action->isEnabled() ? "" : "*"));
  }
  EXPECT_EQ(captions.join('|'),
            "Log In|My Storage|-|Copy IP Address|Copy MAC Address|Copy Details");
  menu->actions()[4]->trigger();
  EXPECT_EQ(dialog.copied.back(), "02:00:00:00:00:02");
  menu->actions()[5]->trigger();
  EXPECT_EQ(dialog.copied.back(), details + "\nHas left the network");
  menu->actions()[1]->trigger();
  EXPECT_EQ(dialog.storages, (std::vector<QString>{"10.0.0.10"}));
  menu->close();

  // A device without a MAC address cannot have one copied; Ctrl+C copies the address.
  dialog.deviceList->SelectRow(0);
  dialog.OnCtrlNotify(kDeviceListId, kNotifyItemChanged);
  QTest::keyClick(dialog.deviceList, Qt::Key_F10, Qt::ShiftModifier);
  menu = dialog.findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(menu->actions()[4]->isEnabled());
  menu->close();
  QTest::keyClick(dialog.deviceList, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(dialog.copied.back(), "10.0.0.100");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "10.0.0.100");
}

// Log In and My Storage open only what is built from a dotted IPv4 address, whatever the device
// put in its address; otherwise the user is told, in their language.
TEST_F(VexiloDlgTest, AnAddressThatIsNotIPv4OpensNothingAndTheUserIsTold) {
  EXPECT_EQ(InvalidAddressMessage(1, "nas.local"),
            "The device gave \"nas.local\" as its address, which is not an IPv4 address.\n"
            "Nothing was opened.");
  for (int code = 2; code <= 14; ++code) {
    EXPECT_TRUE(InvalidAddressMessage(code, "nas.local").contains("nas.local")) << code;
    EXPECT_NE(InvalidAddressMessage(code, "x"), InvalidAddressMessage(1, "x")) << code;
  }
  TestDlg dialog;
  dialog.EnsureInitialized();
  for (const char* address : {"evil.example/phish?x=", "10.0.0.01", "10.231.3.9/desc"}) {
    SCOPED_TRACE(address);
    Report(Device(address, "nas", "HomeNas"));
    dialog.OnTimer(kSearchTimerId);
    dialog.deviceList->SelectRow(0);
    ASSERT_EQ(dialog.deviceList->GetItemText(0, 1), address);
    dialog.OnListClick();
    dialog.OnLogIn();
    dialog.OnListDblClk();
    dialog.OnMyStorage();
    EXPECT_EQ(dialog.invalid, (std::vector<QString>(3, address)));
    dialog.invalid.clear();
  }
  EXPECT_TRUE(dialog.opened.empty());
  EXPECT_TRUE(dialog.storages.empty());
}

// Devices that are not heard again within their time to live leave once the cycle has ended, as
// a device that says goodbye does: greyed, until they are heard again.
TEST_F(VexiloDlgTest, ATimeToLiveThatRunsOutAfterTheCycleGreysTheRow) {
  TestDlg dialog;
  dialog.EnsureInitialized();
  DeviceInfo gone = Device("10.0.0.1", "short", "HomeNas");
  gone.timeToLive = 0;
  DeviceInfo brief = Device("10.0.0.2", "brief", "HomeNas");
  brief.timeToLive = 1;
  DeviceInfo stays = Device("10.0.0.3", "long", "HomeNas");
  stays.timeToLive = 3600;
  for (const DeviceInfo& device : {gone, brief, stays}) Report(device);
  // Within the cycle nothing expires.
  for (int tick = 1; tick < kSearchCycleSteps; ++tick) dialog.OnTimer(kSearchTimerId);
  QCoreApplication::processEvents();
  ASSERT_EQ(dialog.deviceList->GetItemCount(), 3);
  for (int row = 0; row < 3; ++row) EXPECT_FALSE(dialog.deviceList->RowGreyed(row)) << row;

  EndCycle(dialog);
  const auto greyed = [&](const char* address) {
    for (int row = 0; row < dialog.deviceList->GetItemCount(); ++row) {
      if (dialog.deviceList->GetItemText(row, 1) == address) {
        return dialog.deviceList->RowGreyed(row);
      }
    }
    return false;
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return greyed("10.0.0.1") && greyed("10.0.0.2"); }, 10000));
  EXPECT_FALSE(greyed("10.0.0.3"));
  EXPECT_EQ(DeviceTable::Instance().CopyAll().size(), 1u);
  EXPECT_EQ(dialog.waitText->drawnText, "1 device found.");

  // Heard again: back to normal, and its new time to live counts.
  gone.timeToLive = 3600;
  Report(gone);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !greyed("10.0.0.1"); }, 10000));
  EXPECT_EQ(dialog.waitText->drawnText, "2 devices found.");
}

// A flood of made-up devices: the table keeps at most its capacity, the list catches up with a
// table whose journal it could not follow, and the rows of devices that left stay bounded.
TEST_F(VexiloDlgTest, AFloodOfNewDevicesLeavesTheTableAndTheListBounded) {
  testsupport::LogCapture log;
  TestDlg dialog;
  dialog.EnsureInitialized();
  EndCycle(dialog);
  const auto device = [](int number, int type) {
    const std::string address =
        "10.1." + std::to_string(number / 250) + "." + std::to_string(number % 250 + 1);
    const std::string name = "fake" + std::to_string(number);
    DeviceInfo made = Device(address.c_str(), name.c_str(), "HomeNas", type);
    made.timeToLive = 3600;
    return made;
  };
  // More than the table holds, and then new details for some, all before the window's thread
  // gets a turn: more changes than the table's journal keeps.
  const int capacity = static_cast<int>(DeviceTable::kCapacity);
  const int flood = capacity + 500;
  for (int number = 0; number < flood; ++number) Report(device(number, 2));
  for (int number = 0; number < 100; ++number) {
    DeviceInfo renamed = device(number, 2);
    std::strcpy(renamed.host, "renamed");
    Report(renamed);
  }
  EXPECT_EQ(DeviceTable::Instance().CopyAll().size(), DeviceTable::kCapacity);
  EXPECT_EQ(log.CountContaining("Device table full"), 1u);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return dialog.deviceList->GetItemCount() == capacity; }, 60000));
  EXPECT_EQ(dialog.deviceList->GetItemText(0, 0), QString("fake%1").arg(capacity - 1));
  EXPECT_EQ(dialog.deviceList->GetItemText(capacity - 1, 0), "renamed");
  EXPECT_EQ(dialog.deviceList->GetItemText(capacity - 1, 1), "10.1.0.1");

  // Every one of them says goodbye, then as many new ones come and go: the greyed rows stay
  // within their bound, the newest departures kept.
  for (int number = 0; number < capacity; ++number) Report(device(number, 4));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return dialog.deviceList->GetItemCount() == kGreyedRowLimit; }, 60000));
  for (int number = flood; number < flood + 300; ++number) {
    Report(device(number, 2));
    Report(device(number, 4));
  }
  Report(device(flood + 300, 2));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return dialog.deviceList->GetItemText(0, 0) == QString("fake%1").arg(flood + 300); },
      60000));
  ASSERT_EQ(dialog.deviceList->GetItemCount(), kGreyedRowLimit + 1);
  EXPECT_FALSE(dialog.deviceList->RowGreyed(0));
  for (int row = 1; row <= kGreyedRowLimit; ++row) {
    ASSERT_TRUE(dialog.deviceList->RowGreyed(row)) << row;
    ASSERT_EQ(dialog.deviceList->GetItemText(row, 0), QString("fake%1").arg(flood + 300 - row));
  }
  EXPECT_EQ(dialog.waitText->drawnText, "1 device found.");
}

TEST(VexiloAppTest, FailureMessagesByLanguage) {
  EXPECT_EQ(DeployFailureMessage(2), "创建配置文件失败!");
  EXPECT_EQ(DeployFailureMessage(3), "創建配置文件失敗!");
  EXPECT_EQ(DeployFailureMessage(6), "La création du fichier de configuration a échoué!");
  for (const int code : {1, 7, 8, 12, 13, 14}) {
    EXPECT_EQ(DeployFailureMessage(code), "Failed to create the configuration file!") << code;
  }
  // The start-up chooses the message as it chooses the window: Hong Kong and Macao read the
  // traditional script.
  const std::pair<const char*, QString> locales[] = {{"zh_HK.UTF-8", "創建配置文件失敗!"},
                                                     {"zh_MO.UTF-8", "創建配置文件失敗!"},
                                                     {"zh_SG.UTF-8", "创建配置文件失败!"},
                                                     {"fr_FR.UTF-8", DeployFailureMessage(6)}};
  for (const auto& [locale, message] : locales) {
    const ScopedEnvironment language("LC_ALL", locale);
    EXPECT_EQ(DeployFailureMessage(GetDisplayLanguageCode()), message) << locale;
  }
}

}  // namespace
