#include "app/VexiloDlg.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSet>
#include <QTimerEvent>

#include "app/DeviceFields.h"
#include "app/DeviceTable.h"
#include "app/SearchCommand.h"
#include "app/SkinDeployment.h"
#include "app/StorageAccess.h"
#include "app/WindowPlace.h"
#include "controls/Buttons.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "diag/LogSystem.h"
#include "discovery/PortHelper.h"
#include "discovery/SearchDeviceManager.h"
#include "layout/LayoutValues.h"
#include "platform/DesktopOpen.h"
#include "platform/StartupNotification.h"
#include "platform/WorkingFolder.h"

namespace {

// The header of the device list is a little lower than a desktop list's default.
constexpr float kHeaderHeightScale = 0.9f;

// The list's columns: the device field each shows, its title's layout string, how its cells
// align and its width in the design.
struct DeviceColumn {
  const char* field;
  const char16_t* headingId;
  CStandardListCtrl::ColumnAlign align;
  int width;
};
constexpr DeviceColumn kDeviceColumns[] = {
    {"host", u"SEARCH_DEVICE_LIST_ITEM_NAME", CStandardListCtrl::ColumnAlign::Left, 96},
    {"ip", u"SEARCH_DEVICE_LIST_ITEM_IP", CStandardListCtrl::ColumnAlign::Center, 122},
    {"product", u"SEARCH_DEVICE_LIST_ITEM_TYPE", CStandardListCtrl::ColumnAlign::Center, 93},
};
// The column of the address: the key by which the window knows a device's row.
constexpr int kAddressColumn = 1;

QString PicturePath(const char* name) {
  return MakeLayoutPath(QString::fromUtf16(kPictureFolder) + QLatin1Char('\\') +
                        QLatin1String(name));
}

// A note over the whole inside of an empty list, in grey, wrapped and centred: what the list would
// show if it had rows. It follows the list's size.
class ViewportNote : public QLabel {
 public:
  explicit ViewportNote(QWidget* viewport) : QLabel(viewport) {
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QLabel { color: #5a6470; background: transparent; }"));
    setGeometry(viewport->rect().adjusted(8, 4, -8, -4));
    viewport->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Resize) {
      setGeometry(parentWidget()->rect().adjusted(8, 4, -8, -4));
    }
    return QLabel::eventFilter(watched, event);
  }
};

// The line that says which search is off: amber, like a desktop's warning bar, one line at the
// foot of the list's inside, over the rows, which scroll beneath it. It follows the list's size
// and elides what does not fit; a click on it calls CLICKED.
class WarningLine : public QLabel {
 public:
  WarningLine(QWidget* viewport, std::function<void()> clicked)
      : QLabel(viewport), clicked_(std::move(clicked)) {
    // A style sheet of its own: the list's colours (blue text on white) would otherwise apply.
    setStyleSheet(QStringLiteral("QLabel { background: #ffe08a; color: #3a2a00; }"));
    setIndent(4);
    setCursor(Qt::PointingHandCursor);
    viewport->installEventFilter(this);
  }

  void SetLines(const QStringList& lines) {
    lines_ = lines;
    const QString whole = lines.join(QLatin1Char('\n'));
    setToolTip(whole);
    setAccessibleName(whole);
    LayOut();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Resize) {
      LayOut();
    }
    return QLabel::eventFilter(watched, event);
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->pos())) {
      clicked_();
    }
  }

 private:
  void LayOut() {
    if (lines_.isEmpty()) {
      return;
    }
    const QRect inside = parentWidget()->rect();
    const int height = fontMetrics().height() + 4;
    setGeometry(inside.left(), inside.bottom() + 1 - height, inside.width(), height);
    const QString first = lines_.size() > 1
                              ? lines_.first() + QStringLiteral(" (+%1)").arg(lines_.size() - 1)
                              : lines_.first();
    setText(fontMetrics().elidedText(first, Qt::ElideRight, contentsRect().width() - 2 * indent()));
  }

  std::function<void()> clicked_;
  QStringList lines_;
};

