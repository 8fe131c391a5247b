#pragma once

// The value syntaxes of layout attributes. Every reader takes the attribute's text as it stands.
// The colour, point and rectangle readers write only what the text fully provides and leave the
// rest of the target as it was, so an unreadable value keeps the previous one.

#include <cstdint>

#include <QStringView>

#include "layout/LayoutRecords.h"

// A decimal integer read the way the C library's wcstol reads one with base 10: leading white
// space skipped, an optional sign, then digits up to the first other character (trailing letters
// are ignored, "12px" is 12); no digits give 0; values beyond the 32-bit range saturate at
// INT32_MIN or INT32_MAX.
std::int32_t ReadLayoutInt(QStringView text);

// "R,G,B": R before the first comma, G between the first and the second, B the whole rest; each
// cut to its low 8 bits and stored as the COLORREF R | G << 8 | B << 16. Nothing is stored unless
// the text is non-empty and has two commas.
void ParseColor(QStringView text, std::uint32_t& colorRef);

// "X,Y": X before the first comma, Y the whole rest. Nothing is stored without a comma.
void ParsePoint(QStringView text, std::int32_t& x, std::int32_t& y);

// "X,Y,W,H", stored as left X, top Y, right X + W, bottom Y + H. Each comma found lets one more
// field be written: one comma writes left, two write left and top, three write all four.
void ParseRect(QStringView text, LayoutRect& rect);

struct StyleToken {
  const char16_t* name;
  std::uint32_t value;
};

// The style tokens in the order in which ParseStyle looks for them.
inline constexpr StyleToken kStyleTokens[] = {
    {u"WS_CHILD", 0x40000000},          {u"WS_VISIBLE", 0x10000000},
    {u"WS_CLIPCHILDREN", 0x02000000},   {u"WS_VSCROLL", 0x00200000},
    {u"TVS_SHOWSELALWAYS", 0x00000020}, {u"TVS_HASBUTTONS", 0x00000001},
    {u"TVS_HASLINES", 0x00000002},      {u"TVS_INFOTIP", 0x00000800},
    {u"LVS_OWNERDRAWFIXED", 0x00000400}, {u"LVS_EX_FULLROWSELECT", 0x00000020},
    {u"LVS_REPORT", 0x00000001},        {u"CBS_DROPDOWN", 0x00000002},
    {u"CBS_AUTOHSCROLL", 0x00000040},   {u"ES_AUTOHSCROLL", 0x00000080},
    {u"ES_NUMBER", 0x00002000},         {u"ES_READONLY", 0x00000800},
};

// The OR of the values of every token that occurs anywhere in the text (case-sensitive). The text
// is not split: separators and unknown words have no effect, and a token inside another token
// counts as well.
std::uint32_t ParseStyle(QStringView text);
