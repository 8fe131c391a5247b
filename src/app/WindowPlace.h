#pragma once

// Where the window opens: where the user last left it, as long as that place is still on a
// screen, else in the middle of the screen under the pointer. The place is remembered in the
// user's configuration folder ($XDG_CONFIG_HOME/tarvelo/tarvelo.conf).

#include <optional>

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// The top-left corner for a window of SIZE. REMEMBERED is used when the window lies whole inside
// one of SCREENS (their available areas) there; a window that lies partly on a screen is moved
// just inside that screen (the one it overlaps most); otherwise, or with nothing remembered, it is
// centred on the screen that holds POINTER (the first screen when none does). Without screens the
// remembered place, else the origin.
QPoint ChooseWindowPlace(const std::optional<QPoint>& remembered, const QSize& size,
                         const QList<QRect>& screens, const QPoint& pointer);

// The remembered place, if any, and remembering a new one.
std::optional<QPoint> RememberedWindowPlace();
void RememberWindowPlace(const QPoint& place);
