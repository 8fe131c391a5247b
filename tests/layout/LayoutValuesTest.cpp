#include "layout/LayoutValues.h"

#include <limits>

#include <gtest/gtest.h>

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(LayoutValuesTest, IntegersReadLikeWcstolInBaseTen) {
  struct Case {
    QString text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"2105", 2105},
      {"  12", 12},
      {"\t\r\n\v\f-5", -5},
      {"+7", 7},
      {"12px", 12},
      {"3,4", 3},
      {"px12", 0},
      {"", 0},
      {"-", 0},
      {"- 5", 0},
      {"0x10", 0},
      {"007", 7},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"99999999999999999999999999", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"-99999999999999999999999999", kMin},
      // Only the ASCII digits are digits; a full-width digit ends the number.
      {"1２", 1},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ReadLayoutInt(test.text), test.value) << '"' << test.text.toStdString() << '"';
  }
}

TEST(LayoutValuesTest, ColoursNeedTwoCommasAndKeepTheLowEightBits) {
  constexpr std::uint32_t kBefore = 0x00123456;
  struct Case {
    QString text;
    std::uint32_t colorRef;
  };
  const Case cases[] = {
      {"244,245,247", 0x00F7F5F4},
      {"255, 255, 255", 0x00FFFFFF},
      {" 6 ,65 , 105", 0x00694106},
      {"300,0,0", 44},
      {"-1,0,0", 0xFF},
      {"1,2,3,4", 0x00030201},
      {"a,b,c", 0},
      {",,", 0},
      // Fewer than two commas, or nothing at all, keeps the colour there was.
      {"255,255", kBefore},
      {"255", kBefore},
      {"", kBefore},
  };
  for (const Case& test : cases) {
    std::uint32_t colorRef = kBefore;
    ParseColor(test.text, colorRef);
    EXPECT_EQ(colorRef, test.colorRef) << '"' << test.text.toStdString() << '"';
  }
}

TEST(LayoutValuesTest, PointsNeedOneComma) {
  struct Case {
    QString text;
    std::int32_t x;
    std::int32_t y;
  };
  const Case cases[] = {
      {"13,2", 13, 2}, {"0, 6", 0, 6}, {",7", 0, 7}, {"1,2,3", 1, 2},
      {"5", -1, -1},   {"", -1, -1},
  };
  for (const Case& test : cases) {
    std::int32_t x = -1;
    std::int32_t y = -1;
    ParsePoint(test.text, x, y);
    EXPECT_EQ(x, test.x) << test.text.toStdString();
    EXPECT_EQ(y, test.y) << test.text.toStdString();
  }
}

TEST(LayoutValuesTest, RectanglesWriteOneMoreFieldPerComma) {
  const LayoutRect before{-1, -2, -3, -4};
  struct Case {
    QString text;
    LayoutRect rect;
  };
  const Case cases[] = {
      {"7,7,16,16", {7, 7, 23, 23}},
      {"10,50,308,141", {10, 50, 318, 191}},
      {"0, 0, 328, 245", {0, 0, 328, 245}},
      {"1,2,3,4,5", {1, 2, 4, 6}},
      // One comma writes left, two write left and top; right and bottom come only together.
      {"7,7", {7, -2, -3, -4}},
      {"7,7,", {7, 7, -3, -4}},
      {"7,7,16", {7, 7, -3, -4}},
      {"7", before},
      {"", before},
      // The sums wrap at 32 bits instead of overflowing.
      {"2147483647,0,1,0", {kMax, 0, kMin, 0}},
  };
  for (const Case& test : cases) {
    LayoutRect rect = before;
    ParseRect(test.text, rect);
    EXPECT_EQ(rect, test.rect) << test.text.toStdString();
  }
}

TEST(LayoutValuesTest, StylesAreTheOrOfEveryTokenFoundAnywhere) {
  struct Case {
    QString text;
    std::uint32_t style;
  };
  const Case cases[] = {
      {"WS_CHILD|WS_VISIBLE", 0x50000000},
      {"WS_CHILD WS_VISIBLE", 0x50000000},
      {"WS_VISIBLE|WS_CHILD", 0x50000000},
      {"WS_CHILD|WS_VISIBLE|LVS_REPORT", 0x50000001},
      {"xxWS_CHILDxx", 0x40000000},
      {"ws_child|ws_visible", 0},
      {"", 0},
      {"WS_CLIPCHILDREN|WS_VSCROLL", 0x02200000},
      {"TVS_SHOWSELALWAYS|TVS_HASBUTTONS|TVS_HASLINES|TVS_INFOTIP", 0x00000823},
      {"LVS_OWNERDRAWFIXED|LVS_EX_FULLROWSELECT", 0x00000420},
      {"CBS_DROPDOWN", 0x00000002},
      // "ES_AUTOHSCROLL" is not inside "CBS_AUTOHSCROLL" (the letters before it are "BS_"), so
      // each gives only its own bit.
      {"CBS_AUTOHSCROLL", 0x00000040},
      {"ES_AUTOHSCROLL", 0x00000080},
      {"ES_NUMBER|ES_READONLY", 0x00002800},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ParseStyle(test.text), test.style) << test.text.toStdString();
  }
  std::uint32_t all = 0;
  QString every;
  for (const StyleToken& token : kStyleTokens) {
    all |= token.value;
    every += QString::fromUtf16(token.name) + '|';
  }
  EXPECT_EQ(ParseStyle(every), all);
}

}  // namespace
