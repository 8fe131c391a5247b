#pragma once

// The X11 half of bringing a window to the front for a start that a launcher announced with a
// startup id (DESKTOP_STARTUP_ID), as the freedesktop.org startup-notification protocol asks of
// a program that shows an existing window instead of a new one.

#include <QByteArray>

class QWindow;

// The message that ends the start `startupId`: `remove: ID=VALUE`, the value quoted when it holds
// a space, a quote or a backslash.
QByteArray StartupRemoveMessage(const QByteArray& startupId);

// Gives `window` the startup id (its _NET_STARTUP_ID property: a window manager activates a
// mapped window whose startup id changes, with the time of that start, past its focus-stealing
// prevention) and ends the start with the remove message, so that the launcher's busy cursor
// stops. False when the program is not on an X11 display or the window has no native window.
bool CompleteX11Startup(QWindow* window, const QByteArray& startupId);
