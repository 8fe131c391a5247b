#pragma once

// The file-manager windows of an X11 desktop, through the window manager (EWMH over Xlib).

#include <optional>
#include <string>

// Whether a top-level window belongs to a known file manager (by either part of its WM_CLASS) and
// shows the device: its title holds the address as a whole token, which covers "smb://ADDRESS/",
// "\\ADDRESS", "Windows shares on ADDRESS", "SHARE on ADDRESS - Thunar" and a bare "ADDRESS". A
// view inside a share that is titled with the share's name alone is not recognised. Text is UTF-8.
bool IsFileManagerWindowOf(const std::string& instanceName, const std::string& className,
                           const std::string& title, const std::string& address);

// Asks the window manager to close every file-manager window that shows the device, as if the
// user had clicked its close button; returns how many were asked. Nothing when there is no X
// display to ask (a Wayland session's own windows are out of reach too).
std::optional<int> CloseFileManagerWindows(const std::string& address);

// The X server's time now, which a startup id carries so that the window manager lets the
// window it announces come to the front. Nothing without an X display.
std::optional<unsigned long> CurrentXServerTime();
