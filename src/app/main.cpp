#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>

#include "app/LayoutCheckCommand.h"
#include "app/RenderLayoutCommand.h"
#include "app/SearchCommand.h"
#include "app/VexiloApp.h"
#include "app/VexiloDlg.h"

namespace {

// True when `mode` stands among the arguments, alone or as "mode=value".
bool NamesMode(const std::vector<std::string>& arguments, const std::string& mode) {
  return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
    return argument == mode || argument.rfind(mode + "=", 0) == 0;
  });
}

// True when the arguments ask for the window: none, or only "--log FILE" ("--log=FILE").
bool WindowArguments(const std::vector<std::string>& arguments, std::string& logFile) {
  if (arguments.empty()) {
    return true;
  }
  if (arguments.size() == 2 && arguments[0] == "--log" && !arguments[1].empty() &&
      arguments[1].rfind("--", 0) != 0) {
    logFile = arguments[1];
    return true;
  }
  if (arguments.size() == 1 && arguments[0].rfind("--log=", 0) == 0 && arguments[0].size() > 6) {
    logFile = arguments[0].substr(6);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // The window is what a start without arguments (or with only a log file) opens; any other
  // argument selects a command-line mode.
  if (NamesMode(arguments, "--check-layout")) {
    return RunLayoutCheckCommand(arguments, stdout, stderr);
  }
  if (NamesMode(arguments, "--render-layout")) {
    return RunRenderLayoutCommand(arguments, stdout, stderr);
  }
  std::string logFile;
  if (WindowArguments(arguments, logFile)) {
    // Without a display the window cannot open; say so instead of letting the platform abort.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      std::fputs("tarvelo: the window needs a display (DISPLAY or WAYLAND_DISPLAY is not set); "
                 "see tarvelo --help for the command-line modes\n",
                 stderr);
      return kExitFailure;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProductTitle));
    // Desktops match the window to its desktop entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvelo"));
    CVexiloApp app(logFile);
    app.InitInstance();
    return app.ExitInstance();
  }
  return RunSearchCommand(arguments, stdout, stderr);
}
