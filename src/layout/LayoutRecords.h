#pragma once

// The records of a layout document: one dialog with its look, its controls by identifier and its
// named strings. Colours are kept twice, as written and as a COLORREF (0x00BBGGRR); paths are
// absolute (the working base folder joined with the document's relative path).

#include <cstdint>
#include <map>

#include <QString>

// A rectangle as the layout stores it: right and bottom are exclusive (left + width, top + height).
struct LayoutRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  bool operator==(const LayoutRect&) const = default;
};

struct CtrlInfo {
  std::int32_t ctrlID = 0;
  QString bgPath;
  std::int32_t statusCount = 0;
  QString bgColorText;
  std::uint32_t bgColor = 0;
  QString borderColorText;
  std::uint32_t borderColor = 0;
  std::int32_t paintMode = 0;
  QString className;
  std::uint32_t style = 0;
  QString description;
  QString text;
  QString textColorText;
  std::uint32_t textColor = 0;
  std::int32_t textOffsetX = 0;
  std::int32_t textOffsetY = 0;
  QString font;
  std::int32_t fontSize = 0;
  std::int32_t posType = 0;
  LayoutRect rect;
  std::int32_t show = 0;

  bool operator==(const CtrlInfo&) const = default;
};

struct DialogInfo {
  std::int32_t dialogID = 0;
  QString bgPath;
  QString bgColorText;
  std::uint32_t bgColor = 0;
  std::int32_t paintMode = 0;
  QString text;
  QString description;
  LayoutRect rect;
  QString textColorText;
  std::uint32_t textColor = 0;
  std::int32_t textOffsetX = 0;
  std::int32_t textOffsetY = 0;
  QString font;
  std::int32_t fontSize = 0;
  // By control identifier, ascending: the order in which the control factory creates controls.
  std::map<std::int32_t, CtrlInfo> ctrls;
  // By string identifier, compared code unit by code unit, case-sensitive.
  std::map<QString, QString> strings;

  bool operator==(const DialogInfo&) const = default;
};
