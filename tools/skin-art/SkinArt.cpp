#include "SkinArt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImageWriter>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace skinart {
namespace {

// The images are computed with plain double arithmetic (no QPainter, no gradient tables, no
// library functions beyond sqrt), because the raster engine's blending may take different SIMD
// paths on different processors, and the stored files must match the drawing on every machine.
//
// Every image is drawn twice: at its own size and at twice its size (NAME@2x.png) for screens
// with two device pixels to a logical one. The design is laid out once, in logical pixels; a
// canvas of scale 2 samples it at the centres of its device pixels and smooths its edges over
// one device pixel, so the large image has twice the detail instead of doubled pixels.

// ---- Where the dialog puts things, in client pixels ----------------------------------------

constexpr int kDialogWidth = 328;
constexpr int kDialogHeight = 245;
// The title band is rows 0..26; row 27 is its dark lower edge and row 28 the highlight under it.
constexpr int kTitleBandRows = 27;
constexpr int kTitleEdgeRow = 27;
constexpr int kHighlightRow = 28;
// Pixels cut out of the window at each top corner, for rows 0..3.
constexpr int kCornerCut[] = {5, 3, 2, 1};
// The colour that the window-shape bitmap marks as "not part of the window".
constexpr QRgb kShapeKeyColour = 0xFFD20A0A;  // RGB(210, 10, 10)

constexpr int kListLeft = 10;
constexpr int kListTop = 50;
constexpr int kListWidth = 308;
constexpr int kListHeight = 141;
constexpr int kStatusLeft = 10;
constexpr int kStatusTop = 194;
constexpr int kBrushWidth = 224;
constexpr int kBrushHeight = 14;
constexpr int kButtonTop = 210;
constexpr int kButtonLefts[] = {18, 127, 228};
constexpr int kButtonWidth = 79;
constexpr int kButtonHeight = 23;
constexpr int kCloseLeft = 300;
constexpr int kCloseTop = 10;
constexpr int kCloseSize = 11;
constexpr int kLogoLeft = 7;
constexpr int kLogoTop = 7;
constexpr int kLogoSize = 16;
constexpr int kHeaderWidth = 249;
constexpr int kHeaderHeight = 17;
// The header shows only this part of its image, stretched over its whole client area.
constexpr int kHeaderShownWidth = kHeaderWidth - 50;
constexpr int kHeaderShownHeight = kHeaderHeight - 5;
constexpr int kHeaderClipHeight = 12;
// The header is 17 pixels high on screen and draws each separator 4 pixels below its top.
constexpr int kHeaderOnScreenHeight = 17;
constexpr int kHeaderClipTop = 4;
constexpr int kStateCount = 4;  // normal, hover, pressed, disabled

// ---- Colour and pixel arithmetic -----------------------------------------------------------

struct Colour {
  double r = 0;
  double g = 0;
  double b = 0;
};

// A colour and how opaque it is laid on (0 = not at all, 1 = fully).
struct Ink {
  Colour colour;
  double alpha = 1;
};

struct Box {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

struct Stop {
  double at = 0;
  Colour colour;
};

double Clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

Colour Mix(Colour from, Colour to, double amount) {
  return {from.r + (to.r - from.r) * amount, from.g + (to.g - from.g) * amount,
          from.b + (to.b - from.b) * amount};
}

double SmoothStep(double edge0, double edge1, double x) {
  const double t = Clamp01((x - edge0) / (edge1 - edge0));
  return t * t * (3 - 2 * t);
}

// Piecewise linear through the stops, which are sorted by position; constant beyond both ends.
Colour Gradient(std::initializer_list<Stop> stops, double at) {
  const Stop* previous = stops.begin();
  if (at <= previous->at) {
    return previous->colour;
  }
  for (const Stop* next = previous + 1; next != stops.end(); previous = next, ++next) {
    if (at <= next->at) {
      return Mix(previous->colour, next->colour, (at - previous->at) / (next->at - previous->at));
    }
  }
  return previous->colour;
}

// Signed distances, negative inside the shape, used for anti-aliased edges: a pixel whose
// centre lies at distance d from the edge is covered by about 0.5 - d of the shape.
double RoundedBoxDistance(double x, double y, Box box, double radius) {
  const double qx =
      std::abs(x - (box.left + box.right) / 2) - ((box.right - box.left) / 2 - radius);
  const double qy =
      std::abs(y - (box.top + box.bottom) / 2) - ((box.bottom - box.top) / 2 - radius);
  const double ox = std::max(qx, 0.0);
  const double oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

double SegmentDistance(double x, double y, double ax, double ay, double bx, double by,
                       double halfWidth) {
  const double dx = bx - ax;
  const double dy = by - ay;
  const double t = Clamp01(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy));
  const double ex = x - (ax + t * dx);
  const double ey = y - (ay + t * dy);
  return std::sqrt(ex * ex + ey * ey) - halfWidth;
}

double CircleDistance(double x, double y, double cx, double cy, double radius) {
  return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - radius;
}

double Coverage(double distance) { return Clamp01(0.5 - distance); }

int Channel(double value) { return std::clamp(static_cast<int>(std::lround(value)), 0, 255); }

// A picture kept in premultiplied doubles, so that layers are composed without rounding in
// between; rounded to 8 bits once, when it becomes a QImage. A canvas of scale N has N device
// pixels to a logical pixel in each direction: its width and height count device pixels, while
// shapes and shaders work in logical pixels.
class Canvas {
 public:
  Canvas(int width, int height, int scale = 1)
      : width_(width),
        height_(height),
        scale_(scale),
        pixels_(static_cast<std::size_t>(width * height)) {}

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Scale() const { return scale_; }

