#pragma once

// `tarvelo --check-layout FILE [--dialog ID] [--variant NAME] [--skin-dir DIR]`: reads a layout
// document with the layout store, exactly as the window would, and prints the records it holds as
// one JSON object. On standard error it lists what a skin author should know: why the read failed,
// what the reader's limits left out or cut, images that cannot be loaded, class names the control
// factory does not create, fonts that would draw no text. It needs no display.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "layout/LayoutRecords.h"
#include "platform/SkinFile.h"

inline constexpr std::int32_t kDefaultCheckDialog = 201;
inline constexpr char kDefaultCheckVariant[] = "Standard";

struct LayoutCheckOptions {
  std::string file;
  std::int32_t dialogId = kDefaultCheckDialog;
  std::string variant = kDefaultCheckVariant;
  // A folder of the author's own images, looked in first; empty for none.
  std::string skinDir;

  bool operator==(const LayoutCheckOptions&) const = default;
};

struct LayoutCheckCommandLine {
  enum class Action { Check, Help, Error };
  Action action = Action::Error;
  LayoutCheckOptions options;
  // The image to write; only the preview mode takes it.
  std::string out;
  // For Action::Error: one line without the program name and without a line break.
  std::string error;
};

// Parses the arguments that follow the program name. Touches nothing.
LayoutCheckCommandLine ParseLayoutCheckCommandLine(const std::vector<std::string>& arguments);

// The same for the layout modes in general: `mode` is the option that names the file
// ("--check-layout", "--render-layout"); with `needsOut` the mode also needs --out FILE.
LayoutCheckCommandLine ParseLayoutCommandLine(const std::vector<std::string>& arguments,
                                              const std::string& mode, bool needsOut);

// The text of --help, ending in a line break.
std::string LayoutCheckUsage();

// Where the layout modes find images (SkinImageSources): the author's folder `skinDir` first, the
// deployed skin next, and the program's own skin for what the deployed skin lacks, so that an
// account where the window never ran sees the real picture. Nothing, with `error` set, when
// `skinDir` is given but is not a folder.
std::optional<SkinImageSources> LayoutToolImageSources(const std::string& skinDir,
                                                       std::string& error);

// The records as one JSON object with the keys "dialog", "controls" (in control-table order) and
// "strings", ending in a line break.
std::string LayoutToJson(const DialogInfo& record);

// The findings about a record that was read: missing images, unknown class names, fonts that draw
// no text. One line each, without line breaks. Needs a QGuiApplication for the fonts.
QStringList LayoutWarnings(const DialogInfo& record);

// The mode as a whole; returns the exit status: 0 when the document was read to its end within
// the reader's limits, 1 when the file could not be read or is not XML, the reader returned false
// or reached a limit (LayoutReader.h), or the result could not be written, 2 for a usage error.
int RunLayoutCheckCommand(const std::vector<std::string>& arguments, std::FILE* out,
                          std::FILE* err);
