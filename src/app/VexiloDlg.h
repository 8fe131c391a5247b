#pragma once

// The program's window: a borderless, skinned dialog that lists the storage devices found on the
// local network and offers Log In, Refresh and My Storage. Its look and controls come from the
// layout document (dialog 201, variant Standard); it shows the process-wide device table on a
// one-second timer during a ten-second search cycle.
//
// The window works without a mouse: the device list has the focus from the start, Tab goes from
// it to Log In, Refresh, My Storage and the close button (skipping those disabled), the keys of
// the list select a row as a click does, Return on a row logs in, F5 refreshes while Refresh is
// enabled, Escape closes the window as the close button does.
//
// The list is live: the engine's reports reach it through a call queued into the window's
// thread, so a device appears the moment it answers or announces itself, also after the cycle;
// a device that says goodbye stays, greyed, until it comes back or the next Refresh. Each row's
// tooltip holds everything the device reported; a right click, the menu key or Shift+F10 opens
// a menu (Log In, My Storage, copy the address, the MAC address or the details), Ctrl+C copies the
// address. A click on a column title sorts by it (addresses by number), another reverses; until
// then the newest device is on top.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include <QBasicTimer>
#include <QHash>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include "app/LayoutDialog.h"
#include "app/Messages.h"
#include "app/ReplyChannel.h"
#include "discovery/SearchDeviceManager.h"

class QLabel;
class QTableWidgetItem;
class CShowTextImageCtrl;
class CStandardButton;
class CStandardListCtrl;

// The title by which a second start finds the running window.
inline constexpr char kProductTitle[] = "Tarvelo";
// The command a second start sends to the running window to bring it to the front.
inline constexpr int kBringToFrontCommand = 1124;

// Control identifiers of the main dialog.
inline constexpr int kCloseButtonId = 2103;
inline constexpr int kDeviceListId = 2105;
inline constexpr int kWaitTextId = 2106;
inline constexpr int kLogInButtonId = 2107;
inline constexpr int kRefreshButtonId = 2108;
inline constexpr int kStorageButtonId = 2109;

// The states of the controls; each changes only the controls its row names.
enum UiState {
  kUiInitialised = 0,    // wait text hidden; close, Refresh on; Log In, My Storage off
  kUiSearching = 1,      // wait text shown; Log In, Refresh, My Storage off
  kUiSearchEnded = 2,    // wait text hidden; Refresh on
  kUiRowSelected = 3,    // Log In, My Storage on
  kUiNoRowSelected = 4,  // Log In, My Storage off
};

// The timer of the search cycle: identifier 1, every 1000 ms, ten ticks a cycle.
inline constexpr int kSearchTimerId = 1;
inline constexpr int kSearchTimerPeriodMs = 1000;
inline constexpr int kSearchCycleSteps = 10;

// How many changes of the device table one turn of the event loop brings into the list; the rest
// follow in later turns, so that clicks and keys are answered between them however fast devices
// are reported.
inline constexpr std::size_t kListUpdateSlice = 256;
// The most greyed rows (devices that have left) the list keeps; the oldest go first beyond it.
// Devices that leave and new ones that come would otherwise pile up rows without end; a person
// looks at the few latest departures, not at hundreds.
inline constexpr int kGreyedRowLimit = 256;

class CVexiloDlg : public CLayoutDialog {
 public:
  CVexiloDlg();
  ~CVexiloDlg() override;

  bool OnInitDialog() override;
  void BindControls() override;
  bool ControlsBound() const override;

  void OnRefresh();
  void OnTimer(int timerId);
  void OnLogIn();
  void OnMyStorage();
  void OnListClick();
  void OnListDblClk();
  // Return or Enter in the list: logs in to the selected row's device, as a double click does.
  void OnListReturn();
  // Brings the window to the front for a second start; `token` is the activation token that start
  // passed on (empty when it had none), which lets the window past the desktop's focus-stealing
  // prevention: on Wayland, where a window cannot raise itself, the compositor activates it for a
  // valid token; on X11 the token ends the second start's startup notification.
  void OnBringToFront(const QByteArray& token = {});
  // Shows, at the foot of the device list, a line for each search that does not run (its port
  // could not be used) with what to do; hides it when every search runs. The whole text is the
  // line's tooltip, and a click on the line shows it in a message that can be copied.
  void ShowSearchWarnings();
  // Once a cycle has ended: how many devices were found, in the wait text's place; or, when none
  // answered, what to check, in the list's empty area.
  void ShowCycleResult();
  void OnCancel();
  void SetUiState(int state);
  void ShowWaitSeconds(int seconds);
  void InitDeviceList();
  // The keyboard order of the bound controls (list, Log In, Refresh, My Storage, close), the
  // focus on the list, and the close button's accessible name (it has no caption to be read).
  void InitKeyboardAccess();
  void FillDeviceList();
  // Brings the rows in line with the device table's latest changes: new devices on top (or in
  // their sorted place), the details of listed ones brought up to date, those gone from the table
  // greyed. At most kListUpdateSlice changes at a time; when more wait, another turn follows.
  void UpdateDeviceList();
  // The menu of the selected row, at the place the list gives.
  void OnListRightClick();
  // Sorts by COLUMN, or reverses the order when the rows are sorted by it already.
  void OnColumnClick(int column);
  // Copies the selected row's address.
  void OnCopyKey();
  int GetSelectedRow() const;