  // The logical position of the centre of a device pixel column or row.
  double Centre(int devicePixel) const { return (devicePixel + 0.5) / scale_; }

  // Lays `colour` over the pixel with the given opacity (source over).
  void Blend(int x, int y, Colour colour, double alpha) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0) {
      return;
    }
    Pixel& p = At(x, y);
    const double keep = 1 - alpha;
    p = {colour.r * alpha + p.r * keep, colour.g * alpha + p.g * keep,
         colour.b * alpha + p.b * keep, alpha + p.a * keep};
  }

  void Set(int x, int y, Ink ink) {
    At(x, y) = {ink.colour.r * ink.alpha, ink.colour.g * ink.alpha, ink.colour.b * ink.alpha,
                ink.alpha};
  }

  Ink Get(int x, int y) const {
    const Pixel& p = pixels_[static_cast<std::size_t>(y * width_ + x)];
    if (p.a <= 0) {
      return {{}, 0};
    }
    return {{p.r / p.a, p.g / p.a, p.b / p.a}, p.a};
  }

  // Covers every pixel inside `shape` (a signed distance in logical pixels at the pixel centre)
  // with what `shader` gives for that centre, the edge pixels in proportion to how much of them
  // the shape covers: the distance counts in device pixels there, so that an edge stays one
  // device pixel soft at every scale.
  template <typename Shape, typename Shader>
  void Fill(const Shape& shape, const Shader& shader) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const double cx = Centre(x);
        const double cy = Centre(y);
        const double coverage = Coverage(shape(cx, cy) * scale_);
        if (coverage > 0) {
          const Ink ink = shader(cx, cy);
          Blend(x, y, ink.colour, ink.alpha * coverage);
        }
      }
    }
  }

  // Copies a part of another canvas into this one, replacing what is there.
  void CopyFrom(const Canvas& source, int sourceX, int sourceY) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        At(x, y) =
            source.pixels_[static_cast<std::size_t>((sourceY + y) * source.width_ + sourceX + x)];
      }
    }
  }

  QImage ToImage(QImage::Format format) const {
    QImage image(width_, height_, format);
    for (int y = 0; y < height_; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < width_; ++x) {
        const Ink ink = Get(x, y);
        const int alpha = Channel(ink.alpha * 255);
        if (format == QImage::Format_ARGB32 && alpha == 0) {
          line[x] = 0;
        } else {
          line[x] = qRgba(Channel(ink.colour.r), Channel(ink.colour.g), Channel(ink.colour.b),
                          format == QImage::Format_ARGB32 ? alpha : 255);
        }
      }
    }
    return image;
  }

 private:
  struct Pixel {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;
  };

  Pixel& At(int x, int y) { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }

  int width_;
  int height_;
  int scale_;
  std::vector<Pixel> pixels_;
};

auto Solid(Colour colour, double alpha = 1) {
  return [colour, alpha](double, double) { return Ink{colour, alpha}; };
}

auto BoxShape(Box box, double radius) {
  return [box, radius](double x, double y) { return RoundedBoxDistance(x, y, box, radius); };
}

// ---- The palette ---------------------------------------------------------------------------

// A deep blue with a hint of teal: calm under near-white text, with azure accents.
constexpr Colour kTitleTop{33, 86, 129};
constexpr Colour kTitleBottom{22, 64, 101};
constexpr Colour kTitleEdge{8, 27, 46};
constexpr Colour kHighlight{92, 178, 220};
constexpr Colour kBodyTop{20, 56, 90};
constexpr Colour kBodyBottom{10, 31, 53};
constexpr Colour kBodyGlow{38, 90, 134};
constexpr Colour kOutline{5, 17, 31};
constexpr Colour kShadow{2, 9, 18};
constexpr Colour kAccent{96, 204, 242};
constexpr Colour kIconLine{184, 210, 232};
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlack{0, 0, 0};

// ---- The dialog background -----------------------------------------------------------------

bool InsideWindow(int x, int y) {
  if (x < 0 || y < 0 || x >= kDialogWidth || y >= kDialogHeight) {
    return false;
  }
  return y >= 4 || (x >= kCornerCut[y] && x < kDialogWidth - kCornerCut[y]);
}

bool OnOutline(int x, int y) {
  return InsideWindow(x, y) && (!InsideWindow(x - 1, y) || !InsideWindow(x + 1, y) ||
                                !InsideWindow(x, y - 1) || !InsideWindow(x, y + 1));
}

