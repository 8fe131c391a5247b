#include "app/LayoutCheckCommand.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include <QFileInfo>

#include "app/CommandLine.h"
#include "app/JsonText.h"
#include "app/OffscreenApplication.h"
#include "app/SearchCommand.h"
#include "app/SkinDeployment.h"
#include "layout/BasicLayoutFrame.h"
#include "layout/LayoutClasses.h"
#include "platform/FontFamilies.h"
#include "platform/SkinFile.h"
#include "platform/WorkingFolder.h"

namespace {

LayoutCheckCommandLine Failure(std::string error) {
  LayoutCheckCommandLine result;
  result.action = LayoutCheckCommandLine::Action::Error;
  result.error = std::move(error);
  return result;
}

bool ParseDialogId(const std::string& text, std::int32_t& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [last, error] = std::from_chars(begin, end, value);
  return error == std::errc() && last == end && !text.empty();
}

// A JSON array of integers.
std::string IntArray(std::initializer_list<std::int32_t> values) {
  std::string json = "[";
  for (const std::int32_t value : values) {
    if (json.size() > 1) {
      json += ',';
    }
    json += std::to_string(value);
  }
  json += ']';
  return json;
}

std::string Rect(const LayoutRect& rect) {
  return IntArray({rect.left, rect.top, rect.right, rect.bottom});
}

std::string Pair(std::int32_t x, std::int32_t y) { return IntArray({x, y}); }

// Builds one JSON object on one line, keys in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& rawValue) {
    text_ += text_.empty() ? "{" : ",";
    text_ += "\"";
    text_ += key;
    text_ += "\":";
    text_ += rawValue;
    return *this;
  }
  JsonObject& Add(const char* key, const QString& value) { return Add(key, JsonString(value)); }
  JsonObject& Add(const char* key, std::int64_t value) { return Add(key, std::to_string(value)); }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

std::string DialogJson(const DialogInfo& record) {
  return JsonObject()
      .Add("id", record.dialogID)
      .Add("bgPath", record.bgPath)
      .Add("bgColorText", record.bgColorText)
      .Add("bgColor", std::int64_t{record.bgColor})
      .Add("paintMode", record.paintMode)
      .Add("text", record.text)
      .Add("description", record.description)
      .Add("rect", Rect(record.rect))
      .Add("textColorText", record.textColorText)
      .Add("textColor", std::int64_t{record.textColor})
      .Add("textOffset", Pair(record.textOffsetX, record.textOffsetY))
      .Add("font", record.font)
      .Add("fontSize", record.fontSize)
      .Done();
}

std::string CtrlJson(const CtrlInfo& ctrl) {
  return JsonObject()
      .Add("id", ctrl.ctrlID)
      .Add("bgPath", ctrl.bgPath)
      .Add("statusCount", ctrl.statusCount)
      .Add("bgColorText", ctrl.bgColorText)
      .Add("bgColor", std::int64_t{ctrl.bgColor})
      .Add("borderColorText", ctrl.borderColorText)
      .Add("borderColor", std::int64_t{ctrl.borderColor})
      .Add("paintMode", ctrl.paintMode)
      .Add("className", ctrl.className)
      .Add("style", std::int64_t{ctrl.style})
      .Add("posType", ctrl.posType)
      .Add("rect", Rect(ctrl.rect))
      .Add("show", ctrl.show)
      .Add("text", ctrl.text)
      .Add("textOffset", Pair(ctrl.textOffsetX, ctrl.textOffsetY))
      .Add("textColorText", ctrl.textColorText)
      .Add("textColor", std::int64_t{ctrl.textColor})
      .Add("font", ctrl.font)
      .Add("fontSize", ctrl.fontSize)
      .Add("description", ctrl.description)
      .Done();
}

// An image path of the store names an image unless it is the base folder itself (an empty value
// in the document, or one the reader refused). Returns the finding, or an empty text.
QString ImageFinding(const QString& path, const QString& owner) {
  if (path.isEmpty() || path == GetWorkingBaseFolder()) {
    return QString();
  }
  // Loaded as the window loads it, so that what it refuses (not a regular file, too large, not
  // an image, beyond Qt's allocation limit) is named here.
  const LoadedSkinImage image = LoadSkinImage(path);
  if (!image.image.isNull()) {
    return QString();
  }
  return QStringLiteral("%1: image %2 %3; nothing of it is drawn").arg(owner, path, image.problem);
}

QString FontFinding(const QString& family, std::int32_t size, const QString& owner) {
  if (ResolveFontFamily(family).isEmpty()) {
    return QStringLiteral("%1: font \"%2\" is neither installed nor substituted; no text is drawn")
        .arg(owner, family);
  }
  if (size < 1) {
    return QStringLiteral("%1: font size %2 draws no text").arg(owner).arg(size);
  }
  return QString();
}

