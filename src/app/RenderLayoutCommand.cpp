#include "app/RenderLayoutCommand.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>

#include "app/CommandLine.h"
#include "app/LayoutCheckCommand.h"
#include "app/LayoutDialog.h"
#include "app/OffscreenApplication.h"
#include "app/SearchCommand.h"
#include "app/SkinDeployment.h"
#include "layout/LayoutReader.h"
#include "platform/SkinFile.h"

QImage RenderLayout(const QString& path, int dialogId, const QString& variant,
                    QStringList* problems) {
  QStringList found;
  CLayoutDialog dialog;
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  const bool read = dialog.ReadLayout(path, dialogId, variant);
  if (!read) {
    found << QStringLiteral("the document was not read to its end: %1")
                 .arg(dialog.GetReadReport().error);
  } else if (dialog.GetDialogInfo().dialogID != dialogId) {
    found << QStringLiteral("%1 has no dialog %2").arg(path).arg(dialogId);
  } else if (dialog.GetReadReport().dialogTooLarge) {
    // The window would be cut to the limit; a preview of a cut window would mislead the author.
    found << QStringLiteral("the dialog is larger than %1 x %1 pixels; no image is made")
                 .arg(kMaxLayoutDialogSize);
  }
  if (!found.isEmpty()) {
    if (problems != nullptr) {
      *problems << found << dialog.GetReadReport().notes;
    }
    return QImage();
  }
  if (problems != nullptr) {
    // What the reader's limits left out or cut: the image shows the window as it would be.
    if (dialog.GetReadReport().limited) {
      *problems << dialog.GetReadReport().notes;
    }
    if (const LoadedSkinImage shape = LoadSkinImage(dialog.regionBitmapPath);
        shape.image.isNull()) {
      *problems << QStringLiteral("no window shape: %1 %2; the corners are not cut")
                       .arg(dialog.regionBitmapPath, shape.problem);
    }
  }
  dialog.ApplyLayout();
  dialog.show();
  QApplication::processEvents();
  // The grab has the device pixels of the screen's ratio (656 x 490 for the 328 x 245 dialog
  // at ratio 2) and that ratio, so the painter below works in the dialog's logical pixels.
  QImage image = dialog.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  if (!dialog.mask().isEmpty()) {
    // What lies outside the window's shape is not part of the window.
    const QRect client(QPoint(0, 0), dialog.size());
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setClipRegion(QRegion(client).subtracted(dialog.mask()));
    painter.fillRect(client, Qt::transparent);
  }
  dialog.hide();
  if (image.isNull() && problems != nullptr) {
    *problems << QStringLiteral("no image of %1 x %2 pixels could be made")
                     .arg(dialog.width())
                     .arg(dialog.height());
  }
  return image;
}

std::string RenderLayoutUsage() {
  return "Usage: tarvelo --render-layout FILE --out PNG [--dialog ID] [--variant NAME]\n"
         "                               [--skin-dir DIR]\n"
         "\n"
         "Builds the dialog of the layout document FILE as the window would, without a\n"
         "display and without searching, and saves what it would show as the PNG image\n"
         "PNG, of the dialog's size in device pixels: twice the layout's size with\n"
         "QT_SCALE_FACTOR=2, drawn from the skin's images of twice the size. Outside the\n"
         "window shape the image is transparent.\n"
         "\n"
         "  --out PNG       the image to write\n"
         "  --dialog ID     the dialog to build (default 201)\n"
         "  --variant NAME  the layout variant to build (default Standard)\n"
         "  --skin-dir DIR  look for each image in DIR first, by its file name\n"
         "  --help          show this help\n"
         "\n"
         "An image (the window shape too) is taken from DIR, else from its own file below\n"
         "the deployed skin, else, when that file does not exist, from the program's own\n"
         "skin: the picture is the real one even before the window first ran.\n"
         "\n"
         "Controls beyond the first " +
         std::to_string(kMaxLayoutCtrls) + " are left out and texts cut to " +
         std::to_string(kMaxLayoutTextLength) +
         "\n"
         "characters, as the window does; standard error says so.\n"
         "\n"
         "Exit status: 0 when the image was written, 1 when the document could not be read\n"
         "to its end, has no such dialog, is larger than " +
         std::to_string(kMaxLayoutDialogSize) + " x " + std::to_string(kMaxLayoutDialogSize) +
         " pixels, or the image\n"
         "could not be made or written, 2 for a usage error.\n";
}

int RunRenderLayoutCommand(const std::vector<std::string>& arguments, std::FILE* out,
                           std::FILE* err) {
  const LayoutCheckCommandLine commandLine =
      ParseLayoutCommandLine(arguments, "--render-layout", true);
  switch (commandLine.action) {
    case LayoutCheckCommandLine::Action::Help:
      return WriteText(out, RenderLayoutUsage()) ? kExitSuccess : kExitFailure;
    case LayoutCheckCommandLine::Action::Error:
      return UsageError(err, commandLine.error, "--render-layout");
    case LayoutCheckCommandLine::Action::Check:
      break;
  }
  std::string error;
  std::optional<SkinImageSources> sources =
      LayoutToolImageSources(commandLine.options.skinDir, error);
  if (!sources) {
    return UsageError(err, error, "--render-layout");
  }
  const ScopedSkinImageSources images(std::move(*sources));
  const QuietQtMessages quiet;
  const std::unique_ptr<QCoreApplication> application = EnsureOffscreenApplication(true);
  const LayoutCheckOptions& options = commandLine.options;
  const QString path = QFileInfo(QString::fromLocal8Bit(options.file)).absoluteFilePath();
  QStringList problems;
  const QImage image =
      RenderLayout(path, options.dialogId, QString::fromStdString(options.variant), &problems);
  for (const QString& problem : problems) {
    ReportLine(err, problem.toLocal8Bit().toStdString());
  }
  if (image.isNull()) {
    return kExitFailure;
  }
  const QString target = QString::fromLocal8Bit(commandLine.out);
  if (!image.save(target, "PNG")) {
    ReportLine(err, "cannot write " + target.toLocal8Bit().toStdString());
    return kExitFailure;
  }
  return kExitSuccess;
}
