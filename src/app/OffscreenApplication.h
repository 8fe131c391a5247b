#pragma once

// The layout modes of the command line use fonts, images and widgets but never a display: they
// run on Qt's offscreen platform, whatever the environment says.

#include <memory>

#include <QCoreApplication>

// A QApplication (with `widgets`) or QGuiApplication on the offscreen platform, unless an
// application exists already (then null, and the existing one serves).
std::unique_ptr<QCoreApplication> EnsureOffscreenApplication(bool widgets);

// Keeps Qt's messages below critical off standard error while it lives: an unset runtime folder
// and the like would read like findings of the command.
class QuietQtMessages {
 public:
  QuietQtMessages();
  ~QuietQtMessages();
  QuietQtMessages(const QuietQtMessages&) = delete;
  QuietQtMessages& operator=(const QuietQtMessages&) = delete;

 private:
  QtMessageHandler previous_;
};