void AddFinding(QStringList& findings, const QString& finding) {
  if (!finding.isEmpty()) {
    findings << finding;
  }
}

}  // namespace

LayoutCheckCommandLine ParseLayoutCheckCommandLine(const std::vector<std::string>& arguments) {
  return ParseLayoutCommandLine(arguments, "--check-layout", false);
}

LayoutCheckCommandLine ParseLayoutCommandLine(const std::vector<std::string>& arguments,
                                              const std::string& mode, bool needsOut) {
  LayoutCheckCommandLine result;
  bool haveFile = false;
  bool haveDialog = false;
  bool haveVariant = false;
  bool haveOut = false;
  bool haveSkinDir = false;
  // Help wins wherever it stands, also where a value was expected: "--check-layout --help".
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      result.action = LayoutCheckCommandLine::Action::Help;
      return result;
    }
  }
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    std::string name = argument;
    std::string value;
    bool hasValue = false;
    if (const std::size_t equals = argument.find('=');
        argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    if (name != mode && name != "--dialog" && name != "--variant" && name != "--skin-dir" &&
        !(needsOut && name == "--out")) {
      if (argument.rfind("-", 0) == 0) {
        return Failure("unknown option " + QuotedArgument(name) + " for " + mode);
      }
      return Failure("unexpected argument " + QuotedArgument(argument));
    }
    if (!hasValue) {
      // A following option is never taken as the value: "--check-layout --dialog 5" forgot the
      // file.
      if (index + 1 >= arguments.size() || arguments[index + 1].rfind("--", 0) == 0) {
        return Failure(name + " needs a value");
      }
      value = arguments[++index];
    }
    bool& seen = name == mode           ? haveFile
                 : name == "--dialog"   ? haveDialog
                 : name == "--out"      ? haveOut
                 : name == "--skin-dir" ? haveSkinDir
                                        : haveVariant;
    if (seen) {
      return Failure(name + " is given twice");
    }
    seen = true;
    if (name == mode) {
      if (value.empty()) {
        return Failure(mode + " needs a file name");
      }
      result.options.file = value;
    } else if (name == "--out") {
      if (value.empty()) {
        return Failure("--out needs a file name");
      }
      result.out = value;
    } else if (name == "--skin-dir") {
      if (value.empty()) {
        return Failure("--skin-dir needs a folder name");
      }
      result.options.skinDir = value;
    } else if (name == "--dialog") {
      if (!ParseDialogId(value, result.options.dialogId)) {
        return Failure("--dialog needs a whole number from -2147483648 to 2147483647, not " +
                       QuotedArgument(value));
      }
    } else {
      result.options.variant = value;
    }
  }
  if (!haveFile) {
    return Failure(mode + " needs a file name");
  }
  if (needsOut && !haveOut) {
    return Failure(mode + " needs --out FILE");
  }
  result.action = LayoutCheckCommandLine::Action::Check;
  return result;
}

std::string LayoutCheckUsage() {
  return "Usage: tarvelo --check-layout FILE [--dialog ID] [--variant NAME] [--skin-dir DIR]\n"
         "\n"
         "Reads the layout document FILE as the window would and prints what it holds as one\n"
         "JSON object: \"dialog\" (the dialog's record), \"controls\" (one object per control,\n"
         "by ascending identifier) and \"strings\". Image paths are shown as the window\n"
         "resolves them, below the working folder " +
         GetWorkingBaseFolder().toStdString() +
         ".\n"
         "Problems a skin author should know about go to standard error.\n"
         "\n"
         "  --dialog ID     the dialog to read (default " +
         std::to_string(kDefaultCheckDialog) +
         ")\n"
         "  --variant NAME  the layout variant to read (default " +
         kDefaultCheckVariant +
         ")\n"
         "  --skin-dir DIR  look for each image in DIR first, by its file name\n"
         "  --help          show this help\n"
         "\n"
         "An image is taken from DIR, else from its own file, else, when that file does\n"
         "not exist, from the program's own skin, so that a document is checked as the\n"
         "window would show it even before the window first ran.\n"
         "\n"
         "The window keeps at most " +
         std::to_string(kMaxLayoutCtrls) + " controls, cuts texts to " +
         std::to_string(kMaxLayoutTextLength) +
         " characters and sizes\n"
         "to " +
         std::to_string(kMaxLayoutDialogSize) + " x " + std::to_string(kMaxLayoutDialogSize) +
         " pixels, and draws no image whose path leads out of the working\n"
         "folder; it reads only regular files of at most " +
         std::to_string(kMaxLayoutFileSize / (1024 * 1024)) +
         " MB.\n"
         "\n"
         "Exit status: 0 when the document was read to its end within these limits (what\n"
         "is said about images, fonts and classes does not change it); 1 when the file\n"
         "cannot be read (missing, a folder, not a regular file, too large), is not XML,\n"
         "has an element that lacks an attribute or goes beyond a limit, or when the\n"
         "result could not be written; 2 for a usage error.\n";
}

