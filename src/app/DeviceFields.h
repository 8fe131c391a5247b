#pragma once

// The fields of a device record as the program shows and writes them. One table, in record
// order, drives the window's columns and details, the headless table and the JSON writer: a new
// field is one line of the table, a new column one line of the list that names it.

#include <cstdint>
#include <span>
#include <string_view>

#include <QString>

#include "app/Messages.h"
#include "discovery/DeviceInfo.h"

enum class FieldKind {
  kText,     // text as received; sorted without regard to case
  kAddress,  // an IPv4 address in dotted text; sorted by its number
  kNumber,   // a number; written to JSON as a number and sorted by value
};

struct DeviceField {
  const char* key;  // the JSON key, and the name by which columns refer to the field
  FieldKind kind;
  QString (*text)(const DeviceInfo& device);
  // Where the field stands in the window's details (1 first); 0 for a field that is not shown.
  int detailRank;
  DeviceLabel label;  // its name in the details (only for a shown field)
};

// Every field, in record order.
std::span<const DeviceField> DeviceFields();
// The field named KEY; KEY must be one of the table's (a fault of the program otherwise).
const DeviceField& DeviceFieldOf(std::string_view key);

// A text field of a record as the window shows it: the bytes up to the first NUL (at most 32)
// read as local 8-bit text.
QString DeviceText(const char (&field)[DeviceInfo::kTextSize]);

// The text by which a field of DEVICE sorts, for a plain comparison of texts: addresses and
// numbers by value, before any text that is not one (an address that is not dotted IPv4 text);
// text without regard to case.
QString SortKeyOf(const DeviceField& field, const DeviceInfo& device);

// The details of DEVICE as lines "Label: value", in detail order, leaving out fields without a
// value; with GONE a last line that says it has left the network.
QString DeviceDetails(int languageCode, const DeviceInfo& device, bool gone = false);
