#include "platform/StartupNotification.h"

#include <algorithm>
#include <cstring>

#include <QGuiApplication>
#include <QWindow>

// Xlib last: its macros (None, Bool, Status, ...) would otherwise clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// A startup-notification message travels in client messages of 20 bytes each.
constexpr int kMessageChunk = 20;

}  // namespace

QByteArray StartupRemoveMessage(const QByteArray& startupId) {
  const bool quoted = std::any_of(startupId.begin(), startupId.end(),
                                  [](char c) { return c == ' ' || c == '"' || c == '\\'; });
  QByteArray value;
  if (quoted) {
    value += '"';
    for (const char c : startupId) {
      if (c == '"' || c == '\\') {
        value += '\\';
      }
      value += c;
    }
    value += '"';
  } else {
    value = startupId;
  }
  return QByteArrayLiteral("remove: ID=") + value;
}

bool CompleteX11Startup(QWindow* window, const QByteArray& startupId) {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->display() == nullptr || window == nullptr || startupId.isEmpty()) {
    return false;
  }
  Display* display = x11->display();
  const auto windowId = static_cast<Window>(window->winId());
  if (windowId == 0) {
    return false;
  }
  XChangeProperty(display, windowId, XInternAtom(display, "_NET_STARTUP_ID", False),
                  XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(startupId.constData()),
                  static_cast<int>(startupId.size()));

  // The message goes to the root window in pieces, the first as _NET_STARTUP_INFO_BEGIN and the
  // rest as _NET_STARTUP_INFO, its terminating NUL included.
  const QByteArray message = StartupRemoveMessage(startupId) + '\0';
  const Window root = DefaultRootWindow(display);
  const Atom begin = XInternAtom(display, "_NET_STARTUP_INFO_BEGIN", False);
  const Atom more = XInternAtom(display, "_NET_STARTUP_INFO", False);
  for (qsizetype offset = 0; offset < message.size(); offset += kMessageChunk) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = windowId;
    event.xclient.message_type = offset == 0 ? begin : more;
    event.xclient.format = 8;
    const qsizetype length = std::min<qsizetype>(kMessageChunk, message.size() - offset);
    std::memcpy(event.xclient.data.b, message.constData() + offset,
                static_cast<std::size_t>(length));
    XSendEvent(display, root, False, PropertyChangeMask, &event);
  }
  XFlush(display);
  return true;
}
