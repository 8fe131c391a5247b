#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>

#include "app/CommandLine.h"
#include "app/VexiloApp.h"
#include "app/VexiloDlg.h"

namespace {

// The application id: desktops match the window to its desktop entry, metainfo and icon by it.
constexpr char kApplicationId[] = "org.tarvelo.Tarvelo";

int OpenWindow(int argc, char* argv[], const std::string& logFile) {
  // Without a display the window cannot open; say so instead of letting the platform abort.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    ReportLine(stderr,
               "the window needs a display (DISPLAY or WAYLAND_DISPLAY is not set); see "
               "tarvelo --help for the command-line modes");
    return kExitFailure;
  }
  // Taken before the application object exists: Qt's X11 platform removes DESKTOP_STARTUP_ID
  // from the environment as it starts.
  LaunchActivationTokens();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kProductTitle));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
  CVexiloApp app(logFile);
  app.InitInstance();
  return app.ExitInstance();
}

}  // namespace

int main(int argc, char* argv[]) {
  const CommandArguments arguments(argv + 1, argv + argc);
  return RunCommandLine(arguments, stdout, stderr, [&](const std::string& logFile) {
    return OpenWindow(argc, argv, logFile);
  });
}
