#pragma once

// What the window and the command line tell the user, in every language of the layouts. A
// language code (1 English, 2 Simplified Chinese, ..., 14 Danish; see GetDisplayLanguageCode)
// chooses the text; an unknown code gives English.

#include <QString>

struct SearchOff;

// When nothing could open LOCATION: a web page (Log In) or a device's shares (My Storage).
enum class OpenTarget { kWebPage, kShares };
QString OpenFailureMessage(int languageCode, OpenTarget target, const QString& location);
// When the selected device's ADDRESS is not an IPv4 address, so that nothing was opened.
QString InvalidAddressMessage(int languageCode, const QString& address);

// One line naming a search that does not run, and what to do about it: grant PROGRAM the
// capability to use a privileged port, or stop the other program that holds the port.
QString SearchOffWarning(int languageCode, const SearchOff& search, const QString& program);

// After a search cycle: how many devices were found (COUNT > 0).
QString DevicesFoundText(int languageCode, int count);
// After a search cycle that found nothing: what to check, naming the UDP PORTS replies come in on.
QString NoDeviceHint(int languageCode, const QString& ports);

// The name of a device detail, as the window's details label it.
enum class DeviceLabel {
  kHostName,
  kAddress,
  kModel,
  kModelDetails,
  kFirmwareVersion,
  kVendor,
  kMacAddress,
  kSecondMacAddress,
  kWirelessNetwork,
  kDeviceId,
};
QString DeviceLabelText(int languageCode, DeviceLabel label);
// The line that tells, in a device's details, that it has said goodbye.
QString DeviceGoneText(int languageCode);

// The commands of the device list's menu that copy a device's details.
enum class CopyCommand { kAddress, kMacAddress, kDetails };
QString CopyCommandText(int languageCode, CopyCommand command);

// A start that cannot use FOLDER for its single-instance lock, for REASON (the system's words).
QString RuntimeFolderFailureMessage(int languageCode, const QString& folder, const QString& reason);
