// The skin images stored in res/skin: that they are exactly what the generator draws, that each
// file has the size and encoding the program expects, and that the drawing keeps the promises the
// dialog relies on (the window-shape key colour, state cells that differ, readable captions, a
// status brush that blends into the background, a header that survives stretching), and that
// every image but the window shape has a twin of twice its size that keeps its design. The
// application icon set in res/icons/hicolor is held to the generator the same way.

#include "SkinArt.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace skinart {
namespace {

enum class Encoding { PngRgb, PngRgba, Bmp24 };

struct SkinFile {
  const char* name;
  int width;
  int height;
  Encoding encoding;
};

constexpr SkinFile kSkinFiles[] = {
    {"SearchDevice_BlackGround.png", 328, 245, Encoding::PngRgb},
    {"SearchDevice_BlackGround.bmp", 328, 245, Encoding::Bmp24},
    {"Brush.png", 224, 14, Encoding::PngRgb},
    {"logo.png", 16, 16, Encoding::PngRgba},
    {"headerbackground.png", 249, 17, Encoding::PngRgb},
    {"headerclip.png", 1, 12, Encoding::PngRgb},
    {"close.png", 44, 11, Encoding::PngRgba},
    {"ButtonMax.png", 316, 23, Encoding::PngRgba},
    {"SearchDevice_BlackGround@2x.png", 656, 490, Encoding::PngRgb},
    {"Brush@2x.png", 448, 28, Encoding::PngRgb},
    {"logo@2x.png", 32, 32, Encoding::PngRgba},
    {"headerbackground@2x.png", 498, 34, Encoding::PngRgb},
    {"headerclip@2x.png", 2, 24, Encoding::PngRgb},
    {"close@2x.png", 88, 22, Encoding::PngRgba},
    {"ButtonMax@2x.png", 632, 46, Encoding::PngRgba},
};

// The drawn image of `name` at a scale: the image itself at 1, its twin at 2.
QString Scaled(const char* name, int scale) {
  const QString fileName = QString::fromLatin1(name);
  return scale == 1 ? fileName : HighDensityName(fileName);
}

const QRgb kKeyColour = qRgb(210, 10, 10);
constexpr int kCornerCut[] = {5, 3, 2, 1};

QString StoredPath(const char* name) {
  return QStringLiteral(TARVELO_SOURCE_DIR "/res/skin/") + QString::fromLatin1(name);
}

QByteArray ReadStored(const char* name) {
  QFile file(StoredPath(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::uint32_t BigEndian32(const QByteArray& bytes, int at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  }
  return value;
}

std::int64_t LittleEndian(const QByteArray& bytes, int at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  }
  return size == 4 ? static_cast<std::int32_t>(value) : static_cast<std::int64_t>(value);
}

std::map<QString, QImage> DrawnByName() {
  std::map<QString, QImage> drawn;
  for (const SkinImage& image : DrawSkinImages()) {
    drawn[image.fileName] = image.image;
  }
  return drawn;
}

// WCAG relative luminance, to judge whether near-white captions stay readable.
double Luminance(QRgb colour) {
  const auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) +
         0.0722 * linear(qBlue(colour));
}

// Mean difference per channel between two equally sized parts of a strip, counting colour in
// proportion to its opacity, so that a change of either colour or shape counts.
double CellDifference(const QImage& strip, int cellWidth, int first, int second) {
  double sum = 0;
  for (int y = 0; y < strip.height(); ++y) {
    for (int x = 0; x < cellWidth; ++x) {
      const QRgb a = strip.pixel(first * cellWidth + x, y);
      const QRgb b = strip.pixel(second * cellWidth + x, y);
      sum += std::abs(qRed(a) * qAlpha(a) - qRed(b) * qAlpha(b)) / 255.0 +
             std::abs(qGreen(a) * qAlpha(a) - qGreen(b) * qAlpha(b)) / 255.0 +
             std::abs(qBlue(a) * qAlpha(a) - qBlue(b) * qAlpha(b)) / 255.0 +
             std::abs(qAlpha(a) - qAlpha(b));
    }
  }
  return sum / (4.0 * cellWidth * strip.height());
}

TEST(SkinArt, StoredFilesHaveTheSizeAndEncodingTheProgramReads) {
  for (const SkinFile& skin : kSkinFiles) {
    SCOPED_TRACE(skin.name);
    const QByteArray bytes = ReadStored(skin.name);
    ASSERT_GE(bytes.size(), 54) << "missing or truncated";
    if (skin.encoding == Encoding::Bmp24) {
      // File header, then a BITMAPINFOHEADER: 24 bits per pixel, no compression, and enough
      // pixel data for rows padded to four bytes.
      EXPECT_EQ(bytes.left(2), QByteArray("BM"));
      EXPECT_EQ(LittleEndian(bytes, 2, 4), bytes.size());
      EXPECT_EQ(LittleEndian(bytes, 14, 4), 40);
      EXPECT_EQ(LittleEndian(bytes, 18, 4), skin.width);
      EXPECT_EQ(std::abs(LittleEndian(bytes, 22, 4)), skin.height);
      EXPECT_EQ(LittleEndian(bytes, 26, 2), 1);
      EXPECT_EQ(LittleEndian(bytes, 28, 2), 24);
      EXPECT_EQ(LittleEndian(bytes, 30, 4), 0);
      const std::int64_t stride = (skin.width * 3 + 3) / 4 * 4;
      EXPECT_GE(bytes.size(), LittleEndian(bytes, 10, 4) + stride * skin.height);
    } else {
      // Signature, then IHDR first: width, height, bit depth, colour type (2 RGB, 6 RGBA).
      EXPECT_EQ(bytes.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
      EXPECT_EQ(bytes.mid(12, 4), QByteArray("IHDR"));
      EXPECT_EQ(BigEndian32(bytes, 16), static_cast<std::uint32_t>(skin.width));
      EXPECT_EQ(BigEndian32(bytes, 20), static_cast<std::uint32_t>(skin.height));
      EXPECT_EQ(static_cast<int>(bytes[24]), 8);
      EXPECT_EQ(static_cast<int>(bytes[25]), skin.encoding == Encoding::PngRgba ? 6 : 2);
    }
  }
}

TEST(SkinArt, StoredFilesHoldExactlyWhatTheGeneratorDraws) {
  const std::map<QString, QImage> drawn = DrawnByName();
  const std::map<QString, QImage> drawnAgain = DrawnByName();
  ASSERT_EQ(drawn.size(), std::size(kSkinFiles));
  for (const SkinFile& skin : kSkinFiles) {
    SCOPED_TRACE(skin.name);
    ASSERT_EQ(drawn.count(skin.name), 1u) << "the generator does not draw this file";
    const QImage& image = drawn.at(skin.name);
    // The image format decides how the file is written, so it must match the encoding.
    EXPECT_EQ(image.format(),
              skin.encoding == Encoding::PngRgba ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    EXPECT_EQ(image, drawnAgain.at(skin.name)) << "drawing is not repeatable";

    const QImage stored = QImage(StoredPath(skin.name)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(stored.isNull()) << "cannot decode the stored file";
    ASSERT_EQ(stored.size(), image.size());
    const QImage expected = image.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    QString first;
    for (int y = 0; y < stored.height(); ++y) {
      for (int x = 0; x < stored.width(); ++x) {
        if (stored.pixel(x, y) != expected.pixel(x, y) && differing++ == 0) {
          first = QStringLiteral("(%1,%2): stored %3, drawn %4")
                      .arg(x)
                      .arg(y)
                      .arg(stored.pixel(x, y), 8, 16, QChar('0'))
                      .arg(expected.pixel(x, y), 8, 16, QChar('0'));
        }
      }
    }
    EXPECT_EQ(differing, 0) << "first at " << first.toStdString()
                            << "; redraw with tarvelo-skin-art res/skin";
  }
}

TEST(SkinArt, ShapeBitmapHasTheKeyColourOnlyInTheCutCorners) {
  const QImage bitmap = QImage(StoredPath("SearchDevice_BlackGround.bmp"));
  const QImage background = QImage(StoredPath("SearchDevice_BlackGround.png"));
  ASSERT_EQ(bitmap.size(), QSize(328, 245));
  ASSERT_EQ(background.size(), QSize(328, 245));
  int wrong = 0;
  for (int y = 0; y < bitmap.height(); ++y) {
    for (int x = 0; x < bitmap.width(); ++x) {
      const bool cut = y < 4 && (x < kCornerCut[y] || x >= bitmap.width() - kCornerCut[y]);
      const QRgb pixel = bitmap.pixel(x, y) | 0xFF000000;
      if (cut != (pixel == kKeyColour)) {
        ADD_FAILURE() << "pixel (" << x << "," << y << ") " << (cut ? "lacks" : "has")
                      << " the key colour";
        if (++wrong == 10) {
          return;
        }
      } else if (!cut) {
        // Everywhere else the bitmap is the dialog background itself.
        EXPECT_EQ(pixel, background.pixel(x, y) | 0xFF000000) << x << "," << y;
      }
    }
  }
}

TEST(SkinArt, StateCellsDifferAndKeepCaptionsReadable) {
  const std::map<QString, QImage> drawn = DrawnByName();
  struct Strip {
    const char* name;
    int cellWidth;
  };
  for (const int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    for (const Strip& strip : {Strip{"close.png", 11}, Strip{"ButtonMax.png", 79}}) {
      SCOPED_TRACE(strip.name);
      const QImage& image = drawn.at(Scaled(strip.name, scale));
      for (int first = 0; first < 4; ++first) {
        for (int second = first + 1; second < 4; ++second) {
          EXPECT_GT(CellDifference(image, strip.cellWidth * scale, first, second), 6.0)
              << "cells " << first << " and " << second << " look alike";
        }
      }
    }

    // Each button cell: see-through rounded corners, opaque where the caption goes, and dark
    // enough there for the near-white caption, the disabled cell included.
    const QImage& buttons = drawn.at(Scaled("ButtonMax.png", scale));
    const double caption = Luminance(qRgb(244, 245, 247));
    const int width = 79 * scale;
    const int height = 23 * scale;
    for (int cell = 0; cell < 4; ++cell) {
      SCOPED_TRACE(cell);
      const int left = cell * width;
      for (const auto& [x, y] : {std::pair{0, 0}, std::pair{width - 1, 0}, std::pair{0, height - 1},
                                 std::pair{width - 1, height - 1}}) {
        EXPECT_LT(qAlpha(buttons.pixel(left + x, y)), 128) << "corner " << x << "," << y;
      }
      for (int y = 7 * scale; y < 19 * scale; ++y) {
        const QRgb under = buttons.pixel(left + width / 2, y);
        EXPECT_EQ(qAlpha(under), 255);
        EXPECT_GE((caption + 0.05) / (Luminance(under) + 0.05), 3.5) << "row " << y;
      }
    }
  }
}

TEST(SkinArt, StatusBrushFadesIntoTheBackgroundBehindIt) {
  const std::map<QString, QImage> drawn = DrawnByName();
  for (const int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    const QImage& brush = drawn.at(Scaled("Brush.png", scale));
    const QImage& background = drawn.at(Scaled("SearchDevice_BlackGround.png", scale));
    // The brush sits at (10, 194); its last logical column must be the background there, so
    // that the status text running past it shows no seam, while its body is visibly darker.
    for (int y = 0; y < brush.height(); ++y) {
      for (int x = brush.width() - scale; x < brush.width(); ++x) {
        SCOPED_TRACE(QStringLiteral("%1,%2").arg(x).arg(y).toStdString());
        const QRgb end = brush.pixel(x, y);
        const QRgb under = background.pixel(10 * scale + x, 194 * scale + y);
        EXPECT_LE(std::abs(qRed(end) - qRed(under)) + std::abs(qGreen(end) - qGreen(under)) +
                      std::abs(qBlue(end) - qBlue(under)),
                  1);
      }
    }
    for (int y = 2 * scale; y < brush.height() - 2 * scale; ++y) {
      EXPECT_LT(Luminance(brush.pixel(60 * scale, y)),
                Luminance(background.pixel(70 * scale, 194 * scale + y)))
          << y;
    }
  }
}

TEST(SkinArt, HeaderBackgroundIsAVerticalGradientThatSurvivesStretching) {
  const std::map<QString, QImage> drawn = DrawnByName();
  for (const int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    const QImage& header = drawn.at(Scaled("headerbackground.png", scale));
    for (int y = 0; y < header.height(); ++y) {
      for (int x = 1; x < header.width(); ++x) {
        ASSERT_EQ(header.pixel(x, y), header.pixel(0, y)) << "row " << y << " is not uniform";
      }
    }
    // Below the lighter top edge (one logical row), each row is a little darker than the one
    // above, the unshown bottom rows included, so that any stretch reads as one smooth
    // gradient.
    for (int y = scale + 1; y < header.height(); ++y) {
      EXPECT_LT(Luminance(header.pixel(0, y)), Luminance(header.pixel(0, y - 1))) << "row " << y;
    }
  }
}

// The twins show the same design as their originals, drawn for their size: every 2 x 2 block of
// a twin averages to about the original's pixel (light, colour and opacity in the same places:
// the same cells, the same layout), yet the twin is not the original with doubled pixels.
TEST(SkinArt, TwinsOfTwiceTheSizeKeepTheDesignWithFinerPixels) {
  const std::map<QString, QImage> drawn = DrawnByName();
  for (const SkinFile& skin : kSkinFiles) {
    const QString name = QString::fromLatin1(skin.name);
    if (name.contains(QLatin1Char('@'))) {
      continue;
    }
    SCOPED_TRACE(skin.name);
    const QString twinName = HighDensityName(name);
    if (name.endsWith(QLatin1String(".bmp"))) {
      // The window shape is a region of logical pixels: one bitmap serves every scale.
      EXPECT_EQ(drawn.count(twinName), 0u);
      continue;
    }
    ASSERT_EQ(drawn.count(twinName), 1u) << "no twin";
    const QImage& original = drawn.at(name);
    const QImage& twin = drawn.at(twinName);
    ASSERT_EQ(twin.size(), original.size() * 2);
    EXPECT_EQ(twin.format(), original.format());

    double difference = 0;
    double worst = 0;
    int splitBlocks = 0;
    for (int y = 0; y < original.height(); ++y) {
      for (int x = 0; x < original.width(); ++x) {
        const QRgb block[] = {twin.pixel(2 * x, 2 * y), twin.pixel(2 * x + 1, 2 * y),
                              twin.pixel(2 * x, 2 * y + 1), twin.pixel(2 * x + 1, 2 * y + 1)};
        double mean[4] = {0, 0, 0, 0};
        for (const QRgb pixel : block) {
          // Premultiplied, so that the colour of an all but transparent pixel does not count.
          mean[0] += qRed(pixel) * qAlpha(pixel) / 255.0 / 4;
          mean[1] += qGreen(pixel) * qAlpha(pixel) / 255.0 / 4;
          mean[2] += qBlue(pixel) * qAlpha(pixel) / 255.0 / 4;
          mean[3] += qAlpha(pixel) / 4.0;
          splitBlocks += pixel != block[0] ? 1 : 0;
        }
        const QRgb pixel = original.pixel(x, y);
        const double expected[4] = {
            qRed(pixel) * qAlpha(pixel) / 255.0, qGreen(pixel) * qAlpha(pixel) / 255.0,
            qBlue(pixel) * qAlpha(pixel) / 255.0, static_cast<double>(qAlpha(pixel))};
        for (int channel = 0; channel < 4; ++channel) {
          const double error = std::abs(mean[channel] - expected[channel]);
          difference += error;
          worst = std::max(worst, error);
        }
      }
    }
    difference /= 4.0 * original.width() * original.height();
    // Anti-aliased edges cover their pixels a little differently at each size; a shifted or
    // redesigned part would be far off.
    EXPECT_LT(difference, 1.5) << "mean difference per channel";
    EXPECT_LT(worst, 48) << "largest difference of one block";
    EXPECT_GT(splitBlocks, 0) << "the twin is the original with doubled pixels";
  }
}

QString StoredIconPath(int size) {
  return QStringLiteral(TARVELO_SOURCE_DIR "/res/icons/hicolor/") + AppIconFileName(size);
}

// Every size desktops may ask for is stored where the hicolor theme has it, has exactly that many
// pixels, is see-through around its rounded tile, and is what the generator draws.
TEST(AppIcon, StoredIconsAreDrawnAtEverySize) {
  for (const int size : kAppIconSizes) {
    SCOPED_TRACE(size);
    const QImage stored(StoredIconPath(size));
    ASSERT_FALSE(stored.isNull()) << "missing or not an image: "
                                  << StoredIconPath(size).toStdString();
    EXPECT_EQ(stored.size(), QSize(size, size));
    EXPECT_TRUE(stored.hasAlphaChannel());
    const QImage drawn = DrawAppIcon(size);
    ASSERT_EQ(drawn.size(), QSize(size, size));
    EXPECT_EQ(stored.convertToFormat(QImage::Format_ARGB32), drawn)
        << "redraw with tarvelo-skin-art --icons res/icons/hicolor";
    EXPECT_LT(qAlpha(drawn.pixel(0, 0)), 128);
    EXPECT_LT(qAlpha(drawn.pixel(size - 1, size - 1)), 128);
    EXPECT_EQ(qAlpha(drawn.pixel(size / 2, size / 2)), 255);
  }
}

// The two drives must stay two at the smallest sizes: down a column through their left part,
// the light rows form exactly two runs, each a few pixels high, with a darker row between them.
TEST(AppIcon, TwoDrivesStayApartAtEverySize) {
  for (const int size : kAppIconSizes) {
    SCOPED_TRACE(size);
    const QImage icon = DrawAppIcon(size);
    const int x = static_cast<int>(std::lround(size * 0.22));
    std::vector<int> runs;
    bool inRun = false;
    double darkestBetween = 1;
    for (int y = 0; y < size; ++y) {
      const double light = Luminance(icon.pixel(x, y));
      const bool bright = light > 0.7;
      if (bright && !inRun) {
        runs.push_back(0);
      }
      if (bright) {
        ++runs.back();
      } else if (runs.size() == 1) {
        darkestBetween = std::min(darkestBetween, light);
      }
      inRun = bright;
    }
    ASSERT_EQ(runs.size(), 2u);
    for (const int run : runs) {
      EXPECT_GE(run, std::max(2, size / 8));
    }
    EXPECT_LT(darkestBetween, 0.45) << "the gap between the drives blurs away";
  }
}

// The scalable icon is the generator's SVG: well-formed, on the design's 16 units, every shape a
// rounded rectangle, and every painted reference to a gradient the document defines.
TEST(AppIcon, ScalableIconIsTheGeneratorsSvg) {
  QFile file(StoredIconPath(0));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << StoredIconPath(0).toStdString();
  const QByteArray stored = file.readAll();
  EXPECT_EQ(stored, DrawAppIconSvg()) << "redraw with tarvelo-skin-art --icons res/icons/hicolor";

  QXmlStreamReader reader(stored);
  QStringList gradients;
  QStringList references;
  int rectangles = 0;
  bool rootSeen = false;
  while (!reader.atEnd()) {
    if (reader.readNext() != QXmlStreamReader::StartElement) {
      continue;
    }
    const QXmlStreamAttributes attributes = reader.attributes();
    if (!rootSeen) {
      rootSeen = true;
      EXPECT_EQ(reader.name(), QLatin1String("svg"));
      EXPECT_EQ(reader.namespaceUri(), QLatin1String("http://www.w3.org/2000/svg"));
      EXPECT_EQ(attributes.value("viewBox"), QLatin1String("0 0 16 16"));
    } else if (reader.name() == QLatin1String("linearGradient")) {
      gradients << attributes.value("id").toString();
    } else if (reader.name() == QLatin1String("rect")) {
      ++rectangles;
      const QString fill = attributes.value("fill").toString();
      if (fill.startsWith(QLatin1String("url(#"))) {
        references << fill.mid(5, fill.size() - 6);
      }
      EXPECT_GE(attributes.value("x").toDouble(), 0);
      EXPECT_LE(attributes.value("x").toDouble() + attributes.value("width").toDouble(), 16);
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  EXPECT_TRUE(rootSeen);
  // The tile, its face, and per drive its body, slot and light.
  EXPECT_EQ(rectangles, 8);
  for (const QString& reference : references) {
    EXPECT_TRUE(gradients.contains(reference)) << reference.toStdString();
  }
}

}  // namespace
}  // namespace skinart
