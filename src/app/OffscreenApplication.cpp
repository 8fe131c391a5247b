#include "app/OffscreenApplication.h"

#include <cstdio>

#include <QApplication>
#include <QGuiApplication>

namespace {

void CriticalMessagesOnly(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "tarvelo: %s\n", message.toLocal8Bit().constData());
  }
}

}  // namespace

std::unique_ptr<QCoreApplication> EnsureOffscreenApplication(bool widgets) {
  if (QCoreApplication::instance() != nullptr) {
    return nullptr;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "tarvelo";
  static char* argv[] = {name, nullptr};
  if (widgets) {
    return std::make_unique<QApplication>(argc, argv);
  }
  return std::make_unique<QGuiApplication>(argc, argv);
}

QuietQtMessages::QuietQtMessages() : previous_(qInstallMessageHandler(CriticalMessagesOnly)) {}

QuietQtMessages::~QuietQtMessages() { qInstallMessageHandler(previous_); }
