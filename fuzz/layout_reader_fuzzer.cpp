// Fuzzes the layout reader with whole documents and the value parsers with the same bytes read as
// text. The integer reader is checked against the C library's wcstol on ASCII text.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include <QByteArray>
#include <QString>

#include "FuzzCheck.h"
#include "layout/LayoutReader.h"
#include "layout/LayoutValues.h"

namespace {

using fuzzcheck::Require;

void CheckDocument(const QByteArray& document) {
  DialogInfo record;
  LayoutReadReport report;
  const bool read = ReadLayoutDocument(document, 201, QStringLiteral("Standard"),
                                       QStringLiteral("/base"), record, &report);
  Require(read == report.error.isEmpty(), "false exactly when an attribute is missing");
  for (const auto& [id, ctrl] : record.ctrls) {
    Require(id == ctrl.ctrlID, "a control filed under another identifier");
    Require(ctrl.bgColor <= 0xFFFFFF && ctrl.borderColor <= 0xFFFFFF && ctrl.textColor <= 0xFFFFFF,
            "a colour with more than 24 bits");
    Require(ctrl.bgPath.isEmpty() || ctrl.bgPath.startsWith(QLatin1String("/base")),
            "an image path outside the base folder's prefix");
  }
  Require(record.ctrls.empty() || record.dialogID == 201, "controls of another dialog");

  // The same bytes give the same record every time.
  DialogInfo again;
  Require(ReadLayoutDocument(document, 201, QStringLiteral("Standard"), QStringLiteral("/base"),
                             again) == read && again == record,
          "two reads of one document differ");
}

void CheckValues(const QString& text) {
  std::uint32_t colorRef = 0xFFFFFFFF;
  ParseColor(text, colorRef);
  Require(colorRef == 0xFFFFFFFF || colorRef <= 0xFFFFFF, "a parsed colour with more than 24 bits");

  LayoutRect rect{1, 2, 3, 4};
  ParseRect(text, rect);
  std::int32_t x = 5;
  std::int32_t y = 6;
  ParsePoint(text, x, y);
  Require(text.contains(QLatin1Char(',')) || (x == 5 && y == 6), "a point without a comma");

  std::uint32_t known = 0;
  for (const StyleToken& token : kStyleTokens) {
    known |= token.value;
  }
  Require((ParseStyle(text) & ~known) == 0, "a style bit no token has");

  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](QChar ch) { return ch.unicode() > 0 && ch.unicode() < 0x80; });
  if (ascii) {
    const std::wstring wide = text.toStdWString();
    const long expected = std::wcstol(wide.c_str(), nullptr, 10);
    const long clamped = std::clamp<long>(expected, INT32_MIN, INT32_MAX);
    Require(ReadLayoutInt(text) == clamped, "the integer differs from wcstol's");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  CheckDocument(bytes);
  if (size <= 256) {
    CheckValues(QString::fromUtf8(bytes));
  }
  return 0;
}
