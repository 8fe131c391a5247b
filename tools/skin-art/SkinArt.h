// The images of the main window's skin, drawn by code so that the design can be changed and redrawn
// instead of being edited pixel by pixel. `tarvelo-skin-art` writes them into res/skin, and a test
// keeps the stored files and this drawing code identical.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace skinart {

// One skin file: the name it is stored under and its pixels. The image format says how it is
// stored: QImage::Format_RGB32 becomes an RGB PNG (or a 24-bit BMP), Format_ARGB32 an RGBA PNG.
struct SkinImage {
  QString fileName;
  QImage image;
};

// Draws the skin images in memory: the eight files of the window, then the same images but the
// window-shape bitmap at twice the size (HighDensityName), drawn for that size. Pure computation
// on pixels (no fonts, no platform), so the result is the same on every run and needs no
// QGuiApplication.
std::vector<SkinImage> DrawSkinImages();

// The name of an image's large twin: "NAME@2x.EXT" for "NAME.EXT".
QString HighDensityName(const QString& fileName);

// Writes every image into `folder` (which must exist) in the format its file name and image format
// call for. On failure returns false and, if `error` is given, a message naming the file.
bool SaveSkinImages(const std::vector<SkinImage>& images, const QString& folder, QString* error);

// The application's icon name (its application id), under which desktops find the icon in the
// hicolor theme.
inline constexpr char kAppIconName[] = "org.tarvelo.Tarvelo";

// The pixel sizes the icon is drawn at: the hicolor theme's usual sizes, from menus and panels up
// to application grids and software centres.
inline constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The application icon: the logo's design on a square of `size` pixels, with transparency. At 22
// and 24 pixels the shapes are laid out on whole pixels so that the two drives stay apart; every
// other size is the design scaled (sharp at 16 and its multiples).
QImage DrawAppIcon(int size);

// The scalable icon: the same design as an SVG document, from the same geometry.
QByteArray DrawAppIconSvg();

// Where an icon lies inside a hicolor theme folder: "SIZExSIZE/apps/NAME.png", or for size 0
// "scalable/apps/NAME.svg".
QString AppIconFileName(int size);

// Writes every size of the icon and the scalable icon into the hicolor theme folder `folder`
// (normally res/icons/hicolor), creating the size folders. On failure returns false and, if
// `error` is given, a message naming the file.
bool SaveAppIcons(const QString& folder, QString* error);

// A mock-up of the whole dialog built from the images: background, logo, title, caption, a list
// with a few rows, the status line and the buttons, and beside it every state cell of the buttons
// and of the close button over the background they are drawn on. At `ratio` 2 it is drawn from
// the large images onto twice as many pixels, as a screen of that device pixel ratio shows the
// window. `scale` enlarges it with hard pixel edges for close inspection. Draws text, so it needs
// a QGuiApplication. Null for a ratio other than 1 and 2 or when an image is missing.
QImage DrawSkinPreview(const std::vector<SkinImage>& images, int scale = 1, int ratio = 1);

}  // namespace skinart
