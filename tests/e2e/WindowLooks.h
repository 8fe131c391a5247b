#pragma once

// What the end-to-end tests read off the program's window on a screen: where its controls lie,
// which look of the skin's button image a button shows, how many list rows hold text; and where
// the tests keep the screenshots a person looks at after a run. Both end-to-end tests judge the
// window by these same rules, so that a look the one test calls enabled the other does too.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>

namespace e2e {

// The window and its controls as the English layout of dialog 201 places them, relative to the
// window's top left corner.
constexpr int kWindowWidth = 328;
constexpr int kWindowHeight = 245;
// The host-name column of the list, below its header and above the horizontal scroll bar: each
// row shows its host name here in dark text on white.
constexpr QRect kRowsArea(11, 66, 95, 110);
// The whole wait-text control: its text, seconds included, may reach its right edge.
constexpr QRect kWaitTextArea(10, 194, 280, 15);
constexpr QRect kLogInButton(18, 210, 79, 23);
constexpr QRect kRefreshButton(127, 210, 79, 23);
constexpr QRect kStorageButton(228, 210, 79, 23);
constexpr QRect kCloseButton(300, 10, 11, 11);
// A point of the list's top row, and one of the list below the few rows that a test's devices
// fill.
constexpr QPoint kFirstRow(60, 73);
constexpr QPoint kEmptyListSpace(60, 160);
// The inside of the list below its header, every column, down to the horizontal scroll bar; the
// header above it, and a point of the address column's title.
constexpr QRect kListInside(11, 66, 305, 110);
constexpr QRect kListHeader(11, 51, 305, 14);
constexpr QPoint kAddressTitle(167, 58);
// The text colour of the rows in the layout, and the grey of a device that has left the network.
constexpr QRgb kRowTextColour = qRgb(6, 65, 105);
constexpr QRgb kGoneRowColour = qRgb(0x8c, 0x8c, 0x8c);

// Looks of a skinned button: the four cells of its image strip, left to right.
enum class ButtonLook { kNormal, kHover, kPressed, kDisabled, kUnknown };

const char* LookName(ButtonLook look);

// Lets GoogleTest name a look in its failure messages.
void PrintTo(ButtonLook look, std::ostream* stream);

// True for a look that a button shows while it can be clicked.
bool Enabled(ButtonLook look);

// Tells a button's look on the screen from the cells of the skin's shipped button image. Only the
// bands above and below the caption are compared, and only where the image is opaque, so that
// neither the text nor the dialog background under rounded corners plays a part.
class ButtonCells {
 public:
  // Reads the shipped button image; throws std::runtime_error when it is not four cells of a
  // button's size side by side.
  ButtonCells();

  // `button` is a button-sized part of the screen; kUnknown when it matches no cell closely.
  ButtonLook Classify(const QImage& button) const;

 private:
  std::array<QImage, 4> cells_;
};

// True for a pixel of text: the list and message boxes show dark text on a light ground.
bool IsDark(QRgb pixel);

// The number of list rows with text: bands of pixel rows that hold dark pixels, separated by at
// least two rows without any (the grid line between rows is light).
int CountRows(const QImage& rows);

int CountDarkPixels(const QImage& image);

// How a list row's text looks: in the rows' colour, in the grey of a device that has gone, or
// neither (no text, or a selected row's highlight).
enum class RowLook { kNormal, kGone, kUnknown };

const char* RowLookName(RowLook look);
void PrintTo(RowLook look, std::ostream* stream);

// One row of text in the list: the band of pixel rows its text covers, relative to the image.
struct ListRow {
  int top = 0;
  int bottom = 0;  // inclusive
  RowLook look = RowLook::kUnknown;
};

// The rows of text in `list` (a part of the screen such as kListInside), top to bottom: bands of
// pixel rows with text, told apart as CountRows does, the light grid lines left out. A band with
// text in the rows' colour (dark, blue) is kNormal; one whose text is only the neutral grey of a
// device that has gone is kGone.
std::vector<ListRow> ReadListRows(const QImage& list);

// The looks of the rows, top to bottom.
std::vector<RowLook> RowLooks(const std::vector<ListRow>& rows);

// The number of pixels within `tolerance` of `colour` in every channel.
int CountNear(const QImage& image, QRgb colour, int tolerance);

// The path of a kept file in the build folder's e2e-artefacts/, which is created as needed.
std::string ArtefactPath(const std::string& name);

// Keeps a screenshot as a PNG among the artefacts and names it in the output; a failed save fails
// the current test.
void SaveArtefact(const QImage& image, const std::string& name);

// Keeps a screenshot that the README shows: among the artefacts, and also in the folder that the
// environment variable TARVELO_SCREENSHOT_DIR names, when it is set, so that a run refreshes the
// pictures of docs/screens from the very states the tests check.
void SaveDocumentScreenshot(const QImage& image, const std::string& name);

}  // namespace e2e
