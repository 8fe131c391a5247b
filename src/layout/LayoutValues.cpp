#include "layout/LayoutValues.h"

#include <algorithm>
#include <limits>

namespace {

bool IsCSpace(char16_t ch) {
  return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\v' || ch == u'\f' || ch == u'\r';
}

}  // namespace

std::int32_t ReadLayoutInt(QStringView text) {
  qsizetype index = 0;
  const qsizetype size = text.size();
  while (index < size && IsCSpace(text[index].unicode())) {
    ++index;
  }
  bool negative = false;
  if (index < size && (text[index] == u'+' || text[index] == u'-')) {
    negative = text[index] == u'-';
    ++index;
  }
  // Accumulated as a magnitude that stops growing at the limit, so no digit count overflows.
  constexpr std::int64_t kMaxMagnitude =
      static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; index < size; ++index) {
    const char16_t ch = text[index].unicode();
    if (ch < u'0' || ch > u'9') {
      break;
    }
    magnitude = std::min(magnitude * 10 + (ch - u'0'), kMaxMagnitude);
  }
  if (negative) {
    return static_cast<std::int32_t>(-magnitude);
  }
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(magnitude, std::numeric_limits<std::int32_t>::max()));
}

void ParseColor(QStringView text, std::uint32_t& colorRef) {
  if (text.isEmpty()) {
    return;
  }
  const qsizetype first = text.indexOf(u',');
  if (first < 0) {
    return;
  }
  const QStringView rest = text.mid(first + 1);
  const qsizetype second = rest.indexOf(u',');
  if (second < 0) {
    return;
  }
  const std::uint32_t red = static_cast<std::uint32_t>(ReadLayoutInt(text.left(first))) & 0xFF;
  const std::uint32_t green = static_cast<std::uint32_t>(ReadLayoutInt(rest.left(second))) & 0xFF;
  const std::uint32_t blue = static_cast<std::uint32_t>(ReadLayoutInt(rest.mid(second + 1))) & 0xFF;
  colorRef = red | green << 8 | blue << 16;
}

void ParsePoint(QStringView text, std::int32_t& x, std::int32_t& y) {
  if (text.isEmpty()) {
    return;
  }
  const qsizetype comma = text.indexOf(u',');
  if (comma < 0) {
    return;
  }
  x = ReadLayoutInt(text.left(comma));
  y = ReadLayoutInt(text.mid(comma + 1));
}

void ParseRect(QStringView text, LayoutRect& rect) {
  if (text.isEmpty()) {
    return;
  }
  qsizetype comma = text.indexOf(u',');
  if (comma < 0) {
    return;
  }
  rect.left = ReadLayoutInt(text.left(comma));
  QStringView rest = text.mid(comma + 1);
  comma = rest.indexOf(u',');
  if (comma < 0) {
    return;
  }
  rect.top = ReadLayoutInt(rest.left(comma));
  rest = rest.mid(comma + 1);
  comma = rest.indexOf(u',');
  if (comma < 0) {
    return;
  }
  const std::int32_t width = ReadLayoutInt(rest.left(comma));
  const std::int32_t height = ReadLayoutInt(rest.mid(comma + 1));
  // 32-bit wrap-around, as the sum of two saturated values has on the platform the documents
  // come from, without the undefined behaviour of a signed overflow.
  rect.right = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.left) +
                                         static_cast<std::uint32_t>(width));
  rect.bottom = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.top) +
                                          static_cast<std::uint32_t>(height));
}

std::uint32_t ParseStyle(QStringView text) {
  std::uint32_t style = 0;
  for (const StyleToken& token : kStyleTokens) {
    if (text.contains(QStringView(token.name))) {
      style |= token.value;
    }
  }
  return style;
}