  void OnCtrlCommand(int ctrlId, int notifyCode) override;
  void OnCtrlNotify(int ctrlId, int notifyCode) override;

  int Countdown() const { return countdown; }
  bool SearchTimerActive() const { return searchTimer_.isActive(); }

  QIcon icon;
  CStandardListCtrl* deviceList = nullptr;
  CShowTextImageCtrl* waitText = nullptr;
  CStandardButton* closeButton = nullptr;
  CStandardButton* refreshButton = nullptr;
  CStandardButton* loginButton = nullptr;
  CStandardButton* storageButton = nullptr;
  int countdown = 1;

 protected:
  // The engine's search request; tests replace it.
  virtual void SendSearch();
  // Opens a web address in the user's browser, off the window's thread; tests replace it.
  virtual void OpenUrl(const QUrl& url);
  // Opens the storage of the device at `address`, off the window's thread; tests replace it.
  virtual void OpenStorage(const QString& address);
  // The searches whose socket could not be made, and the ports replies come in on; tests
  // replace them.
  virtual std::vector<SearchOff> SearchesOff();
  virtual std::vector<std::int32_t> ReplyPorts();
  // Puts TEXT on the clipboard (and the X selection); tests read the clipboard.
  virtual void CopyText(const QString& text);
  // Tells the user that nothing could open LOCATION, in a message beside the window that does
  // not block it.
  virtual void ShowOpenFailure(OpenTarget target, const QString& location);
  // Tells the user that the selected device's ADDRESS is not an IPv4 address, so that nothing was
  // opened, in the same kind of message.
  virtual void ShowInvalidAddress(const QString& address);

  void timerEvent(QTimerEvent* event) override;
  // Remembers where the window was when it closes.
  void done(int result) override;
  // F5 refreshes while Refresh is enabled; the other keys are the dialog's (Escape closes).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Enables or disables a control of the UI states. A control about to be disabled that holds
  // the focus gives it to the list first: Qt would pass it on to the next control in the Tab
  // order, after Refresh (whose press starts a cycle that disables it) the close button, where
  // the next Space would close the window.
  void EnableCtrl(QWidget* control, bool enabled);
  // Registers the window's update with the device table (a queued call per burst of reports).
  void ListenToDeviceTable();
  // Writes DEVICE into ROW: its texts, sort keys, details, and grey when GONE.
  void ShowDeviceRow(int row, const DeviceInfo& device, bool gone);
  // Posts one more turn of UpdateDeviceList, unless one is waiting already.
  void ScheduleListUpdate();
  // One change of the table in the list: a device added or changed, or one that left (REMOVED).
  // True when a row changed.
  bool ApplyDeviceChange(const DeviceInfo& device, bool removed);
  // Brings the list in line with a copy of the whole table, when its journal no longer holds
  // every change since the last update.
  void ResynchroniseDeviceList();
  // Forgets every row and what is known of it.
  void ForgetRows();
  // Keeps track of greyed rows in the order they were greyed, and removes the oldest beyond
  // kGreyedRowLimit.
  void NoteGreyed(const QString& address);
  void ForgetGreyed(const QString& address);
  // The single-shot timer of the first time to live that runs out, once the cycle has ended.
  void ArmExpiryTimer();
  void OnExpiryTimer();
  // The selected row's address, when it is a dotted IPv4 address; otherwise the user is told.
  bool SelectedAddress(QString& address);
  // The latest details of the selected row's device, or null.
  const DeviceInfo* SelectedDevice() const;

  QBasicTimer searchTimer_;
  QLabel* searchWarning_ = nullptr;
  QLabel* noDeviceHint_ = nullptr;
  // The open menu of a row, if any; it deletes itself when closed.
  QPointer<QMenu> contextMenu_;
  // The latest details of every listed device, by address; kept for a device that has gone.
  QHash<QString, DeviceInfo> shownDevices_;
  // The first cell of every listed device's row, by address: a new device is told from a listed
  // one without looking at the rows. Finding a listed row's number from its cell may still walk
  // the list (Qt's row() after inserts and sorts), bounded by the table's and greyed rows' caps.
  QHash<QString, QTableWidgetItem*> listedRows_;
  // The addresses of the greyed rows, the longest greyed first, and where each stands.
  std::list<QString> greyedOrder_;
  QHash<QString, std::list<QString>::iterator> greyedAt_;
  // The last change of the device table that the list shows.
  std::uint64_t appliedSequence_ = 0;
  // Set while a turn of UpdateDeviceList is posted and has not run yet.
  std::shared_ptr<std::atomic<bool>> updatePending_ = std::make_shared<std::atomic<bool>>(false);
  QTimer expiryTimer_;
  std::chrono::steady_clock::time_point expiryDue_;
  // The count the wait text's place shows after the cycle, or -1.
  int shownCount_ = -1;
  // Set once the running cycle has ended: from then on each update tells the count.
  bool cycleEnded_ = false;
  // Where Log In and My Storage report back from their threads.
  std::shared_ptr<ReplyChannel> replies_;
};