Colour BodyColour(double x, double y) {
  const Colour base = Gradient({{kHighlightRow, kBodyTop}, {kDialogHeight, kBodyBottom}}, y);
  // A broad, faint light from the top middle keeps the large plain area from looking flat.
  const double dx = (x - kDialogWidth / 2.0) / 230;
  const double dy = (y - kHighlightRow) / 150;
  const double glow = 1 - SmoothStep(0, 1, std::sqrt(dx * dx + dy * dy));
  return Mix(base, kBodyGlow, 0.32 * glow);
}

// The bands are whole logical rows, so at scale 2 the edge and the highlight are two device
// rows high, while the gradients are sampled at every device pixel.
void DrawDialogBase(Canvas& canvas) {
  for (int y = 0; y < canvas.Height(); ++y) {
    const int row = y / canvas.Scale();
    for (int x = 0; x < canvas.Width(); ++x) {
      const double cx = canvas.Centre(x);
      const double cy = canvas.Centre(y);
      Colour colour;
      if (row < kTitleBandRows) {
        colour = Gradient({{0, kTitleTop}, {kTitleBandRows, kTitleBottom}}, cy);
      } else if (row == kTitleEdgeRow) {
        colour = kTitleEdge;
      } else if (row == kHighlightRow) {
        // Brightest in the middle, fading towards both sides.
        const double reach = SmoothStep(0, 110, cx) * SmoothStep(0, 110, kDialogWidth - cx);
        colour = Mix(BodyColour(cx, cy), kHighlight, 0.25 + 0.55 * reach);
      } else {
        colour = BodyColour(cx, cy);
      }
      canvas.Set(x, y, {colour, 1});
    }
  }
}

// A soft dark halo around the device list, a pixel lower than the list, so that the white list
// sits slightly above the background. Inside the list nothing shows: the list paints itself.
void DrawListShadow(Canvas& canvas) {
  const Box list{kListLeft, kListTop + 1.0, kListLeft + kListWidth, kListTop + kListHeight + 1.0};
  canvas.Fill([](double, double) { return -1.0; },
              [list](double x, double y) {
                const double distance = RoundedBoxDistance(x, y, list, 2);
                return Ink{kShadow, distance < 0 ? 0 : 0.5 * (1 - SmoothStep(0, 4, distance))};
              });
}

// A small list symbol left of the "Device List" caption: three rows, each a dot and a bar.
void DrawCaptionIcon(Canvas& canvas) {
  for (int row = 0; row < 3; ++row) {
    const double top = 37 + 3 * row;
    canvas.Fill(BoxShape({16, top, 18, top + 2}, 0.4), Solid(kAccent));
    canvas.Fill(BoxShape({19, top, 26, top + 2}, 0.4), Solid(kIconLine, 0.9));
  }
}

// A one-pixel dark outline along the window's edge, following the cut top corners, with a faint
// light line just inside it along the title band. The window's shape is cut in whole logical
// pixels at every scale (the mask is a region of logical pixels), so the outline follows those
// logical pixels: two device pixels wide at scale 2, the same steps at the corners.
void DrawOutline(Canvas& canvas) {
  for (int deviceY = 0; deviceY < canvas.Height(); ++deviceY) {
    const int y = deviceY / canvas.Scale();
    for (int deviceX = 0; deviceX < canvas.Width(); ++deviceX) {
      const int x = deviceX / canvas.Scale();
      if (!InsideWindow(x, y)) {
        canvas.Set(deviceX, deviceY, {kOutline, 1});
      } else if (OnOutline(x, y)) {
        canvas.Set(deviceX, deviceY, {kOutline, 1});
      } else if (y < kTitleBandRows && (OnOutline(x - 1, y) || OnOutline(x + 1, y) ||
                                        OnOutline(x, y - 1) || OnOutline(x, y + 1))) {
        canvas.Blend(deviceX, deviceY, kWhite,
                     y < 2 || (y < 4 && x > 4 && x < kDialogWidth - 5) ? 0.14 : 0.07);
      }
    }
  }
}

Canvas DrawDialogCanvas(int scale) {
  Canvas canvas(kDialogWidth * scale, kDialogHeight * scale, scale);
  DrawDialogBase(canvas);
  DrawListShadow(canvas);
  DrawCaptionIcon(canvas);
  DrawOutline(canvas);
  return canvas;
}

QImage ShapeBitmap(const QImage& background) {
  QImage bitmap = background.copy();
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < kCornerCut[y]; ++x) {
      bitmap.setPixel(x, y, kShapeKeyColour);
      bitmap.setPixel(kDialogWidth - 1 - x, y, kShapeKeyColour);
    }
  }
  return bitmap;
}

// ---- The status line brush -----------------------------------------------------------------

