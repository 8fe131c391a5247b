// tarvelo-skin-art: draws the images of the main window's skin and writes them into a folder,
// normally res/skin of the source tree. With --preview it also renders a mock-up of the dialog
// built from those images, for whoever changes the design.

#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

#include "SkinArt.h"

namespace {

constexpr const char* kUsage =
    "usage: tarvelo-skin-art [--preview FILE [--scale N] [--ratio R]] [--icons FOLDER] "
    "[OUTPUT_FOLDER]\n"
    "  OUTPUT_FOLDER   write the skin images there (normally res/skin): the eight images of\n"
    "                  the window and their twins of twice the size, NAME@2x.png\n"
    "  --preview FILE  write a PNG mock-up of the dialog and of every button state\n"
    "  --icons FOLDER  write the application icon at every size and as SVG into that\n"
    "                  hicolor theme folder (normally res/icons/hicolor)\n"
    "  --scale N       enlarge the mock-up N times with hard pixel edges\n"
    "  --ratio R       draw the mock-up for device pixel ratio R (1 or 2) from the images\n"
    "                  of that ratio\n";

int UsageFailure(const QString& message) {
  std::fprintf(stderr, "tarvelo-skin-art: %s\n%s", qPrintable(message), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The mock-up draws text, which needs a GUI application; the offscreen platform lets the tool
  // run on build machines without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication application(argc, argv);

  QString outputFolder;
  QString previewFile;
  QString iconFolder;
  int scale = 1;
  int ratio = 1;
  const QStringList arguments = application.arguments().mid(1);
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argument == "--preview" || argument == "--scale" || argument == "--icons" ||
        argument == "--ratio") {
      if (i + 1 >= arguments.size()) {
        return UsageFailure(argument + " needs a value");
      }
      const QString value = arguments[++i];
      if (argument == "--preview") {
        previewFile = value;
        continue;
      }
      if (argument == "--icons") {
        iconFolder = value;
        continue;
      }
      bool ok = false;
      if (argument == "--ratio") {
        ratio = value.toInt(&ok);
        if (!ok || (ratio != 1 && ratio != 2)) {
          return UsageFailure("--ratio takes 1 or 2");
        }
        continue;
      }
      scale = value.toInt(&ok);
      if (!ok || scale < 1 || scale > 16) {
        return UsageFailure("--scale takes a whole number from 1 to 16");
      }
    } else if (argument.startsWith("-")) {
      return UsageFailure("unknown option " + argument);
    } else if (outputFolder.isEmpty()) {
      outputFolder = argument;
    } else {
      return UsageFailure("only one output folder can be given");
    }
  }
  if (!iconFolder.isEmpty()) {
    QString error;
    if (!skinart::SaveAppIcons(iconFolder, &error)) {
      std::fprintf(stderr, "tarvelo-skin-art: %s\n", qPrintable(error));
      return 1;
    }
  }
  if (outputFolder.isEmpty() && previewFile.isEmpty() && iconFolder.isEmpty()) {
    return UsageFailure("nothing to do");
  }

  const std::vector<skinart::SkinImage> images = skinart::DrawSkinImages();
  if (!outputFolder.isEmpty()) {
    QString error;
    if (!skinart::SaveSkinImages(images, outputFolder, &error)) {
      std::fprintf(stderr, "tarvelo-skin-art: %s\n", qPrintable(error));
      return 1;
    }
  }
  if (!previewFile.isEmpty() &&
      !skinart::DrawSkinPreview(images, scale, ratio).save(previewFile, "png")) {
    std::fprintf(stderr, "tarvelo-skin-art: cannot write %s\n", qPrintable(previewFile));
    return 1;
  }
  return 0;
}