// A warning the user may read at leisure and copy. Plain text: the messages quote what devices
// and the system said, which must never be read as markup.
void ShowWarningBox(QWidget* parent, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kProductTitle), text,
                              QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

}  // namespace

CVexiloDlg::CVexiloDlg()
    : icon(QStringLiteral(":/icon/128")), replies_(std::make_shared<ReplyChannel>(this)) {
  expiryTimer_.setSingleShot(true);
  QObject::connect(&expiryTimer_, &QTimer::timeout, this, [this] { OnExpiryTimer(); });
}

CVexiloDlg::~CVexiloDlg() { replies_->Close(); }

void CVexiloDlg::ListenToDeviceTable() {
  // A burst of reports posts one update: the flag stays set until the update has run, and the
  // update reads every change since the last.
  DeviceTable::Instance().SetChangeListener([this, replies = replies_, pending = updatePending_] {
    if (!pending->exchange(true)) {
      replies->Post([this, pending] {
        pending->store(false);
        UpdateDeviceList();
      });
    }
  });
}

void CVexiloDlg::ScheduleListUpdate() {
  if (!updatePending_->exchange(true)) {
    replies_->Post([this, pending = updatePending_] {
      pending->store(false);
      UpdateDeviceList();
    });
  }
}

bool CVexiloDlg::OnInitDialog() {
  CLayoutDialog::OnInitDialog();
  setWindowIcon(icon);
  LoadLayoutFile(QString::fromUtf16(kLayoutFile), 201, QStringLiteral("Standard"));
  InitKeyboardAccess();
  SetUiState(kUiInitialised);
  setWindowTitle(QString::fromLatin1(kProductTitle));
  InitDeviceList();
  ListenToDeviceTable();
  // The skin is drawn for one size: the window manager offers neither resizing nor maximising.
  setFixedSize(size());
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    screens << screen->availableGeometry();
  }
  move(ChooseWindowPlace(RememberedWindowPlace(), size(), screens, QCursor::pos()));
  OnRefresh();
  return true;
}

void CVexiloDlg::done(int result) {
  if (isVisible()) {
    RememberWindowPlace(pos());
  }
  CLayoutDialog::done(result);
}

void CVexiloDlg::BindControls() {
  deviceList = dynamic_cast<CStandardListCtrl*>(FindListCtrl(kDeviceListId));
  waitText = dynamic_cast<CShowTextImageCtrl*>(FindStaticCtrl(kWaitTextId));
  closeButton = dynamic_cast<CStandardButton*>(FindButtonCtrl(kCloseButtonId));
  loginButton = dynamic_cast<CStandardButton*>(FindButtonCtrl(kLogInButtonId));
  refreshButton = dynamic_cast<CStandardButton*>(FindButtonCtrl(kRefreshButtonId));
  storageButton = dynamic_cast<CStandardButton*>(FindButtonCtrl(kStorageButtonId));
}

bool CVexiloDlg::ControlsBound() const {
  return deviceList != nullptr && waitText != nullptr && closeButton != nullptr &&
         refreshButton != nullptr && loginButton != nullptr && storageButton != nullptr;
}

void CVexiloDlg::SetUiState(int state) {
  if (!ControlsBound()) {
    return;
  }
  switch (state) {
    case kUiInitialised:
      waitText->hide();
      EnableCtrl(closeButton, true);
      EnableCtrl(loginButton, false);
      EnableCtrl(refreshButton, true);
      EnableCtrl(storageButton, false);
      break;
    case kUiSearching:
      waitText->show();
      EnableCtrl(loginButton, false);
      EnableCtrl(refreshButton, false);
      EnableCtrl(storageButton, false);
      break;
    case kUiSearchEnded:
      waitText->hide();
      EnableCtrl(refreshButton, true);
      break;
    case kUiRowSelected:
      EnableCtrl(loginButton, true);
      EnableCtrl(storageButton, true);
      break;
    case kUiNoRowSelected:
      EnableCtrl(loginButton, false);
      EnableCtrl(storageButton, false);
      break;
    default:
      break;
  }
}