// The brush is opaque, so it is made of the dialog background it covers: a darker pill that
// starts with a round end and a status dot, and fades out to the right until its last column is
// the background itself, since the status text runs on past the brush.
QImage DrawBrush(const Canvas& dialog) {
  const int scale = dialog.Scale();
  Canvas canvas(kBrushWidth * scale, kBrushHeight * scale, scale);
  canvas.CopyFrom(dialog, kStatusLeft * scale, kStatusTop * scale);
  const double radius = kBrushHeight / 2.0;
  canvas.Fill(BoxShape({0, 0, kBrushWidth + radius, kBrushHeight}, radius), [](double x, double) {
    return Ink{kShadow, 0.5 * (1 - SmoothStep(100, kBrushWidth - 1, x))};
  });
  // A faint light rim along the top of the band, fading with it.
  canvas.Fill(BoxShape({3, 0, kBrushWidth, 1}, 0), [](double x, double) {
    return Ink{kWhite, 0.06 * (1 - SmoothStep(60, kBrushWidth - 30, x))};
  });
  const double dotX = 7.5;
  const double dotY = kBrushHeight / 2.0;
  canvas.Fill([=](double x, double y) { return CircleDistance(x, y, dotX, dotY, 4.5); },
              [=](double x, double y) {
                const double d = CircleDistance(x, y, dotX, dotY, 0);
                return Ink{kAccent, 0.22 * (1 - SmoothStep(2, 4.5, d))};
              });
  canvas.Fill([=](double x, double y) { return CircleDistance(x, y, dotX, dotY, 2.3); },
              Solid(kAccent));
  return canvas.ToImage(QImage::Format_RGB32);
}

// ---- Logo and application icon ------------------------------------------------------------

// A rounded azure tile with two stacked storage drives, each with a small slot and a status
// light. The shapes are kept apart from the drawing so that the pixels and the scalable icon are
// made from one geometry, and so that the smallest icons can place them on whole pixels.
struct DriveShape {
  Box body;
  double radius = 0;
  Box slot;
  double slotRadius = 0;
  Box light;
  double lightRadius = 0;
};

struct LogoGeometry {
  Box tile;
  double tileRadius = 0;
  Box face;
  double faceRadius = 0;
  DriveShape drives[2];
};

constexpr Colour kLogoTile{8, 40, 70};
constexpr Colour kLogoFaceTop{110, 214, 246};
constexpr Colour kLogoFaceBottom{30, 122, 196};
constexpr Colour kDriveTop{255, 255, 255};
constexpr Colour kDriveBottom{214, 232, 246};
constexpr Colour kDriveSlot{60, 120, 170};
constexpr double kDriveSlotAlpha = 0.4;
constexpr Colour kDriveLight{36, 186, 104};

// The design as it is laid out on 16 units, scaled to a square of `size`. At 16 and its
// multiples every edge falls on a whole pixel.
LogoGeometry ScaledLogoGeometry(double size) {
  const double s = size / 16.0;
  LogoGeometry logo;
  logo.tile = {0, 0, 16 * s, 16 * s};
  logo.tileRadius = 3.5 * s;
  logo.face = {1 * s, 1 * s, 15 * s, 15 * s};
  logo.faceRadius = 2.5 * s;
  const double tops[] = {3.0, 9.0};
  for (int i = 0; i < 2; ++i) {
    const double top = tops[i];
    DriveShape& drive = logo.drives[i];
    drive.body = {3 * s, top * s, 13 * s, (top + 4) * s};
    drive.radius = 1.2 * s;
    drive.slot = {5 * s, (top + 1) * s, 9 * s, (top + 3) * s};
    drive.slotRadius = 0.3 * s;
    drive.light = {10 * s, (top + 1) * s, 12 * s, (top + 3) * s};
    drive.lightRadius = 0.6 * s;
  }
  return logo;
}

// At 22 and 24 pixels the scaled design would put most edges between pixels, and a small icon
// with soft edges looks smudged beside sharp ones. These sizes get their own layout on whole
// pixels: the same tile and rim, drives with a two-pixel gap and even margins, and a slot and a
// light that stay apart.
LogoGeometry PixelLogoGeometry(int size) {
  LogoGeometry logo;
  const double full = size;
  logo.tile = {0, 0, full, full};
  logo.face = {1, 1, full - 1, full - 1};
  if (size == 22) {
    logo.tileRadius = 4.5;
    logo.faceRadius = 3.5;
    for (int i = 0; i < 2; ++i) {
      const double top = 4 + 8 * i;
      DriveShape& drive = logo.drives[i];
      drive.body = {4, top, 18, top + 6};
      drive.radius = 1.5;
      drive.slot = {6, top + 2, 12, top + 4};
      drive.slotRadius = 0.4;
      drive.light = {14, top + 2, 16, top + 4};
      drive.lightRadius = 0.8;
    }
  } else {
    logo.tileRadius = 5;
    logo.faceRadius = 4;
    for (int i = 0; i < 2; ++i) {
      const double top = 4 + 9 * i;
      DriveShape& drive = logo.drives[i];
      drive.body = {4, top, 20, top + 7};
      drive.radius = 1.6;
      drive.slot = {6, top + 2, 13, top + 5};
      drive.slotRadius = 0.4;
      drive.light = {15, top + 2, 18, top + 5};
      drive.lightRadius = 0.9;
    }
  }
  return logo;
}

LogoGeometry LogoGeometryFor(int size) {
  return size == 22 || size == 24 ? PixelLogoGeometry(size) : ScaledLogoGeometry(size);
}

// A shader of a vertical gradient from the top to the bottom of `box`.
auto VerticalGradient(Box box, Colour top, Colour bottom) {
  return [=](double, double y) {
    return Ink{Gradient({{box.top, top}, {box.bottom, bottom}}, y), 1};
  };
}

