// The borderless dialog's window shape and drag band on a real X server at a scale above 1: the
// scale comes from the environment of the run (QT_SCALE_FACTOR, or TARVELO_TEST_XFT_DPI, which
// this test sets as Xft.dpi on its private server before Qt starts). The dialog sets its mask and
// tests its band in logical pixels; these tests read the shape that reaches the X server and
// press the mouse at device pixels, to show that Qt scales both.

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include "LabNetwork.h"
#include "PrivateXServer.h"
#include "ScopedEnvironment.h"
#include "controls/BasicDialog.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"

// Xlib's macros (None, Bool, Status, ...) clash with Qt's names, so its headers come after
// everything that uses Qt.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

extern char** environ;

namespace {

using testsupport::PrivateXServer;
using testsupport::ScopedEnvironment;

// Cut from the top rows of the shipped window-shape bitmap, in logical pixels.
constexpr int kCornerCut[] = {5, 3, 2, 1};
constexpr QSize kDialogSize(328, 245);

// Runs a program found on PATH with the test's environment; its exit status, -1 if it did not run.
int RunProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

// The device pixel ratio that the run's environment asks for.
double ExpectedRatio() {
  double ratio = 1;
  if (const char* factor = std::getenv("QT_SCALE_FACTOR")) {
    ratio *= std::atof(factor);
  }
  if (const char* dpi = std::getenv("TARVELO_TEST_XFT_DPI")) {
    ratio *= std::atof(dpi) / 96;
  }
  return ratio;
}

// A dialog or control that remembers where presses reached it, in the window's logical pixels.
template <typename Base>
class PressRecording : public Base {
 public:
  using Base::Base;
  std::vector<QPointF> presses;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    presses.push_back(event->scenePosition());
    Base::mousePressEvent(event);
  }
};

std::vector<QWidget*> drags;
void RecordDrag(QWidget* window, QPoint) { drags.push_back(window); }

// The bounding shape of a window as the X server keeps it, pixel by pixel.
class ServerShape {
 public:
  ServerShape(::Display* display, Window window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    width_ = attributes.width;
    height_ = attributes.height;
    int count = 0;
    int ordering = 0;
    XRectangle* rectangles = XShapeGetRectangles(display, window, ShapeBounding, &count, &ordering);
    for (int i = 0; i < count; ++i) {
      rectangles_.push_back(rectangles[i]);
    }
    XFree(rectangles);
  }

  int Width() const { return width_; }
  int Height() const { return height_; }

  bool Contains(int x, int y) const {
    for (const XRectangle& r : rectangles_) {
      if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) {
        return true;
      }
    }
    return false;
  }

  // How many pixels of row `y` are cut from the left and from the right.
  std::pair<int, int> Cut(int y) const {
    int left = 0;
    while (left < width_ && !Contains(left, y)) {
      ++left;
    }
    int right = 0;
    while (right < width_ && !Contains(width_ - 1 - right, y)) {
      ++right;
    }
    return {left, right};
  }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<XRectangle> rectangles_;
};

struct DisplayCloser {
  void operator()(::Display* display) const { XCloseDisplay(display); }
};

// Presses and releases the left button at device pixel (x, y) of the window, as a user would,
// through the X server's test extension.
bool ClickAt(Window window, int x, int y) {
  return RunProgram({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                     std::to_string(y), "mousedown", "1", "mouseup", "1"}) == 0;
}