void CVexiloDlg::InitKeyboardAccess() {
  if (!ControlsBound()) {
    return;
  }
  // The controls were made in the layout's order, which would put the close button first, and
  // Space on it right after the start would close the window.
  QWidget::setTabOrder(deviceList, loginButton);
  QWidget::setTabOrder(loginButton, refreshButton);
  QWidget::setTabOrder(refreshButton, storageButton);
  QWidget::setTabOrder(storageButton, closeButton);
  deviceList->setFocus(Qt::OtherFocusReason);
  if (closeButton->accessibleName().isEmpty()) {
    closeButton->setAccessibleName(QCoreApplication::translate("CVexiloDlg", "Close"));
  }
}

void CVexiloDlg::EnableCtrl(QWidget* control, bool enabled) {
  if (!enabled && control != deviceList && focusWidget() == control) {
    deviceList->setFocus(Qt::OtherFocusReason);
  }
  control->setEnabled(enabled);
}

void CVexiloDlg::InitDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  deviceList->SetGridLines(true);
  deviceList->SetFullRowSelect(true);
  deviceList->SetHeaderImages(PicturePath("headerbackground.png"), PicturePath("headerclip.png"));
  deviceList->SetHeaderFont(
      GetLayoutString(QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_NAME")),
      ReadLayoutInt(GetLayoutString(QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_SIZE"))));
  deviceList->SetHeaderTextColor(
      GetLayoutString(QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_COLOR")));
  deviceList->GetHeaderCtrl()->heightScale = kHeaderHeightScale;
  deviceList->FitColumnsToWidth();
  deviceList->SetColumnsClickable(true);
  int index = 0;
  for (const DeviceColumn& column : kDeviceColumns) {
    deviceList->InsertColumn(index++, GetLayoutString(QString::fromUtf16(column.headingId)),
                             column.align, column.width);
  }
}

void CVexiloDlg::OnRefresh() {
  if (!ControlsBound()) {
    return;
  }
  ForgetRows();
  cycleEnded_ = false;
  expiryTimer_.stop();
  appliedSequence_ = DeviceTable::Instance().Clear();
  if (noDeviceHint_ != nullptr) {
    noDeviceHint_->hide();
  }
  SendSearch();
  ShowSearchWarnings();
  ShowWaitSeconds(kSearchCycleSteps);
  SetUiState(kUiSearching);
  searchTimer_.start(kSearchTimerPeriodMs, this);
}

void CVexiloDlg::OnTimer(int timerId) {
  if (timerId != kSearchTimerId) {
    return;
  }
  if (countdown == kSearchCycleSteps) {
    searchTimer_.stop();
    countdown = 1;
    SetUiState(kUiSearchEnded);
    cycleEnded_ = true;
    ShowCycleResult();
    // From now on devices whose time to live runs out leave the table, and so grey in the list.
    ArmExpiryTimer();
    return;
  }
  UpdateDeviceList();
  ShowWaitSeconds(kSearchCycleSteps - countdown);
  ++countdown;
}

void CVexiloDlg::ShowWaitSeconds(int seconds) {
  if (waitText == nullptr) {
    return;
  }
  const QString text = QStringLiteral("%1 %2s...")
                           .arg(GetLayoutString(QStringLiteral("SEARCH_DEVICE_WATI_TIME_WARNING")))
                           .arg(seconds);
  waitText->ChangeText(text);
}

void CVexiloDlg::FillDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  ForgetRows();
  ResynchroniseDeviceList();
}

void CVexiloDlg::ForgetRows() {
  deviceList->DeleteAllItems();
  shownDevices_.clear();
  listedRows_.clear();
  greyedOrder_.clear();
  greyedAt_.clear();
  shownCount_ = -1;
}

void CVexiloDlg::UpdateDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  DeviceTable& table = DeviceTable::Instance();
  const DeviceTable::ChangeSlice slice = table.ChangesAfter(appliedSequence_, kListUpdateSlice);
  bool changed = false;
  if (slice.lost) {
    ResynchroniseDeviceList();
    changed = true;
  }
  for (const DeviceTable::Change& change : slice.changes) {
    changed |= ApplyDeviceChange(change.device, change.kind == DeviceTable::ChangeKind::kRemoved);
    appliedSequence_ = change.sequence;
  }
  if (table.LastSequence() > appliedSequence_) {
    ScheduleListUpdate();
  }
  if (!changed) {
    return;
  }
  if (deviceList->SortColumn() >= 0) {
    deviceList->SortItems(deviceList->SortColumn(), deviceList->SortOrder());
  }
  // A greyed row that was selected may have gone with the oldest.
  if (GetSelectedRow() == -1 && loginButton->isEnabled()) {
    SetUiState(kUiNoRowSelected);
  }
  if (cycleEnded_) {
    ShowCycleResult();
    ArmExpiryTimer();
  }
}

bool CVexiloDlg::ApplyDeviceChange(const DeviceInfo& device, bool removed) {
  const QString address = DeviceText(device.ip);
  const auto listed = listedRows_.constFind(address);
  if (removed) {
    if (listed == listedRows_.constEnd()) {
      return false;
    }
    const int row = deviceList->row(*listed);
    if (deviceList->RowGreyed(row)) {
      return false;
    }
    ShowDeviceRow(row, device, true);
    NoteGreyed(address);
    return true;
  }
  if (listed != listedRows_.constEnd()) {
    ForgetGreyed(address);
    ShowDeviceRow(deviceList->row(*listed), device, false);
    return true;
  }
  // Until the user sorts, the newest device is on top.
  const int row = deviceList->InsertItem(0, QString());
  listedRows_.insert(address, deviceList->item(row, 0));
  ShowDeviceRow(row, device, false);
  return true;
}

void CVexiloDlg::ResynchroniseDeviceList() {
  std::uint64_t sequence = 0;
  const std::vector<DeviceInfo> devices = DeviceTable::Instance().CopyAll(&sequence);
  QSet<QString> present;
  for (const DeviceInfo& device : devices) {
    present.insert(DeviceText(device.ip));
    ApplyDeviceChange(device, false);
  }
  // A listed device that is no longer in the table has left.
  std::vector<DeviceInfo> gone;
  for (auto row = listedRows_.constBegin(); row != listedRows_.constEnd(); ++row) {
    if (!present.contains(row.key())) {
      gone.push_back(shownDevices_.value(row.key()));
    }
  }
  for (const DeviceInfo& device : gone) {
    ApplyDeviceChange(device, true);
  }
  appliedSequence_ = sequence;
}

void CVexiloDlg::NoteGreyed(const QString& address) {
  greyedAt_.insert(address, greyedOrder_.insert(greyedOrder_.end(), address));
  while (greyedOrder_.size() > static_cast<std::size_t>(kGreyedRowLimit)) {
    const QString oldest = greyedOrder_.front();
    greyedOrder_.pop_front();
    greyedAt_.remove(oldest);
    if (QTableWidgetItem* const cell = listedRows_.take(oldest)) {
      deviceList->RemoveItem(deviceList->row(cell));
    }
    shownDevices_.remove(oldest);
  }
}

void CVexiloDlg::ForgetGreyed(const QString& address) {
  if (const auto at = greyedAt_.find(address); at != greyedAt_.end()) {
    greyedOrder_.erase(*at);
    greyedAt_.erase(at);
  }
}

void CVexiloDlg::ArmExpiryTimer() {
  const std::optional<std::chrono::steady_clock::time_point> next =
      DeviceTable::Instance().NextExpiry();
  if (!next) {
    expiryTimer_.stop();
    return;
  }
  // A timer set for an earlier moment stays: it finds nothing to remove and is set again then.
  if (expiryTimer_.isActive() && expiryDue_ <= *next) {
    return;
  }
  // A very long time to live is waited for in steps of an hour, within the timer's range.
  const auto wait = std::clamp(
      std::chrono::ceil<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now()),
      std::chrono::milliseconds(0), std::chrono::milliseconds(std::chrono::hours(1)));
  expiryDue_ = *next;
  expiryTimer_.start(wait);
}

void CVexiloDlg::OnExpiryTimer() {
  if (!cycleEnded_) {
    return;
  }
  // The devices that leave are changes of the table, which reach the list as every other does.
  DeviceTable::Instance().RemoveExpired(std::chrono::steady_clock::now());
  ArmExpiryTimer();
}

void CVexiloDlg::ShowDeviceRow(int row, const DeviceInfo& device, bool gone) {
  const QString address = DeviceText(device.ip);
  const auto known = shownDevices_.constFind(address);
  if (known != shownDevices_.constEnd() && deviceList->RowGreyed(row) == gone &&
      IsSameDevice(*known, device)) {
    return;
  }
  shownDevices_[address] = device;
  int column = 0;
  for (const DeviceColumn& shown : kDeviceColumns) {
    const DeviceField& field = DeviceFieldOf(shown.field);
    if (const QString text = field.text(device); deviceList->GetItemText(row, column) != text) {
      deviceList->SetItemText(row, column, text);
    }
    deviceList->SetItemSortKey(row, column, SortKeyOf(field, device));
    ++column;
  }
  const int language = GetDisplayLanguageCode();
  deviceList->SetRowGreyed(row, gone, DeviceGoneText(language));
  deviceList->SetRowToolTip(row, DeviceDetails(language, device, gone));
}

int CVexiloDlg::GetSelectedRow() const {
  return ControlsBound() ? deviceList->GetFirstSelectedRow() : -1;
}

void CVexiloDlg::OnListClick() {
  SetUiState(GetSelectedRow() != -1 ? kUiRowSelected : kUiNoRowSelected);
}

void CVexiloDlg::OnListDblClk() {
  if (GetSelectedRow() != -1) {
    OnLogIn();
  }
}

void CVexiloDlg::OnListReturn() { OnListDblClk(); }

bool CVexiloDlg::SelectedAddress(QString& address) {
  const int row = GetSelectedRow();
  if (row == -1) {
    return false;
  }
  // The address is what a device said; only a plain IPv4 address becomes something to open,
  // never a host name, a path or another site that a device slipped into it.
  address = deviceList->GetItemText(row, kAddressColumn);
  if (!IsDottedIPv4(address)) {
    WriteLog("Device address \"%s\" is not an IPv4 address: nothing opened",
             address.toUtf8().constData());
    ShowInvalidAddress(address);
    return false;
  }
  return true;
}

void CVexiloDlg::OnLogIn() {
  QString address;
  if (SelectedAddress(address)) {
    OpenUrl(QUrl(QStringLiteral("http://") + address));
  }
}

void CVexiloDlg::OnMyStorage() {
  QString address;
  if (SelectedAddress(address)) {
    OpenStorage(address);
  }
}

const DeviceInfo* CVexiloDlg::SelectedDevice() const {
  const int row = GetSelectedRow();
  if (row == -1) {
    return nullptr;
  }
  const auto device = shownDevices_.constFind(deviceList->GetItemText(row, kAddressColumn));
  return device != shownDevices_.constEnd() ? &*device : nullptr;
}

void CVexiloDlg::OnListRightClick() {
  const DeviceInfo* device = SelectedDevice();
  if (device == nullptr) {
    return;
  }
  const int language = GetDisplayLanguageCode();
  const QString address = DeviceText(device->ip);
  QString mac = DeviceText(device->mac0);
  if (mac.isEmpty()) {
    mac = DeviceText(device->mac1);
  }
  const QString details = DeviceDetails(language, *device, deviceList->RowGreyed(GetSelectedRow()));
  delete contextMenu_;
  contextMenu_ = new QMenu(this);
  contextMenu_->setAttribute(Qt::WA_DeleteOnClose);
  const auto caption = [](const CStandardButton* button) {
    return button->drawnText.isEmpty() ? button->accessibleName() : button->drawnText;
  };
  contextMenu_->addAction(caption(loginButton), this, [this] { OnLogIn(); });
  contextMenu_->addAction(caption(storageButton), this, [this] { OnMyStorage(); });
  contextMenu_->addSeparator();
  contextMenu_->addAction(CopyCommandText(language, CopyCommand::kAddress), this,
                          [this, address] { CopyText(address); });
  QAction* copyMac = contextMenu_->addAction(CopyCommandText(language, CopyCommand::kMacAddress),
                                             this, [this, mac] { CopyText(mac); });
  copyMac->setEnabled(!mac.isEmpty());
  contextMenu_->addAction(CopyCommandText(language, CopyCommand::kDetails), this,
                          [this, details] { CopyText(details); });
  contextMenu_->popup(deviceList->ContextMenuPoint());
}

void CVexiloDlg::OnColumnClick(int column) {
  if (!ControlsBound() || column < 0) {
    return;
  }
  // The first click sorts up, the next on the same title down, and so on.
  const Qt::SortOrder order =
      deviceList->SortColumn() == column && deviceList->SortOrder() == Qt::AscendingOrder
          ? Qt::DescendingOrder
          : Qt::AscendingOrder;
  deviceList->SortItems(column, order);
}

void CVexiloDlg::OnCopyKey() {
  if (const DeviceInfo* device = SelectedDevice()) {
    CopyText(DeviceText(device->ip));
  }
}

void CVexiloDlg::CopyText(const QString& text) {
  QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
  if (QGuiApplication::clipboard()->supportsSelection()) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
  }
}

void CVexiloDlg::OnBringToFront(const QByteArray& token) {
  // Above every other window, without staying on top.
  showNormal();
  raise();
  if (token.isEmpty()) {
    activateWindow();
    return;
  }
  if (IsWaylandPlatform()) {
    // Qt's Wayland platform takes the token for the activation request from the environment.
    qputenv("XDG_ACTIVATION_TOKEN", token);
    activateWindow();
    // Qt removes it once used; a compositor without activation leaves it unused, and it must not
    // reach the programs the window starts.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    return;
  }
  CompleteX11Startup(windowHandle(), token);
  activateWindow();
}

void CVexiloDlg::OnCancel() { reject(); }

void CVexiloDlg::OnCtrlCommand(int ctrlId, int notifyCode) {
  if (notifyCode != kButtonClicked) {
    return;
  }
  switch (ctrlId) {
    case kCloseButtonId:
      OnCancel();
      break;
    case kLogInButtonId:
      OnLogIn();
      break;
    case kRefreshButtonId:
      OnRefresh();
      break;
    case kStorageButtonId:
      OnMyStorage();
      break;
    default:
      break;
  }
}

void CVexiloDlg::OnCtrlNotify(int ctrlId, int notifyCode) {
  if (ctrlId != kDeviceListId) {
    return;
  }
  switch (notifyCode) {
    case kNotifyClick:
    // A key that moved the selection leaves Log In and My Storage as a click on that row would.
    case kNotifyItemChanged:
      OnListClick();
      break;
    case kNotifyDoubleClick:
      OnListDblClk();
      break;
    case kNotifyReturn:
      OnListReturn();
      break;
    case kNotifyRightClick:
      OnListRightClick();
      break;
    case kNotifyColumnClick:
      OnColumnClick(deviceList->ClickedColumn());
      break;
    case kNotifyCopyKey:
      OnCopyKey();
      break;
    default:
      break;
  }
}

void CVexiloDlg::SendSearch() { SearchDeviceManager::Instance().SendSearch(); }

void CVexiloDlg::OpenUrl(const QUrl& url) {
  // The launcher is given a few seconds to say that nothing opens the page; the window goes on
  // meanwhile.
  const QString location = url.toString();
  const auto work = [this, replies = replies_, location] {
    const QString failure = OpenWithPreferredApplication(location, NewStartupId());
    if (!failure.isEmpty()) {
      WriteLog("Log In: %s not opened: %s", location.toUtf8().constData(),
               failure.toUtf8().constData());
      replies->Post([this, location] { ShowOpenFailure(OpenTarget::kWebPage, location); });
    }
  };
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    ShowOpenFailure(OpenTarget::kWebPage, location);
  }
}