QImage DrawLogoGeometry(const LogoGeometry& logo, int size) {
  Canvas canvas(size, size);
  canvas.Fill(BoxShape(logo.tile, logo.tileRadius), Solid(kLogoTile));
  canvas.Fill(BoxShape(logo.face, logo.faceRadius),
              VerticalGradient(logo.face, kLogoFaceTop, kLogoFaceBottom));
  for (const DriveShape& drive : logo.drives) {
    canvas.Fill(BoxShape(drive.body, drive.radius),
                VerticalGradient(drive.body, kDriveTop, kDriveBottom));
    canvas.Fill(BoxShape(drive.slot, drive.slotRadius), Solid(kDriveSlot, kDriveSlotAlpha));
    canvas.Fill(BoxShape(drive.light, drive.lightRadius), Solid(kDriveLight));
  }
  return canvas.ToImage(QImage::Format_ARGB32);
}

// The skin's logo: the design scaled to `size` pixels (16, or 32 for its twin).
QImage DrawLogoOfSize(int size) { return DrawLogoGeometry(ScaledLogoGeometry(size), size); }

QString SvgNumber(double value) { return QString::number(value, 'g', 6); }

QString SvgColour(Colour colour) {
  return QStringLiteral("#%1%2%3")
      .arg(Channel(colour.r), 2, 16, QLatin1Char('0'))
      .arg(Channel(colour.g), 2, 16, QLatin1Char('0'))
      .arg(Channel(colour.b), 2, 16, QLatin1Char('0'));
}

QString SvgRect(Box box, double radius, const QString& fill) {
  return QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" %6/>\n")
      .arg(SvgNumber(box.left), SvgNumber(box.top), SvgNumber(box.right - box.left),
           SvgNumber(box.bottom - box.top), SvgNumber(radius), fill);
}

QString SvgGradient(const QString& id, Box box, Colour top, Colour bottom) {
  return QStringLiteral(
             "    <linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" y1=\"%2\" "
             "x2=\"0\" y2=\"%3\">\n"
             "      <stop offset=\"0\" stop-color=\"%4\"/>\n"
             "      <stop offset=\"1\" stop-color=\"%5\"/>\n"
             "    </linearGradient>\n")
      .arg(id, SvgNumber(box.top), SvgNumber(box.bottom), SvgColour(top), SvgColour(bottom));
}

QImage DrawLogo(int scale) { return DrawLogoOfSize(kLogoSize * scale); }

// ---- Close button --------------------------------------------------------------------------

// A light cross that turns into a red square on hover, a darker one when pressed, and fades
// when disabled.
QImage DrawClose(int scale) {
  Canvas canvas(kCloseSize * kStateCount * scale, kCloseSize * scale, scale);
  struct CloseLook {
    bool square;
    Colour squareColour;
    Colour cross;
    double crossAlpha;
  };
  const CloseLook looks[kStateCount] = {
      {false, {}, {206, 222, 236}, 1},
      {true, {214, 66, 62}, {255, 255, 255}, 1},
      {true, {150, 36, 38}, {236, 214, 214}, 1},
      {false, {}, {150, 166, 182}, 0.45},
  };
  for (int state = 0; state < kStateCount; ++state) {
    const CloseLook& look = looks[state];
    const double left = state * kCloseSize;
    if (look.square) {
      canvas.Fill(BoxShape({left, 0, left + kCloseSize, kCloseSize}, 2.5),
                  Solid(look.squareColour));
    }
    const double a = 3;
    const double b = kCloseSize - 3;
    for (const std::pair<double, double>& ends : {std::pair{a, b}, std::pair{b, a}}) {
      const double y0 = ends.first;
      const double y1 = ends.second;
      canvas.Fill([=](double x,
                      double y) { return SegmentDistance(x, y, left + a, y0, left + b, y1, 0.65); },
                  Solid(look.cross, look.crossAlpha));
    }
  }
  return canvas.ToImage(QImage::Format_ARGB32);
}

// ---- Push buttons --------------------------------------------------------------------------

