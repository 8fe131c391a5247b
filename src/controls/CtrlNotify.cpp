#include "controls/CtrlNotify.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <QWindow>

namespace {

constexpr char kCtrlIdProperty[] = "tarveloCtrlId";

WindowDragHook windowDragHook = nullptr;

// Moves a window with the mouse until the left button is released, for window systems that do
// not move windows themselves (offscreen, some X11 setups).
class ManualWindowDrag : public QObject {
 public:
  ManualWindowDrag(QWidget* window, QPoint globalPosition)
      : window_(window), grabOffset_(globalPosition - window->frameGeometry().topLeft()) {
    qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (window_.isNull()) {
      deleteLater();
      return false;
    }
    if (event->type() == QEvent::MouseMove) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if ((mouse->buttons() & Qt::LeftButton) != 0) {
        window_->move(mouse->globalPosition().toPoint() - grabOffset_);
        return false;
      }
    }
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseMove) {
      qApp->removeEventFilter(this);
      deleteLater();
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
  QPoint grabOffset_;
};

}  // namespace

int GetCtrlId(const QWidget* control) {
  return control == nullptr ? 0 : control->property(kCtrlIdProperty).toInt();
}

void SetCtrlId(QWidget* control, int ctrlId) {
  if (control != nullptr) {
    control->setProperty(kCtrlIdProperty, ctrlId);
  }
}

QWidget* FindDlgItem(const QWidget* dialog, int ctrlId) {
  if (dialog == nullptr) {
    return nullptr;
  }
  for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    // A child without an identifier is not control 0.
    if (child->property(kCtrlIdProperty).isValid() && GetCtrlId(child) == ctrlId) {
      return child;
    }
  }
  return nullptr;
}

CCtrlNotifySink* FindNotifySink(const QWidget* control) {
  for (QWidget* ancestor = control != nullptr ? control->parentWidget() : nullptr;
       ancestor != nullptr; ancestor = ancestor->parentWidget()) {
    if (auto* sink = dynamic_cast<CCtrlNotifySink*>(ancestor)) {
      return sink;
    }
  }
  return nullptr;
}

void SendCtrlCommand(const QWidget* control, int notifyCode) {
  if (CCtrlNotifySink* sink = FindNotifySink(control)) {
    sink->OnCtrlCommand(GetCtrlId(control), notifyCode);
  }
}

void SendCtrlNotify(const QWidget* control, int notifyCode) {
  if (CCtrlNotifySink* sink = FindNotifySink(control)) {
    sink->OnCtrlNotify(GetCtrlId(control), notifyCode);
  }
}

void SendCtrlMessage(const QWidget* control, int message, int wParam, int lParam) {
  if (CCtrlNotifySink* sink = FindNotifySink(control)) {
    sink->OnCtrlMessage(message, wParam, lParam);
  }
}

void StartWindowDrag(QWidget* widget, QPoint globalPosition) {
  QWidget* window = widget != nullptr ? widget->window() : nullptr;
  if (window == nullptr) {
    return;
  }
  if (windowDragHook != nullptr) {
    windowDragHook(window, globalPosition);
    return;
  }
  QWindow* handle = window->windowHandle();
  if (handle != nullptr && handle->startSystemMove()) {
    return;
  }
  new ManualWindowDrag(window, globalPosition);
}

void SetWindowDragHook(WindowDragHook hook) { windowDragHook = hook; }