std::string LayoutToJson(const DialogInfo& record) {
  std::string json = "{\n\"dialog\": " + DialogJson(record) + ",\n\"controls\": [";
  bool first = true;
  for (const auto& entry : record.ctrls) {
    json += first ? "\n  " : ",\n  ";
    json += CtrlJson(entry.second);
    first = false;
  }
  json += first ? "],\n\"strings\": {" : "\n],\n\"strings\": {";
  first = true;
  for (const auto& [id, value] : record.strings) {
    json += first ? "\n  " : ",\n  ";
    json += JsonString(id) + ": " + JsonString(value);
    first = false;
  }
  json += first ? "}\n}\n" : "\n}\n}\n";
  return json;
}

QStringList LayoutWarnings(const DialogInfo& record) {
  QStringList findings;
  // The dialog's look was read when a variant element was found; its path then names at least
  // the base folder.
  if (!record.bgPath.isEmpty()) {
    AddFinding(findings, ImageFinding(record.bgPath, QStringLiteral("dialog")));
    AddFinding(findings, FontFinding(record.font, record.fontSize, QStringLiteral("dialog")));
  }
  for (const auto& [id, ctrl] : record.ctrls) {
    const QString owner = QStringLiteral("control %1").arg(id);
    const LayoutClass* layoutClass = FindLayoutClass(ctrl.className);
    if (layoutClass == nullptr) {
      findings << QStringLiteral(
                      "%1: class \"%2\" is not one the control factory creates; the "
                      "control is not created")
                      .arg(owner, ctrl.className);
      continue;
    }
    if (layoutClass->usesImage) {
      AddFinding(findings, ImageFinding(ctrl.bgPath, owner));
    }
    if (layoutClass->usesText) {
      AddFinding(findings, FontFinding(ctrl.font, ctrl.fontSize, owner));
    }
  }
  return findings;
}

std::optional<SkinImageSources> LayoutToolImageSources(const std::string& skinDir,
                                                       std::string& error) {
  SkinImageSources sources;
  if (!skinDir.empty()) {
    const QFileInfo folder(QString::fromLocal8Bit(skinDir));
    if (!folder.isDir()) {
      error = "--skin-dir: " + QuotedArgument(skinDir) + " is not a folder";
      return std::nullopt;
    }
    sources.authorFolder = folder.absoluteFilePath();
  }
  sources.builtIn = &BuiltInSkinImage;
  return sources;
}

int RunLayoutCheckCommand(const std::vector<std::string>& arguments, std::FILE* out,
                          std::FILE* err) {
  const LayoutCheckCommandLine commandLine = ParseLayoutCheckCommandLine(arguments);
  switch (commandLine.action) {
    case LayoutCheckCommandLine::Action::Help:
      return WriteText(out, LayoutCheckUsage()) ? kExitSuccess : kExitFailure;
    case LayoutCheckCommandLine::Action::Error:
      return UsageError(err, commandLine.error, "--check-layout");
    case LayoutCheckCommandLine::Action::Check:
      break;
  }
  std::string error;
  std::optional<SkinImageSources> sources =
      LayoutToolImageSources(commandLine.options.skinDir, error);
  if (!sources) {
    return UsageError(err, error, "--check-layout");
  }
  const ScopedSkinImageSources images(std::move(*sources));
  // Qt's own warnings (an unset runtime folder, say) would read like findings about the document.
  const QuietQtMessages quiet;
  const std::unique_ptr<QCoreApplication> application = EnsureOffscreenApplication(false);
  const LayoutCheckOptions& options = commandLine.options;
  const QString path = QFileInfo(QString::fromLocal8Bit(options.file)).absoluteFilePath();

  CBasicLayoutFrame store;
  const bool read =
      store.ReadLayout(path, options.dialogId, QString::fromStdString(options.variant));
  const LayoutReadReport& report = store.GetReadReport();
  QStringList findings;
  if (!read) {
    findings << QStringLiteral("the document was not read to its end: %1").arg(report.error);
  }
  // A document that cannot be read, or that the window shows other than written, fails the check;
  // its notes say why.
  const bool sound = read && !report.unreadable && !report.limited;
  findings << report.notes << LayoutWarnings(store.GetDialogInfo());
  for (const QString& finding : findings) {
    ReportLine(err, finding.toLocal8Bit().toStdString());
  }
  if (!WriteText(out, LayoutToJson(store.GetDialogInfo()))) {
    ReportLine(err, std::string("cannot write the result: ") + std::strerror(errno));
    return kExitFailure;
  }
  return sound ? kExitSuccess : kExitFailure;
}
