#include "platform/FileManagerWindows.h"

#include <strings.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/HostMatch.h"

// Xlib's headers define macros such as None, Bool and Status; nothing else follows them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// A window can vanish between listing and reading it; its BadWindow error must not end the
// program, which is what Xlib's default handler does. The handler is process-wide, so it is set
// once and left in place; it only swallows errors, which every caller here checks for itself.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

// A connection of its own, so that it can be used from any thread.
DisplayConnection OpenDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    return nullptr;
  }
  static const bool handlerSet = (XSetErrorHandler(IgnoreXErrors), true);
  (void)handlerSet;
  return DisplayConnection(XOpenDisplay(name));
}

// Reads a whole property of one type; empty when it is missing or of another type or format.
std::string ReadProperty(Display* display, Window window, Atom property, Atom type, int format) {
  Atom actualType = 0;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, property, 0, 0x7fffffffL, False, type, &actualType,
                         &actualFormat, &count, &remaining, &data) == Success &&
      data != nullptr) {
    if (actualType == type && actualFormat == format) {
      // Xlib returns 32-bit items as longs.
      const std::size_t itemSize = format == 32 ? sizeof(long) : format / 8;
      value.assign(reinterpret_cast<const char*>(data), count * itemSize);
    }
    XFree(data);
  }
  return value;
}

std::string WindowTitle(Display* display, Window window) {
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  std::string title = ReadProperty(display, window, netWmName, utf8String, 8);
  if (title.empty()) {
    title = ReadProperty(display, window, XA_WM_NAME, XA_STRING, 8);
  }
  return title;
}

}  // namespace

bool IsFileManagerWindowOf(const std::string& instanceName, const std::string& className,
                           const std::string& title, const std::string& address) {
  static const char* const kFileManagers[] = {
      "nautilus", "org.gnome.Nautilus", "dolphin", "thunar", "nemo", "caja",
      "pcmanfm",  "pcmanfm-qt"};
  // Programs differ in how they capitalise their class ("Thunar", "Pcmanfm", "org.gnome.Nautilus").
  const auto is = [](const std::string& part, const char* name) {
    return part.size() == std::strlen(name) && strcasecmp(part.c_str(), name) == 0;
  };
  const bool known =
      std::any_of(std::begin(kFileManagers), std::end(kFileManagers),
                  [&](const char* name) { return is(instanceName, name) || is(className, name); });
  return known && HoldsAddressToken(title, address);
}

std::optional<int> CloseFileManagerWindows(const std::string& address) {
  const DisplayConnection display = OpenDisplay();
  if (!display) {
    return std::nullopt;
  }
  const Window root = DefaultRootWindow(display.get());
  const Atom clientList = XInternAtom(display.get(), "_NET_CLIENT_LIST", False);
  const Atom closeWindow = XInternAtom(display.get(), "_NET_CLOSE_WINDOW", False);
  // The window manager lists the top-level windows it manages; without one that speaks EWMH
  // there is nobody to close them either.
  const std::string list = ReadProperty(display.get(), root, clientList, XA_WINDOW, 32);
  std::vector<Window> windows;
  for (std::size_t at = 0; at + sizeof(long) <= list.size(); at += sizeof(long)) {
    unsigned long id = 0;
    std::memcpy(&id, list.data() + at, sizeof(id));
    windows.push_back(static_cast<Window>(id));
  }
  int closed = 0;
  for (const Window window : windows) {
    XClassHint hint{};
    std::string instanceName;
    std::string className;
    if (XGetClassHint(display.get(), window, &hint) != 0) {
      instanceName = hint.res_name != nullptr ? hint.res_name : "";
      className = hint.res_class != nullptr ? hint.res_class : "";
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    if (!IsFileManagerWindowOf(instanceName, className, WindowTitle(display.get(), window),
                               address)) {
      continue;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = closeWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;  // source: a direct user action
    XSendEvent(display.get(), root, False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    ++closed;
  }
  XSync(display.get(), False);
  return closed;
}

std::optional<unsigned long> CurrentXServerTime() {
  const DisplayConnection display = OpenDisplay();
  if (!display) {
    return std::nullopt;
  }
  // The server stamps every property change with its time: change a property of a window of our
  // own and read the stamp from the notification.
  const Window window =
      XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display.get(), window, PropertyChangeMask);
  const Atom property = XInternAtom(display.get(), "_TARVELO_TIME", False);
  XChangeProperty(display.get(), window, property, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XEvent event{};
  XWindowEvent(display.get(), window, PropertyChangeMask, &event);
  const unsigned long time = event.xproperty.time;
  XDestroyWindow(display.get(), window);
  return time;
}