// Rounded azure buttons with a dark rim and a light inner top edge. Hover lights the rim and
// brightens the face only a little, so that the near-white caption stays readable; pressed
// darkens the face with a shadow under the top edge; disabled turns it flat grey.
QImage DrawButtons(int scale) {
  Canvas canvas(kButtonWidth * kStateCount * scale, kButtonHeight * scale, scale);
  struct ButtonLook {
    Colour rim;
    Colour top;
    Colour bottom;
    double topLight;     // light line inside the top edge
    double topShadow;    // dark line inside the top edge (pressed)
    double bottomLight;  // light line inside the bottom edge
  };
  const ButtonLook looks[kStateCount] = {
      {{9, 38, 66}, {56, 132, 192}, {32, 94, 152}, 0.30, 0, 0.06},
      {{108, 192, 236}, {62, 144, 206}, {36, 104, 166}, 0.40, 0, 0.10},
      {{5, 24, 44}, {18, 60, 100}, {30, 86, 136}, 0, 0.35, 0.10},
      {{44, 52, 62}, {94, 104, 116}, {80, 89, 100}, 0.10, 0, 0},
  };
  for (int state = 0; state < kStateCount; ++state) {
    const ButtonLook& look = looks[state];
    const double left = state * kButtonWidth;
    const double right = left + kButtonWidth;
    canvas.Fill(BoxShape({left, 0, right, kButtonHeight}, 4.5), Solid(look.rim));
    const Box inner{left + 1, 1, right - 1, kButtonHeight - 1.0};
    canvas.Fill(BoxShape(inner, 3.5), [&look](double, double y) {
      return Ink{Gradient({{1, look.top}, {kButtonHeight - 1.0, look.bottom}}, y), 1};
    });
    // The inner edge lines are the inner shape clipped to its top or bottom row, so that they
    // follow the rounded corners.
    const auto insideInner = [inner](double x, double y) {
      return RoundedBoxDistance(x, y, inner, 3.5);
    };
    const auto row = [insideInner](double rowTop) {
      return [=](double x, double y) {
        return std::max(insideInner(x, y), std::abs(y - (rowTop + 0.5)) - 0.5);
      };
    };
    canvas.Fill(row(1), Solid(kWhite, look.topLight));
    canvas.Fill(row(1), Solid(kBlack, look.topShadow));
    canvas.Fill(row(2), Solid(kBlack, look.topShadow * 0.4));
    canvas.Fill(row(kButtonHeight - 2.0), Solid(kWhite, look.bottomLight));
  }
  return canvas.ToImage(QImage::Format_ARGB32);
}

// ---- List header ---------------------------------------------------------------------------

// The header's colour at a row of its image (centre of row 0 is 0.5). Only rows 0..11 are shown,
// stretched to the header's height; the rows below continue the same gradient.
Colour HeaderColour(double y) {
  const Colour top{70, 124, 170};
  const Colour bottom{44, 92, 138};
  const Colour base = Mix(top, bottom, (y - 1.5) / (kHeaderShownHeight - 2.0));
  // The top row is a lighter edge that separates the header from the list's border.
  return y < 1 ? Mix(base, Colour{150, 190, 222}, 0.5) : base;
}

QImage DrawHeaderBackground(int scale) {
  Canvas canvas(kHeaderWidth * scale, kHeaderHeight * scale, scale);
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      canvas.Set(x, y, {HeaderColour(canvas.Centre(y)), 1});
    }
  }
  return canvas.ToImage(QImage::Format_RGB32);
}

// A light line between two column titles, one logical pixel wide, brightest in the middle and
// fading into the header colour it is drawn over at both ends.
QImage DrawHeaderClip(int scale) {
  Canvas canvas(scale, kHeaderClipHeight * scale, scale);
  for (int y = 0; y < canvas.Height(); ++y) {
    const double centre = canvas.Centre(y);
    const double onScreen = kHeaderClipTop + centre;
    const Colour under = HeaderColour(onScreen * kHeaderShownHeight / kHeaderOnScreenHeight);
    const double fromEnd = std::min(centre, kHeaderClipHeight - centre);
    const Colour line = Mix(under, Colour{170, 204, 230}, 0.8 * SmoothStep(0, 4, fromEnd));
    for (int x = 0; x < canvas.Width(); ++x) {
      canvas.Set(x, y, {line, 1});
    }
  }
  return canvas.ToImage(QImage::Format_RGB32);
}

const QImage* FindImage(const std::vector<SkinImage>& images, const QString& fileName) {
  for (const SkinImage& image : images) {
    if (image.fileName == fileName) {
      return &image.image;
    }
  }
  return nullptr;
}

}  // namespace

QImage DrawAppIcon(int size) { return DrawLogoGeometry(LogoGeometryFor(size), size); }

QByteArray DrawAppIconSvg() {
  // Laid out on the design's own 16 units; the nominal size is the largest drawn icon's.
  const LogoGeometry logo = ScaledLogoGeometry(16);
  QString defs;
  QString shapes;
  defs += SvgGradient(QStringLiteral("face"), logo.face, kLogoFaceTop, kLogoFaceBottom);
  shapes +=
      SvgRect(logo.tile, logo.tileRadius, QStringLiteral("fill=\"%1\"").arg(SvgColour(kLogoTile)));
  shapes += SvgRect(logo.face, logo.faceRadius, QStringLiteral("fill=\"url(#face)\""));
  for (int i = 0; i < 2; ++i) {
    const DriveShape& drive = logo.drives[i];
    const QString id = QStringLiteral("drive%1").arg(i + 1);
    defs += SvgGradient(id, drive.body, kDriveTop, kDriveBottom);
    shapes += SvgRect(drive.body, drive.radius, QStringLiteral("fill=\"url(#%1)\"").arg(id));
    shapes += SvgRect(drive.slot, drive.slotRadius,
                      QStringLiteral("fill=\"%1\" fill-opacity=\"%2\"")
                          .arg(SvgColour(kDriveSlot), SvgNumber(kDriveSlotAlpha)));
    shapes += SvgRect(drive.light, drive.lightRadius,
                      QStringLiteral("fill=\"%1\"").arg(SvgColour(kDriveLight)));
  }
  const QString svg =
      QStringLiteral(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
          "viewBox=\"0 0 16 16\">\n"
          "  <defs>\n%2  </defs>\n%3</svg>\n")
          .arg(QString::number(kAppIconSizes[std::size(kAppIconSizes) - 1]), defs, shapes);
  return svg.toUtf8();
}

