#pragma once

// `tarvelo --render-layout FILE --out PNG [--dialog ID] [--variant NAME]`: builds the dialog of a
// layout document offscreen, with the control factory's passes as the main window runs them (no
// search, no network), and saves what the window would show as a PNG of the dialog's size, with
// the window shape applied (cut corners transparent). For skin authors; needs no display.

#include <cstdio>
#include <string>
#include <vector>

#include <QImage>
#include <QString>
#include <QStringList>

// The dialog of `path` (dialog `dialogId`, `variant`) as the window would show it; transparent
// outside the window shape. A null image when the document could not be read to its end, has
// no such dialog or a dialog larger than kMaxLayoutDialogSize; `problems` then says why, and also
// names a window-shape bitmap that cannot be loaded and what the reader's limits left out or cut.
// Needs a QApplication.
QImage RenderLayout(const QString& path, int dialogId, const QString& variant,
                    QStringList* problems = nullptr);

// The text of --help, ending in a line break.
std::string RenderLayoutUsage();

// The mode as a whole; returns the exit status: 0 when the image was written (what the reader's
// limits left out or cut is said on `err`), 1 when it could not be (the document cannot be read
// to its end, lacks the dialog, or its dialog is larger than kMaxLayoutDialogSize), 2 for a usage
// error.
int RunRenderLayoutCommand(const std::vector<std::string>& arguments, std::FILE* out,
                           std::FILE* err);