void CVexiloDlg::OpenStorage(const QString& address) {
  ::OpenStorage(address, [this, replies = replies_](const QString& device, bool opened) {
    if (!opened) {
      replies->Post(
          [this, device] { ShowOpenFailure(OpenTarget::kShares, ServerLocation(device)); });
    }
  });
}

std::vector<SearchOff> CVexiloDlg::SearchesOff() {
  return SearchDeviceManager::Instance().SearchesOff();
}

std::vector<std::int32_t> CVexiloDlg::ReplyPorts() {
  return SearchDeviceManager::Instance().ReplyPorts();
}

void CVexiloDlg::ShowCycleResult() {
  if (!ControlsBound()) {
    return;
  }
  // Devices that said goodbye are not counted.
  const int count = deviceList->GetItemCount() - static_cast<int>(greyedOrder_.size());
  if (deviceList->GetItemCount() > 0) {
    // Greyed rows leave no room for the hint either.
    if (noDeviceHint_ != nullptr) {
      noDeviceHint_->hide();
    }
    if (count != shownCount_ || waitText->isHidden()) {
      shownCount_ = count;
      waitText->ChangeText(DevicesFoundText(GetDisplayLanguageCode(), count));
      waitText->show();
    }
    return;
  }
  shownCount_ = -1;
  QStringList ports;
  for (const std::int32_t port : ReplyPorts()) {
    ports << QString::number(port);
  }
  if (noDeviceHint_ == nullptr) {
    noDeviceHint_ = new ViewportNote(deviceList->viewport());
  }
  noDeviceHint_->setText(NoDeviceHint(GetDisplayLanguageCode(), ports.join(QStringLiteral(", "))));
  noDeviceHint_->show();
  if (searchWarning_ != nullptr) {
    searchWarning_->raise();
  }
}

