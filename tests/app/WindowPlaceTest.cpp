// Where the window opens: the remembered place while it is still on a screen, moved inside a
// screen it only partly lies on, else centred on the screen under the pointer.

#include "app/WindowPlace.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowPlaceTest, RememberedPlaceOnScreenElseCentredUnderThePointer) {
  const QSize window(328, 245);
  // Two screens side by side, the right one taller; their available areas leave out a panel.
  const QList<QRect> screens = {QRect(0, 0, 1920, 1050), QRect(1920, 0, 1280, 1400)};
  struct Case {
    const char* what;
    std::optional<QPoint> remembered;
    QPoint pointer;
    QPoint expected;
  };
  const Case cases[] = {
      {"first start, pointer on the left screen", std::nullopt, {100, 100}, {796, 402}},
      {"first start, pointer on the right screen", std::nullopt, {2000, 900}, {2396, 577}},
      {"first start, pointer between screens", std::nullopt, {5000, 5000}, {796, 402}},
      {"remembered on the right screen", QPoint(2500, 1100), {0, 0}, {2500, 1100}},
      {"remembered on the edge of a screen", QPoint(1920 - 328, 1050 - 245), {0, 0}, {1592, 805}},
      {"remembered half below the left screen", QPoint(300, 1000), {0, 0}, {300, 805}},
      {"remembered across both screens, mostly right", QPoint(1800, 50), {0, 0}, {1920, 50}},
      {"remembered above every screen", QPoint(100, -200), {0, 0}, {100, 0}},
      {"remembered where a screen was unplugged", QPoint(4000, 100), {2000, 900}, {2396, 577}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ChooseWindowPlace(c.remembered, window, screens, c.pointer), c.expected);
  }
  EXPECT_EQ(ChooseWindowPlace(QPoint(5, 6), window, {}, {}), QPoint(5, 6));
  EXPECT_EQ(ChooseWindowPlace(std::nullopt, window, {}, {}), QPoint(0, 0));
}

}  // namespace
