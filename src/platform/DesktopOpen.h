#pragma once

// Opening a location on the user's desktop: with the application they prefer for it (xdg-open),
// or in a folder view of the file manager that offers the freedesktop.org FileManager1 service.

#include <QDBusConnection>
#include <QString>

// Opens LOCATION with the user's preferred application through xdg-open, which passes STARTUP_ID
// on to it. Waits a few seconds for xdg-open's verdict: a launcher that is still running by then
// (some wait for the application they started) counts as having opened it. Empty on success,
// else why nothing was opened.
QString OpenWithPreferredApplication(const QString& location, const QString& startupId);

// Asks the FileManager1 service on BUS to show FOLDER (starting the file manager when needed).
// Empty on success, else the reason.
QString ShowFolderInFileManager(const QDBusConnection& bus, const QString& folder,
                                const QString& startupId);

// The program (canonical path) that provides the FileManager1 service on BUS, whether it runs
// now or the bus would start it; empty when nobody offers the service.
QString FileManagerServiceProgram(const QDBusConnection& bus);

// Whether the FileManager1 service on BUS is the user's preferred application for folders, so
// that asking it opens the file manager the user chose. When the user prefers no application,
// whoever offers the service is taken.
bool FileManagerServiceIsPreferred(const QDBusConnection& bus);

// A startup id (startup-notification form, "UNIQUE_TIMESTAMP") for a window about to be opened
// at the user's request. The window manager lets the window that carries it come to the front.
// Empty without an X display.
QString NewStartupId();

// A program named as in a desktop entry or a service file ("thunar", "/usr/bin/Thunar"), looked
// up on PATH when it has no folder, with every symbolic link resolved; empty when not found.
QString CanonicalProgram(const QString& program);
