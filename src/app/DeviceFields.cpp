#include "app/DeviceFields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QHostAddress>
#include <QStringList>

namespace {

template <char (DeviceInfo::*Member)[DeviceInfo::kTextSize]>
QString TextOf(const DeviceInfo& device) {
  return DeviceText(device.*Member);
}

constexpr DeviceField kDeviceFields[] = {
    {"id", FieldKind::kText, &TextOf<&DeviceInfo::id>, 10, DeviceLabel::kDeviceId},
    {"ip", FieldKind::kAddress, &TextOf<&DeviceInfo::ip>, 2, DeviceLabel::kAddress},
    {"host", FieldKind::kText, &TextOf<&DeviceInfo::host>, 1, DeviceLabel::kHostName},
    {"product", FieldKind::kText, &TextOf<&DeviceInfo::product>, 3, DeviceLabel::kModel},
    {"extra", FieldKind::kText, &TextOf<&DeviceInfo::extra>, 4, DeviceLabel::kModelDetails},
    {"osVersion", FieldKind::kText, &TextOf<&DeviceInfo::osVersion>, 5,
     DeviceLabel::kFirmwareVersion},
    {"vendor", FieldKind::kText, &TextOf<&DeviceInfo::vendor>, 6, DeviceLabel::kVendor},
    {"ssid", FieldKind::kText, &TextOf<&DeviceInfo::ssid>, 9, DeviceLabel::kWirelessNetwork},
    {"mac0", FieldKind::kText, &TextOf<&DeviceInfo::mac0>, 7, DeviceLabel::kMacAddress},
    {"mac1", FieldKind::kText, &TextOf<&DeviceInfo::mac1>, 8, DeviceLabel::kSecondMacAddress},
    // The report's kind and lifetime describe the report, not the device: written, not shown.
    {"type", FieldKind::kNumber,
     [](const DeviceInfo& device) { return QString::number(device.type); }, 0,
     DeviceLabel::kDeviceId},
    {"timeToLive", FieldKind::kNumber,
     [](const DeviceInfo& device) { return QString::number(device.timeToLive); }, 0,
     DeviceLabel::kDeviceId},
};

}  // namespace

std::span<const DeviceField> DeviceFields() { return kDeviceFields; }

const DeviceField& DeviceFieldOf(std::string_view key) {
  for (const DeviceField& field : kDeviceFields) {
    if (key == field.key) {
      return field;
    }
  }
  // Keys are the program's own constants; an unknown one is a mistake in the program.
  std::abort();
}

QString DeviceText(const char (&field)[DeviceInfo::kTextSize]) {
  return QString::fromLocal8Bit(field,
                                static_cast<qsizetype>(strnlen(field, DeviceInfo::kTextSize)));
}

QString SortKeyOf(const DeviceField& field, const DeviceInfo& device) {
  const QString text = field.text(device);
  bool numeric = false;
  std::uint64_t number = 0;
  switch (field.kind) {
    case FieldKind::kAddress: {
      QHostAddress address;
      numeric = text.count(QLatin1Char('.')) == 3 && address.setAddress(text) &&
                address.protocol() == QAbstractSocket::IPv4Protocol;
      number = numeric ? address.toIPv4Address() : 0;
      break;
    }
    case FieldKind::kNumber: {
      const qlonglong value = text.toLongLong(&numeric);
      // Flipping the sign bit puts negative numbers before positive ones as unsigned values.
      number = static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63);
      break;
    }
    case FieldKind::kText:
      break;
  }
  if (numeric) {
    return QStringLiteral("0%1").arg(number, 16, 16, QLatin1Char('0'));
  }
  return QLatin1Char('1') + text.toCaseFolded();
}

QString DeviceDetails(int languageCode, const DeviceInfo& device, bool gone) {
  std::vector<const DeviceField*> shown;
  for (const DeviceField& field : kDeviceFields) {
    if (field.detailRank > 0) {
      shown.push_back(&field);
    }
  }
  std::sort(shown.begin(), shown.end(), [](const DeviceField* a, const DeviceField* b) {
    return a->detailRank < b->detailRank;
  });
  QStringList lines;
  for (const DeviceField* field : shown) {
    const QString value = field->text(device);
    if (!value.isEmpty()) {
      lines << DeviceLabelText(languageCode, field->label) + QStringLiteral(": ") + value;
    }
  }
  if (gone) {
    lines << DeviceGoneText(languageCode);
  }
  return lines.join(QLatin1Char('\n'));
}
