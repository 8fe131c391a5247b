#include "WindowLooks.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include <gtest/gtest.h>

#include <QString>

namespace e2e {
namespace {

constexpr int kCellWidth = 79;
constexpr int kCellHeight = 23;
// Mean difference per colour channel above which a button matches no cell.
constexpr double kMaximumDistance = 24.0;

double Distance(const QImage& cell, const QImage& button) {
  if (button.width() != kCellWidth || button.height() != kCellHeight) {
    return kMaximumDistance;
  }
  double sum = 0;
  int count = 0;
  for (int y = 0; y < kCellHeight; ++y) {
    if (y > 4 && y < 21) {
      continue;  // the caption's band
    }
    for (int x = 0; x < kCellWidth; ++x) {
      const QRgb expected = cell.pixel(x, y);
      if (qAlpha(expected) != 255) {
        continue;
      }
      const QRgb actual = button.pixel(x, y);
      sum += std::abs(qRed(expected) - qRed(actual)) + std::abs(qGreen(expected) - qGreen(actual)) +
             std::abs(qBlue(expected) - qBlue(actual));
      count += 3;
    }
  }
  return count == 0 ? kMaximumDistance : sum / count;
}

}  // namespace

const char* LookName(ButtonLook look) {
  switch (look) {
    case ButtonLook::kNormal:
      return "normal";
    case ButtonLook::kHover:
      return "hover";
    case ButtonLook::kPressed:
      return "pressed";
    case ButtonLook::kDisabled:
      return "disabled";
    default:
      return "unknown";
  }
}

void PrintTo(ButtonLook look, std::ostream* stream) { *stream << LookName(look); }

bool Enabled(ButtonLook look) {
  return look != ButtonLook::kDisabled && look != ButtonLook::kUnknown;
}

ButtonCells::ButtonCells() {
  const QString path = QStringLiteral(TARVELO_BUTTON_IMAGE);
  const QImage strip = QImage(path).convertToFormat(QImage::Format_ARGB32);
  if (strip.width() != 4 * kCellWidth || strip.height() != kCellHeight) {
    throw std::runtime_error("unexpected button image " + path.toStdString());
  }
  for (int cell = 0; cell < 4; ++cell) {
    cells_[static_cast<std::size_t>(cell)] =
        strip.copy(cell * kCellWidth, 0, kCellWidth, kCellHeight);
  }
}

ButtonLook ButtonCells::Classify(const QImage& button) const {
  double best = kMaximumDistance;
  ButtonLook look = ButtonLook::kUnknown;
  for (std::size_t cell = 0; cell < cells_.size(); ++cell) {
    const double distance = Distance(cells_[cell], button);
    if (distance < best) {
      best = distance;
      look = static_cast<ButtonLook>(cell);
    }
  }
  return look;
}

bool IsDark(QRgb pixel) { return qGray(pixel) < 140; }

int CountRows(const QImage& rows) {
  int bands = 0;
  int emptyRun = 2;
  for (int y = 0; y < rows.height(); ++y) {
    bool dark = false;
    for (int x = 0; x < rows.width() && !dark; ++x) {
      dark = IsDark(rows.pixel(x, y));
    }
    if (dark) {
      if (emptyRun >= 2) {
        ++bands;
      }
      emptyRun = 0;
    } else {
      ++emptyRun;
    }
  }
  return bands;
}

int CountDarkPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      count += IsDark(image.pixel(x, y)) ? 1 : 0;
    }
  }
  return count;
}

std::string ArtefactPath(const std::string& name) {
  std::filesystem::create_directories(TARVELO_E2E_ARTEFACTS);
  return std::string(TARVELO_E2E_ARTEFACTS) + "/" + name;
}

const char* RowLookName(RowLook look) {
  switch (look) {
    case RowLook::kNormal:
      return "normal";
    case RowLook::kGone:
      return "gone";
    default:
      return "unknown";
  }
}

void PrintTo(RowLook look, std::ostream* stream) { *stream << RowLookName(look); }

std::vector<ListRow> ReadListRows(const QImage& list) {
  // Text: anything darker than the grid lines (212 grey) and the anti-aliased fringes of glyphs.
  const auto isText = [](QRgb pixel) { return qGray(pixel) < 180; };
  const auto isRowColour = [](QRgb pixel) {
    return IsDark(pixel) && qBlue(pixel) > qRed(pixel) + 40;
  };
  // The grey of a gone row: neutral, and about as dark as its solid glyph stems.
  const auto isGoneGrey = [](QRgb pixel) {
    const int low = std::min({qRed(pixel), qGreen(pixel), qBlue(pixel)});
    const int high = std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)});
    return high - low <= 6 && std::abs(qGray(pixel) - qGray(kGoneRowColour)) <= 12;
  };
  struct Band {
    ListRow row;
    int rowColour = 0;
    int grey = 0;
  };
  std::vector<Band> bands;
  int emptyRun = 2;
  for (int y = 0; y < list.height(); ++y) {
    int text = 0;
    int rowColour = 0;
    int grey = 0;
    for (int x = 0; x < list.width(); ++x) {
      const QRgb pixel = list.pixel(x, y);
      if (isText(pixel)) {
        ++text;
        rowColour += isRowColour(pixel) ? 1 : 0;
        grey += isGoneGrey(pixel) ? 1 : 0;
      }
    }
    if (text == 0) {
      ++emptyRun;
      continue;
    }
    if (emptyRun >= 2) {
      bands.push_back(Band{ListRow{y, y, RowLook::kUnknown}});
    }
    emptyRun = 0;
    Band& band = bands.back();
    band.row.bottom = y;
    band.rowColour += rowColour;
    band.grey += grey;
  }
  std::vector<ListRow> rows;
  for (Band& band : bands) {
    band.row.look = band.rowColour > 0 ? RowLook::kNormal
                    : band.grey >= 5   ? RowLook::kGone
                                       : RowLook::kUnknown;
    rows.push_back(band.row);
  }
  return rows;
}

std::vector<RowLook> RowLooks(const std::vector<ListRow>& rows) {
  std::vector<RowLook> looks;
  for (const ListRow& row : rows) {
    looks.push_back(row.look);
  }
  return looks;
}

int CountNear(const QImage& image, QRgb colour, int tolerance) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      count += std::abs(qRed(pixel) - qRed(colour)) <= tolerance &&
                       std::abs(qGreen(pixel) - qGreen(colour)) <= tolerance &&
                       std::abs(qBlue(pixel) - qBlue(colour)) <= tolerance
                   ? 1
                   : 0;
    }
  }
  return count;
}

void SaveArtefact(const QImage& image, const std::string& name) {
  const std::string path = ArtefactPath(name);
  if (image.save(QString::fromStdString(path), "PNG")) {
    std::cout << "[ artefact ] " << path << std::endl;
  } else {
    ADD_FAILURE() << "cannot save " << path;
  }
}

void SaveDocumentScreenshot(const QImage& image, const std::string& name) {
  SaveArtefact(image, name);
  const char* folder = std::getenv("TARVELO_SCREENSHOT_DIR");
  if (folder == nullptr || *folder == '\0') {
    return;
  }
  const std::string path = std::string(folder) + "/" + name;
  if (image.save(QString::fromStdString(path), "PNG")) {
    std::cout << "[ picture  ] " << path << std::endl;
  } else {
    ADD_FAILURE() << "cannot save " << path;
  }
}

}  // namespace e2e