QString AppIconFileName(int size) {
  return size == 0 ? QStringLiteral("scalable/apps/%1.svg").arg(QLatin1String(kAppIconName))
                   : QStringLiteral("%1x%1/apps/%2.png").arg(size).arg(QLatin1String(kAppIconName));
}

bool SaveAppIcons(const QString& folder, QString* error) {
  const QDir dir(folder);
  const auto fail = [error](const QString& message) {
    if (error != nullptr) {
      *error = message;
    }
    return false;
  };
  std::vector<int> sizes(std::begin(kAppIconSizes), std::end(kAppIconSizes));
  sizes.push_back(0);
  for (const int size : sizes) {
    const QString path = dir.filePath(AppIconFileName(size));
    if (!QDir().mkpath(QFileInfo(path).path())) {
      return fail(QStringLiteral("cannot create the folder of %1").arg(path));
    }
    if (size == 0) {
      QFile file(path);
      if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
          file.write(DrawAppIconSvg()) < 0 || !file.flush()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
      }
      continue;
    }
    QImageWriter writer(path, "png");
    if (!writer.write(DrawAppIcon(size))) {
      return fail(QStringLiteral("cannot write %1: %2").arg(path, writer.errorString()));
    }
  }
  return true;
}

QString HighDensityName(const QString& fileName) {
  const int dot = fileName.lastIndexOf(QLatin1Char('.'));
  return fileName.left(dot) + QStringLiteral("@2x") + fileName.mid(dot);
}

std::vector<SkinImage> DrawSkinImages() {
  std::vector<SkinImage> images;
  for (const int scale : {1, 2}) {
    const Canvas dialog = DrawDialogCanvas(scale);
    const QImage background = dialog.ToImage(QImage::Format_RGB32);
    const auto add = [&images, scale](const char* fileName, QImage image) {
      const QString name = QString::fromLatin1(fileName);
      images.push_back({scale == 1 ? name : HighDensityName(name), std::move(image)});
    };
    add("SearchDevice_BlackGround.png", background);
    // The window's shape is a region of logical pixels, which one bitmap describes at every
    // scale; it has no large twin.
    if (scale == 1) {
      add("SearchDevice_BlackGround.bmp", ShapeBitmap(background));
    }
    add("Brush.png", DrawBrush(dialog));
    add("logo.png", DrawLogo(scale));
    add("headerbackground.png", DrawHeaderBackground(scale));
    add("headerclip.png", DrawHeaderClip(scale));
    add("close.png", DrawClose(scale));
    add("ButtonMax.png", DrawButtons(scale));
  }
  return images;
}

bool SaveSkinImages(const std::vector<SkinImage>& images, const QString& folder, QString* error) {
  const QDir dir(folder);
  for (const SkinImage& skin : images) {
    const QString path = dir.filePath(skin.fileName);
    // Qt writes a 32-bit image without alpha as a 24-bit BMP with its file header, and as an RGB
    // PNG; with alpha as an RGBA PNG. The test reads the headers back to hold Qt to that.
    QImageWriter writer(path, skin.fileName.endsWith(".bmp") ? "bmp" : "png");
    if (!writer.write(skin.image)) {
      if (error != nullptr) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
      }
      return false;
    }
  }
  return true;
}