TEST(WindowScaleTest, TheShapeAndTheDragBandStayInLogicalPixels) {
  const double ratio = ExpectedRatio();
  if (ratio <= 1) {
    GTEST_SKIP() << "run with QT_SCALE_FACTOR or TARVELO_TEST_XFT_DPI for a scale above 1";
  }
  const PrivateXServer server("1280x1024x24");
  if (server.Display().empty()) {
    GTEST_SKIP() << "Xvfb is not available";
  }
  const ScopedEnvironment display("DISPLAY", server.Display());
  const ScopedEnvironment platform("QT_QPA_PLATFORM", "xcb");
  const std::unique_ptr<::Display, DisplayCloser> connection(
      XOpenDisplay(server.Display().c_str()));
  ASSERT_NE(connection, nullptr);
  ::Display* x = connection.get();
  if (const char* dpi = std::getenv("TARVELO_TEST_XFT_DPI")) {
    // As `xrdb` would set it for a desktop with large text.
    const std::string resources = std::string("Xft.dpi:\t") + dpi + "\n";
    XChangeProperty(x, DefaultRootWindow(x), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.c_str()),
                    static_cast<int>(resources.size()));
    XSync(x, False);
  }

  int argc = 1;
  char name[] = "controls_scale_test";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);

  PressRecording<CBasicNoneBorderDlg> dialog;
  // A text control across the lower edge of the band, as the title of a skin may be.
  auto* title = new PressRecording<CShowTextCtrl>(&dialog);
  title->setGeometry(150, 4, 100, 40);
  dialog.SetRegionBitmapPath(
      QStringLiteral(TARVELO_SOURCE_DIR "/res/skin/SearchDevice_BlackGround.bmp"));
  dialog.resize(kDialogSize);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  ASSERT_DOUBLE_EQ(dialog.devicePixelRatioF(), ratio);
  // The dialog itself keeps its logical size and the logical mask of the bitmap.
  EXPECT_EQ(dialog.size(), kDialogSize);
  EXPECT_FALSE(dialog.mask().contains(QPoint(4, 0)));
  EXPECT_TRUE(dialog.mask().contains(QPoint(5, 0)));
  const auto window = static_cast<Window>(dialog.winId());
  XSync(x, False);

  // On the server the window has the device size and the same corners, cut in device pixels:
  // each device row as much as the logical rows it shows, times the ratio. At a ratio that is
  // not whole, a device row may show parts of two logical rows, and Qt rounds the edges of the
  // region's rectangles one by one, so a cut may be a device pixel off and differ by one from the
  // other corner's.
  const ServerShape shape(x, window);
  EXPECT_EQ(shape.Width(), std::lround(kDialogSize.width() * ratio));
  EXPECT_EQ(shape.Height(), std::lround(kDialogSize.height() * ratio));
  const bool whole = ratio == std::floor(ratio);
  const auto logicalCut = [](int row) { return row < 4 ? kCornerCut[row] : 0; };
  for (int y = 0; y < static_cast<int>(std::ceil(6 * ratio)); ++y) {
    const int firstRow = static_cast<int>(std::floor(y / ratio));
    const int lastRow = static_cast<int>(std::ceil((y + 1) / ratio)) - 1;
    const double least = logicalCut(lastRow) * ratio - (whole ? 0 : 1);
    const double most = logicalCut(firstRow) * ratio + (whole ? 0 : 1);
    const auto [left, right] = shape.Cut(y);
    SCOPED_TRACE("device row " + std::to_string(y));
    EXPECT_LE(std::abs(left - right), whole ? 0 : 1) << "the corners differ";
    for (const int cut : {left, right}) {
      EXPECT_GE(cut, least);
      EXPECT_LE(cut, most);
    }
  }
  // Below the corners and along the bottom the window is whole.
  for (const int y :
       {static_cast<int>(std::ceil(4 * ratio)) + 1, shape.Height() / 2, shape.Height() - 1}) {
    EXPECT_EQ(shape.Cut(y), std::make_pair(0, 0)) << "device row " << y;
  }

  // The drag band: presses in the last device row of its 28 logical pixels drag the window,
  // presses in the first device row below it do not, on the dialog and on a control alike, and
  // both see logical positions.
  if (RunProgram({"xdotool", "version"}) != 0) {
    GTEST_SKIP() << "xdotool is not available to press the mouse";
  }
  drags.clear();
  SetWindowDragHook(RecordDrag);
  const int firstBelow = static_cast<int>(std::ceil(kDragBandHeight * ratio));
  struct Press {
    const char* where;
    std::vector<QPointF>* presses;
    int logicalX;
    int deviceY;
    bool drags;
  };
  const Press presses[] = {
      {"dialog", &dialog.presses, 100, firstBelow - 1, true},
      {"dialog", &dialog.presses, 100, firstBelow, false},
      {"control", &title->presses, 200, firstBelow - 1, true},
      {"control", &title->presses, 200, firstBelow, false},
  };
  for (const Press& press : presses) {
    SCOPED_TRACE(std::string(press.where) + ", device row " + std::to_string(press.deviceY));
    const std::size_t pressesBefore = press.presses->size();
    const std::size_t dragsBefore = drags.size();
    ASSERT_TRUE(ClickAt(window, static_cast<int>(press.logicalX * ratio), press.deviceY));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
          QApplication::processEvents();
          return press.presses->size() > pressesBefore;
        },
        std::chrono::seconds(5)))
        << "the press did not arrive";
    const QPointF position = press.presses->back();
    EXPECT_NEAR(position.y(), press.deviceY / ratio, 0.01);
    EXPECT_NEAR(position.x(), press.logicalX, 0.01);
    EXPECT_EQ(drags.size() > dragsBefore, press.drags);
  }
  SetWindowDragHook(nullptr);
}

}  // namespace
