#include "app/VexiloDlg.h"

#include <QDesktopServices>
#include <QTimerEvent>

#include "app/DeviceTable.h"
#include "app/SearchCommand.h"
#include "app/SkinDeployment.h"
#include "app/StorageAccess.h"
#include "controls/Buttons.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "discovery/SearchDeviceManager.h"
#include "layout/LayoutValues.h"
#include "platform/WorkingFolder.h"

namespace {

// The header of the device list is a little lower than a desktop list's default.
constexpr float kHeaderHeightScale = 0.9f;

struct DeviceColumn {
  const char16_t* headingId;
  CStandardListCtrl::ColumnAlign align;
  int width;
};
constexpr DeviceColumn kDeviceColumns[] = {
    {u"SEARCH_DEVICE_LIST_ITEM_NAME", CStandardListCtrl::ColumnAlign::Left, 96},
    {u"SEARCH_DEVICE_LIST_ITEM_IP", CStandardListCtrl::ColumnAlign::Center, 122},
    {u"SEARCH_DEVICE_LIST_ITEM_TYPE", CStandardListCtrl::ColumnAlign::Center, 93},
};
constexpr int kAddressColumn = 1;

QString PicturePath(const char* name) {
  return MakeLayoutPath(QString::fromUtf16(kPictureFolder) + QLatin1Char('\\') +
                        QLatin1String(name));
}

void SetEnabled(QWidget* widget, bool enabled) { widget->setEnabled(enabled); }

}  // namespace

CVexiloDlg::CVexiloDlg() : icon(QStringLiteral(":/icon/128")) {}

bool CVexiloDlg::OnInitDialog() {
  CLayoutDialog::OnInitDialog();
  setWindowIcon(icon);
  LoadLayoutFile(QString::fromUtf16(kLayoutFile), 201, QStringLiteral("Standard"));
  SetUiState(kUiInitialised);
  setWindowTitle(QString::fromLatin1(kProductTitle));
  InitDeviceList();
  OnRefresh();
  return true;
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
      SetEnabled(closeButton, true);
      SetEnabled(loginButton, false);
      SetEnabled(refreshButton, true);
      SetEnabled(storageButton, false);
      break;
    case kUiSearching:
      waitText->show();
      SetEnabled(loginButton, false);
      SetEnabled(refreshButton, false);
      SetEnabled(storageButton, false);
      break;
    case kUiSearchEnded:
      waitText->hide();
      SetEnabled(refreshButton, true);
      break;
    case kUiRowSelected:
      SetEnabled(loginButton, true);
      SetEnabled(storageButton, true);
      break;
    case kUiNoRowSelected:
      SetEnabled(loginButton, false);
      SetEnabled(storageButton, false);
      break;
    default:
      break;
  }
}

void CVexiloDlg::InitDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  deviceList->SetGridLines(true);
  deviceList->SetFullRowSelect(true);
  deviceList->SetHeaderImages(PicturePath("headerbackground.png"), PicturePath("headerclip.png"));
  deviceList->SetHeaderFont(GetLayoutString(QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_NAME")),
                            ReadLayoutInt(GetLayoutString(
                                QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_SIZE"))));
  deviceList->SetHeaderTextColor(
      GetLayoutString(QStringLiteral("SEARCH_DEVICE_LIST_HEADER_FONT_COLOR")));
  deviceList->GetHeaderCtrl()->heightScale = kHeaderHeightScale;
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
  deviceList->DeleteAllItems();
  DeviceTable::Instance().Clear();
  SendSearch();
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
  waitText->SetText(text, waitText->textOffsetX, waitText->textOffsetY);
  waitText->update();
}

void CVexiloDlg::FillDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  deviceList->DeleteAllItems();
  for (const DeviceInfo& device : DeviceTable::Instance().CopyAll()) {
    const int row = deviceList->InsertItem(0, QString());
    deviceList->SetItemText(row, 0, DeviceText(device.host));
    deviceList->SetItemText(row, 1, DeviceText(device.ip));
    deviceList->SetItemText(row, 2, DeviceText(device.product));
  }
}

void CVexiloDlg::UpdateDeviceList() {
  if (!ControlsBound()) {
    return;
  }
  if (deviceList->GetItemCount() == 0) {
    FillDeviceList();
    return;
  }
  for (const DeviceInfo& device : DeviceTable::Instance().CopyAll()) {
    const QString address = DeviceText(device.ip);
    bool listed = false;
    for (int row = 0; row < deviceList->GetItemCount() && !listed; ++row) {
      listed = deviceList->GetItemText(row, kAddressColumn) == address;
    }
    if (listed) {
      continue;
    }
    const int row = deviceList->InsertItem(0, QString());
    deviceList->SetItemText(row, 0, DeviceText(device.host));
    deviceList->SetItemText(row, 1, address);
    deviceList->SetItemText(row, 2, DeviceText(device.product));
  }
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

void CVexiloDlg::OnLogIn() {
  const int row = GetSelectedRow();
  if (row == -1) {
    return;
  }
  OpenUrl(QUrl(QStringLiteral("http://") + deviceList->GetItemText(row, kAddressColumn)));
}

void CVexiloDlg::OnMyStorage() {
  const int row = GetSelectedRow();
  if (row == -1) {
    return;
  }
  OpenStorage(deviceList->GetItemText(row, kAddressColumn));
}

void CVexiloDlg::OnBringToFront() {
  // Above every other window, without staying on top.
  showNormal();
  raise();
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
  if (notifyCode == kNotifyClick) {
    OnListClick();
  } else if (notifyCode == kNotifyDoubleClick) {
    OnListDblClk();
  }
}

void CVexiloDlg::SendSearch() { SearchDeviceManager::Instance().SendSearch(); }

void CVexiloDlg::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

void CVexiloDlg::OpenStorage(const QString& address) { ::OpenStorage(address); }

void CVexiloDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() == searchTimer_.timerId()) {
    OnTimer(kSearchTimerId);
    return;
  }
  CLayoutDialog::timerEvent(event);
}