QImage DrawSkinPreview(const std::vector<SkinImage>& images, int scale, int ratio) {
  if (ratio != 1 && ratio != 2) {
    return {};
  }
  // At ratio 2 the mock-up is drawn from the large images, as a screen of that ratio shows them.
  const auto find = [&images, ratio](const char* name) {
    const QString fileName = QString::fromLatin1(name);
    return FindImage(images, ratio == 1 ? fileName : HighDensityName(fileName));
  };
  const QImage* background = find("SearchDevice_BlackGround.png");
  const QImage* brush = find("Brush.png");
  const QImage* logo = find("logo.png");
  const QImage* header = find("headerbackground.png");
  const QImage* clip = find("headerclip.png");
  const QImage* close = find("close.png");
  const QImage* buttons = find("ButtonMax.png");
  if (!background || !brush || !logo || !header || !clip || !close || !buttons) {
    return {};
  }

  // The dialog on the left; on the right, every state cell over the background it sits on.
  const int panelLeft = kDialogWidth + 8;
  QImage preview(QSize(panelLeft + 103, kDialogHeight) * ratio, QImage::Format_ARGB32);
  preview.setDevicePixelRatio(ratio);
  preview.fill(QColor(60, 60, 64));
  QPainter painter(&preview);
  // Draws the part `source` (in pixels of the image at ratio 1) of an image into `target`.
  const auto put = [&painter, ratio](const QRect& target, const QImage& image,
                                     const QRect& source) {
    painter.drawImage(target, image, QRect(source.topLeft() * ratio, source.size() * ratio));
  };
  const auto putWhole = [&put, ratio](int x, int y, const QImage& image) {
    const QSize size = image.size() / ratio;
    put(QRect(QPoint(x, y), size), image, QRect(QPoint(0, 0), size));
  };
  const QColor captionColour(244, 245, 247);
  const auto font = [](int pixelSize) {
    QFont f("Liberation Sans");
    f.setPixelSize(pixelSize);
    return f;
  };

  putWhole(0, 0, *background);
  putWhole(kLogoLeft, kLogoTop, *logo);
  put(QRect(kCloseLeft, kCloseTop, kCloseSize, kCloseSize), *close,
      QRect(0, 0, kCloseSize, kCloseSize));
  painter.setPen(captionColour);
  painter.setFont(font(21));
  painter.drawText(QRect(31, 4, 270, 25), Qt::AlignLeft | Qt::AlignTop, "Tarvelo");
  painter.setFont(font(12));
  painter.drawText(QRect(15 + 14, 32 + 2, 180, 15), Qt::AlignLeft | Qt::AlignTop, "Device List");

  // The list: border, stretched header with separators and titles, white rows with grid lines.
  const QRect list(kListLeft, kListTop, kListWidth, kListHeight);
  painter.fillRect(list, Qt::white);
  painter.setPen(QColor(126, 157, 185));
  painter.drawRect(list.adjusted(0, 0, -1, -1));
  const QRect headerRect(kListLeft + 1, kListTop + 1, kListWidth - 2, kHeaderOnScreenHeight);
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  put(headerRect, *header, QRect(0, 0, kHeaderShownWidth, kHeaderShownHeight));
  painter.restore();
  const int columnWidths[] = {104, 100, 100};
  const char* titles[] = {"Host Name", "IP Address", "Device Type"};
  const char* rows[][3] = {{"nas-living", "192.168.1.20", "HomeNas 2"},
                           {"backup-box", "192.168.1.34", "HomeNas 4"}};
  int columnLeft = headerRect.left();
  for (int column = 0; column < 3; ++column) {
    const int right = columnLeft + columnWidths[column];
    putWhole(right - 1, headerRect.top() + kHeaderClipTop, *clip);
    painter.setPen(captionColour);
    painter.drawText(QRect(columnLeft, headerRect.top() + 3, columnWidths[column], 14),
                     Qt::AlignHCenter | Qt::AlignTop, titles[column]);
    for (int row = 0; row < 2; ++row) {
      const QRect cell(columnLeft, headerRect.bottom() + 1 + row * 17, columnWidths[column], 17);
      painter.setPen(QColor(6, 65, 105));
      painter.drawText(cell.adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                       rows[row][column]);
      painter.setPen(QColor(226, 230, 234));
      painter.drawLine(cell.bottomLeft(), cell.bottomRight());
      painter.drawLine(cell.topRight(), cell.bottomRight());
    }
    columnLeft = right;
  }

  putWhole(kStatusLeft, kStatusTop, *brush);
  painter.setPen(captionColour);
  painter.drawText(QPoint(kStatusLeft + 15, kStatusTop + 1 + painter.fontMetrics().ascent()),
                   "Searching for new devices, please wait 10s...");

  const auto drawButton = [&](int x, int y, int state, const QString& caption) {
    put(QRect(x, y, kButtonWidth, kButtonHeight), *buttons,
        QRect(state * kButtonWidth, 0, kButtonWidth, kButtonHeight));
    const int shift = state == 2 ? 1 : 0;
    painter.setPen(captionColour);
    const int textWidth = painter.fontMetrics().horizontalAdvance(caption);
    painter.drawText(QPoint(x + (kButtonWidth - textWidth) / 2 + shift,
                            y + 6 + shift + painter.fontMetrics().ascent()),
                     caption);
  };
  const char* captions[] = {"Log In", "Refresh", "My Storage"};
  for (int i = 0; i < 3; ++i) {
    drawButton(kButtonLefts[i], kButtonTop, 0, captions[i]);
  }

  // State panel: each button cell over the background under the first button, each close cell
  // over the background under the close button.
  const char* stateNames[] = {"Normal", "Hover", "Pressed", "Disabled"};
  for (int state = 0; state < kStateCount; ++state) {
    const int y = 6 + state * 36;
    put(QRect(panelLeft, y, kButtonWidth + 12, kButtonHeight + 12), *background,
        QRect(kButtonLefts[0] - 6, kButtonTop - 6, kButtonWidth + 12, kButtonHeight + 12));
    drawButton(panelLeft + 6, y + 6, state, stateNames[state]);
  }
  for (int state = 0; state < kStateCount; ++state) {
    const int x = panelLeft + state * 26;
    const int y = 6 + 4 * 36 + 4;
    put(QRect(x, y, 25, 25), *background, QRect(kCloseLeft - 7, kCloseTop - 7, 25, 25));
    put(QRect(x + 7, y + 7, kCloseSize, kCloseSize), *close,
        QRect(state * kCloseSize, 0, kCloseSize, kCloseSize));
  }
  putWhole(panelLeft, 190, *logo);
  put(QRect(panelLeft + 20, 190, 32, 32), *logo, QRect(0, 0, kLogoSize, kLogoSize));
  painter.end();

  if (scale > 1) {
    return preview.scaled(preview.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  return preview;
}

}  // namespace skinart
