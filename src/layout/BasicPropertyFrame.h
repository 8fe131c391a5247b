#pragma once

// The property record that every skinned control and dialog carries: what the layout gives it
// (colours, paint mode, background image with its state cells, text, font, text offset), the
// cached copy of the parent's background for the see-through paint mode, and the anchor move for
// child windows after a size change.

#include <cstdint>
#include <optional>

#include <QFont>
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QString>

#include "layout/WrappedText.h"

class QPainter;
class QWidget;

// A COLORREF (0x00BBGGRR) as the opaque ARGB value 0xFFRRGGBB.
QRgb ColorRefToArgb(std::uint32_t colorRef);

// The file of an image's twin for screens with two device pixels to a logical one: "NAME@2x.EXT"
// beside "NAME.EXT" in the same folder ("NAME@2x" for a file name without a suffix).
QString HighDensityPath(const QString& path);

// Loads the twin (HighDensityPath) of the image at `path`, whose size is `size`. A missing or
// unreadable twin, or one that is not exactly twice `size`, gives a null image: no twin.
QImage LoadHighDensityImage(const QString& path, QSize size);

// Draws the part `source` of `image` (in its pixels) into the logical rectangle `target`. When
// the painter's device has more than one device pixel to a logical pixel and `twin` is exactly
// twice the size of `image`, the part source × 2 of the twin goes into the same rectangle
// instead: the geometry stays the same, only the pixels are sharper.
void DrawSkinImage(QPainter& painter, const QRect& target, const QImage& image, const QImage& twin,
                   const QRect& source);

// Paint mode bits, painted in the order copy, fill, border, image.
inline constexpr std::int32_t kPaintBorder = 1;
inline constexpr std::int32_t kPaintFill = 2;
inline constexpr std::int32_t kPaintParentCopy = 4;
inline constexpr std::int32_t kPaintImage = 8;

class CBasicPropertyFrame {
 public:
  CBasicPropertyFrame();
  virtual ~CBasicPropertyFrame();
  CBasicPropertyFrame(const CBasicPropertyFrame&) = delete;
  CBasicPropertyFrame& operator=(const CBasicPropertyFrame&) = delete;

  // Paints the background steps of the paint mode into `painter`, whose device is the window's
  // off-screen buffer (client coordinates): the parent's pixels under `self` (bit 4), a fill in
  // the background colour (bit 2), a 1-pixel border in the border colour (bit 1), then the whole
  // background image at its natural size at (0, 0) (bit 8). The parent copy is taken once, from
  // the parent's own rendering, and kept until the owner replaces it (cachedBackground).
  virtual void PaintBackground(QWidget* parent, QWidget* self, QPainter& painter);

  // Moves or stretches a child window after its parent grew by dx, dy. Horizontal mode 1 keeps
  // the left and right edges, 2 moves both by dx, 3 moves the right edge only; vertical modes
  // 1, 2, 3 do the same for top and bottom with dy. Any other mode leaves the child as it is.
  virtual void MoveByAnchor(QWidget* child, int dx, int dy, int horizontalMode, int verticalMode);

  // Called by the owner after a size change when resizeHook is set; empty here.
  virtual void OnParentSized(int dx, int dy);

  // Loads the image file; the cell width is the image width divided by the state count (a count
  // below 1 counts as 1). A file that is not a readable image leaves an image of size 0 x 0 that
  // draws nothing. Its twin of twice the size (HighDensityPath) is loaded as well, if there is
  // one that fits.
  void SetBGImage(const QString& path, int statusCount, int originX, int originY);
  void SetBGColor(std::uint32_t colorRef);
  void SetTextColor(std::uint32_t colorRef);
  void SetText(const QString& text, int offsetX, int offsetY);
  // A font of `size` pixels, regular style, of the installed family that draws `family`
  // (platform/FontFamilies.h). Without one, or with a size below 1, the font is failed: fontUsable
  // is false and no text is drawn with it.
  void SetFont(const QString& family, int size);
  // The description shown when the mouse rests on `control`.
  void SetToolTip(const QString& text, QWidget* control);

  // The cell `cell` of the state strip: source columns cell × cellWidth up to the next cell,
  // the whole image height. Empty when there is no image or the cell lies outside it.
  QRect StateCellRect(int cell) const;

  // Draws the part `source` (in pixels of bgImage) of the background image into the logical
  // rectangle `target`, from its twin where the painter's device has the pixels for it
  // (DrawSkinImage). Nothing without an image.
  void DrawBGImage(QPainter& painter, const QRect& target, const QRect& source) const;

  // The see-through copy of what the parent shows under the window (paint mode 4).
  std::optional<QImage> cachedBackground;
  std::int32_t paintMode = 0;
  QRgb borderColor = 0xFFFFFFFF;
  QRgb bgColor = 0xFFFFFFFF;
  // None until SetBGImage; a failed load leaves a null image.
  std::optional<QImage> bgImage;
  // The background image drawn for twice the size, for devices with more than one device pixel
  // to a logical pixel; null when the image has no twin of exactly twice its size.
  QImage bgImage2x;
  int imageX = 0;
  int imageY = 0;
  int imageWidth = 0;
  int imageHeight = 0;
  int cellWidth = 0;
  int statusCount = 1;
  int currentCell = 0;
  // Named apart from QWidget::font(), text() and toolTip() of the widgets that carry a record.
  QFont textFont;
  bool fontUsable = false;
  // The family the layout named, before substitution.
  QString fontFamily;
  QRgb textColor = 0xFF000000;
  // Null until SetText.
  QString drawnText;
  // drawnText laid out for the last paint (DrawWrappedText), kept for the next one.
  mutable WrappedTextLayout wrappedText;
  int textOffsetX = 0;
  int textOffsetY = 0;
  QRect lastClientRect;
  // Set by owners whose size changes should reach OnParentSized.
  int resizeHook = 0;
  QString toolTipText;
};
