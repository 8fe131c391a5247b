#include "app/WindowPlace.h"

#include <algorithm>

#include <QSettings>

namespace {

const QString kPlaceKey = QStringLiteral("window/position");

QSettings Settings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarvelo"),
                   QStringLiteral("tarvelo"));
}

long long Area(const QRect& rect) {
  return rect.isEmpty() ? 0 : static_cast<long long>(rect.width()) * rect.height();
}

}  // namespace

QPoint ChooseWindowPlace(const std::optional<QPoint>& remembered, const QSize& size,
                         const QList<QRect>& screens, const QPoint& pointer) {
  if (screens.isEmpty()) {
    return remembered.value_or(QPoint(0, 0));
  }
  if (remembered) {
    const QRect window(*remembered, size);
    const QRect* best = nullptr;
    for (const QRect& screen : screens) {
      if (screen.contains(window)) {
        return *remembered;
      }
      if (Area(screen.intersected(window)) > (best ? Area(best->intersected(window)) : 0)) {
        best = &screen;
      }
    }
    if (best != nullptr) {
      // Just inside the screen it mostly lies on; a window larger than the screen keeps its
      // top-left corner on it.
      const int x =
          std::max(best->left(), std::min(window.left(), best->right() + 1 - size.width()));
      const int y =
          std::max(best->top(), std::min(window.top(), best->bottom() + 1 - size.height()));
      return QPoint(x, y);
    }
  }
  QRect screen = screens.first();
  for (const QRect& candidate : screens) {
    if (candidate.contains(pointer)) {
      screen = candidate;
      break;
    }
  }
  return QPoint(screen.left() + (screen.width() - size.width()) / 2,
                screen.top() + (screen.height() - size.height()) / 2);
}

std::optional<QPoint> RememberedWindowPlace() {
  const QVariant value = Settings().value(kPlaceKey);
  if (!value.isValid() || !value.canConvert<QPoint>()) {
    return std::nullopt;
  }
  return value.toPoint();
}

void RememberWindowPlace(const QPoint& place) {
  QSettings settings = Settings();
  settings.setValue(kPlaceKey, place);
}