void CVexiloDlg::ShowSearchWarnings() {
  if (!ControlsBound()) {
    return;
  }
  // The privilege belongs to the port helper, never to this program.
  const QString program = QString::fromStdString(PortHelperPath());
  QStringList lines;
  for (const SearchOff& search : SearchesOff()) {
    lines << SearchOffWarning(GetDisplayLanguageCode(), search, program);
  }
  if (lines.isEmpty()) {
    if (searchWarning_ != nullptr) {
      searchWarning_->hide();
    }
    return;
  }
  if (searchWarning_ == nullptr) {
    searchWarning_ = new WarningLine(deviceList->viewport(),
                                     [this] { ShowWarningBox(this, searchWarning_->toolTip()); });
  }
  static_cast<WarningLine*>(searchWarning_)->SetLines(lines);
  searchWarning_->show();
  searchWarning_->raise();
}

void CVexiloDlg::ShowOpenFailure(OpenTarget target, const QString& location) {
  ShowWarningBox(this, OpenFailureMessage(GetDisplayLanguageCode(), target, location));
}

void CVexiloDlg::ShowInvalidAddress(const QString& address) {
  ShowWarningBox(this, InvalidAddressMessage(GetDisplayLanguageCode(), address));
}

void CVexiloDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() == searchTimer_.timerId()) {
    OnTimer(kSearchTimerId);
    return;
  }
  CLayoutDialog::timerEvent(event);
}

void CVexiloDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
    // Refresh is disabled during a cycle, and so is F5: a cycle never restarts while it runs.
    if (ControlsBound() && refreshButton->isEnabled()) {
      OnRefresh();
    }
    event->accept();
    return;
  }
  CLayoutDialog::keyPressEvent(event);
}
