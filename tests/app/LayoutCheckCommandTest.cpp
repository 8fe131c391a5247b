// `tarvelo --check-layout`: its command line, its JSON and findings on documents written to a
// temporary folder, and the built program's exit statuses.

#include "app/LayoutCheckCommand.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "HostileFiles.h"
#include "HostileLayouts.h"
#include "LabNetwork.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "app/SkinDeployment.h"

inline void PrintTo(LayoutCheckCommandLine::Action action, std::ostream* out) {
  constexpr const char* kNames[] = {"Check", "Help", "Error"};
  *out << kNames[static_cast<int>(action)];
}

namespace {

using Action = LayoutCheckCommandLine::Action;

// ---------------------------------------------------------------------------------------------
// Command line

TEST(LayoutCheckCommandLineTest, OptionsInAnyOrderAndUsageErrors) {
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    LayoutCheckOptions options;  // for Action::Check
    const char* errorMentions;   // for Action::Error: a word the message must contain
  };
  const Case cases[] = {
      {{"--check-layout", "a.xml"}, Action::Check, {"a.xml", 201, "Standard", ""}, ""},
      {{"--check-layout", "a.xml", "--dialog", "5", "--variant", "Wide"},
       Action::Check,
       {"a.xml", 5, "Wide", ""},
       ""},
      {{"--variant", "Wide", "--dialog", "7", "--check-layout", "a.xml"},
       Action::Check,
       {"a.xml", 7, "Wide", ""},
       ""},
      {{"--check-layout=a.xml", "--dialog=5", "--variant=Wide"},
       Action::Check,
       {"a.xml", 5, "Wide", ""},
       ""},
      {{"--check-layout", "a.xml", "--dialog", "-3"},
       Action::Check,
       {"a.xml", -3, "Standard", ""},
       ""},
      {{"--check-layout", "a.xml", "--dialog", "2147483647"},
       Action::Check,
       {"a.xml", 2147483647, "Standard", ""},
       ""},
      {{"--check-layout", "a.xml", "--skin-dir", "mine"},
       Action::Check,
       {"a.xml", 201, "Standard", "mine"},
       ""},
      {{"--check-layout", "a.xml", "--skin-dir="}, Action::Error, {}, "--skin-dir"},
      {{"--check-layout", "a.xml", "--help"}, Action::Help, {}, ""},
      {{"--check-layout", "a.xml", "-h"}, Action::Help, {}, ""},
      // Every usage error of the mode points the user at this command line.
      {{"--check-layout", "--help"}, Action::Help, {}, ""},
      {{}, Action::Error, {}, "--check-layout"},
      {{"--dialog", "5"}, Action::Error, {}, "--check-layout"},
      {{"--check-layout"}, Action::Error, {}, "--check-layout"},
      {{"--check-layout="}, Action::Error, {}, "--check-layout"},
      {{"--check-layout", "--dialog", "5"}, Action::Error, {}, "--check-layout"},
      {{"--check-layout", "a.xml", "--dialog"}, Action::Error, {}, "--dialog"},
      {{"--check-layout", "a.xml", "--variant"}, Action::Error, {}, "--variant"},
      {{"--check-layout", "a.xml", "--dialog", "x"}, Action::Error, {}, "'x'"},
      {{"--check-layout", "a.xml", "--dialog", "12px"}, Action::Error, {}, "'12px'"},
      {{"--check-layout", "a.xml", "--dialog="}, Action::Error, {}, "--dialog"},
      {{"--check-layout", "a.xml", "--dialog", "2147483648"}, Action::Error, {}, "2147483648"},
      {{"--check-layout", "a.xml", "--dialog", "-2147483649"}, Action::Error, {}, "-2147483649"},
      {{"--check-layout", "a.xml", "--verbose"}, Action::Error, {}, "--verbose"},
      {{"--check-layout", "a.xml", "b.xml"}, Action::Error, {}, "b.xml"},
      {{"--check-layout", "a.xml", "--check-layout", "b.xml"}, Action::Error, {}, "twice"},
      {{"--check-layout", "a.xml", "--dialog", "1", "--dialog=2"}, Action::Error, {}, "twice"},
      {{"--check-layout", "a.xml", "--variant", "A", "--variant", "B"}, Action::Error, {}, "twice"},
  };
  for (const Case& test : cases) {
    std::string trace;
    for (const std::string& argument : test.arguments) {
      trace += argument + " ";
    }
    SCOPED_TRACE(trace);
    const LayoutCheckCommandLine result = ParseLayoutCheckCommandLine(test.arguments);
    EXPECT_EQ(result.action, test.action) << result.error;
    if (test.action == Action::Check) {
      EXPECT_EQ(result.options, test.options);
    } else if (test.action == Action::Error) {
      EXPECT_NE(result.error.find(test.errorMentions), std::string::npos) << result.error;
      EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The mode on documents

QByteArray DocumentBytes(int resource) {
  QFile file(QStringLiteral(":/skin/XML/%1").arg(resource));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the first `from` inside the CtrlInfo element of `ctrlId`.
QByteArray EditControl(QByteArray document, int ctrlId, const QByteArray& from,
                       const QByteArray& to) {
  const qsizetype element = document.indexOf("CtrlID=\"" + QByteArray::number(ctrlId) + "\"");
  const qsizetype end = document.indexOf("/>", element);
  const qsizetype at = document.indexOf(from, element);
  EXPECT_TRUE(element >= 0 && at >= 0 && at < end) << from.toStdString() << " in " << ctrlId;
  return at >= 0 ? document.replace(at, from.size(), to) : document;
}

struct CheckResult {
  int status;
  std::string out;
  std::string err;
  QJsonObject json;
};

class LayoutCheckCommandTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const QByteArray& content) const {
    const std::string path = folder_.File(name);
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
  }

  static CheckResult Check(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--check-layout");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CheckResult result;
    result.status = RunLayoutCheckCommand(arguments, out, err);
    result.out = testsupport::ReadStream(out);
    result.err = testsupport::ReadStream(err);
    std::fclose(out);
    std::fclose(err);
    QJsonParseError error;
    result.json = QJsonDocument::fromJson(QByteArray::fromStdString(result.out), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out;
    return result;
  }

  testsupport::TemporaryDirectory folder_;
  testsupport::ScopedEnvironment dataHome_{"XDG_DATA_HOME", folder_.File("data")};
  testsupport::ScopedEnvironment locale_{"LC_ALL", "en_US.UTF-8"};
};

TEST_F(LayoutCheckCommandTest, ShippedEnglishDocumentPrintsItsRecords) {
  const CheckResult result = Check({Write("layout.xml", DocumentBytes(150))});
  EXPECT_EQ(result.status, 0) << result.err;

  const QJsonObject dialog = result.json["dialog"].toObject();
  EXPECT_EQ(dialog["id"].toInt(), 201);
  EXPECT_EQ(dialog["text"].toString(), "Tarvelo");
  EXPECT_EQ(dialog["bgColor"].toInteger(), 16777215);
  EXPECT_EQ(dialog["rect"].toArray(), (QJsonArray{0, 0, 328, 245}));
  EXPECT_EQ(dialog["bgPath"].toString(),
            QString::fromStdString(folder_.File("data/ORVAKSearchTools/Picture/"
                                                "SearchDevice_BlackGround.png")));

  const QJsonArray controls = result.json["controls"].toArray();
  ASSERT_EQ(controls.size(), 9);
  for (int index = 0; index < 9; ++index) {
    const QJsonObject control = controls[index].toObject();
    EXPECT_EQ(control["id"].toInt(), 2101 + index);
    EXPECT_EQ(control["bgColor"].toInteger(), 16777215);
    EXPECT_EQ(control["style"].toInteger(),
              control["id"].toInt() == 2105 ? 1342177281 : 1342177280);
  }
  EXPECT_EQ(controls[0].toObject()["rect"].toArray(), (QJsonArray{7, 7, 23, 23}));
  EXPECT_EQ(controls[5].toObject()["text"].toString(),
            QString::fromUtf8("Searching for new devices, please wait\u2026"));
  EXPECT_EQ(controls[6].toObject()["textOffset"].toArray(), (QJsonArray{0, 6}));

  const QJsonObject strings = result.json["strings"].toObject();
  EXPECT_EQ(strings.size(), 7);
  EXPECT_EQ(strings["SEARCH_DEVICE_LIST_ITEM_TYPE"].toString(), "Device Type");
  EXPECT_EQ(strings["SEARCH_DEVICE_LIST_HEADER_FONT_COLOR"].toString(), "244,245,247");
}

TEST_F(LayoutCheckCommandTest, MissingAttributeFailsAndNamesElementAndAttribute) {
  const QByteArray document =
      EditControl(DocumentBytes(150), 2107, " CtrlFontSize=\"12\"", QByteArray());
  const CheckResult result = Check({Write("layout.xml", document)});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("CtrlInfo"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("CtrlFontSize"), std::string::npos) << result.err;
  // What was read before the faulty element is still shown.
  const QJsonArray controls = result.json["controls"].toArray();
  ASSERT_EQ(controls.size(), 6);
  EXPECT_EQ(controls.last().toObject()["id"].toInt(), 2106);
}

TEST_F(LayoutCheckCommandTest, WhatIsNotFoundGivesEmptyRecords) {
  struct Case {
    const char* scenario;
    std::optional<QByteArray> content;  // none: no such file
    std::vector<std::string> options;
    int dialogId;
    int controls;
    int strings;
    int status;  // a file that cannot be read or is not XML fails the check
  };
  const Case cases[] = {
      {"a missing file", std::nullopt, {}, 0, 0, 0, 1},
      {"a file that is not XML", QByteArray("this is not <XML"), {}, 0, 0, 0, 1},
      {"an empty file", QByteArray(), {}, 0, 0, 0, 1},
      {"a dialog the document lacks", DocumentBytes(150), {"--dialog", "202"}, 0, 0, 0, 0},
      // A variant the dialog lacks still gives its identifier and strings, but no controls.
      {"a variant the dialog lacks", DocumentBytes(150), {"--variant", "Wide"}, 201, 0, 7, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    std::vector<std::string> arguments = {test.content ? Write("layout.xml", *test.content)
                                                       : folder_.File("missing.xml")};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const CheckResult result = Check(arguments);
    EXPECT_EQ(result.status, test.status) << result.err;
    EXPECT_EQ(result.json["dialog"].toObject()["id"].toInt(), test.dialogId);
    EXPECT_EQ(result.json["controls"].toArray().size(), test.controls);
    EXPECT_EQ(result.json["strings"].toObject().size(), test.strings);
    // The author is told why nothing was found.
    EXPECT_FALSE(result.err.empty());
  }
}

TEST_F(LayoutCheckCommandTest, FindingsNameUnknownClassesMissingImagesAndFailedFonts) {
  ASSERT_TRUE(DeploySkinFiles());
  QByteArray document = DocumentBytes(150);
  document = EditControl(document, 2101, "logo.png", "missing.png");
  document = EditControl(document, 2103, "\"StandardButton\"", "\"standardbutton\"");
  document = EditControl(document, 2104, "\"Tahoma\"", "\"NoSuchFontFamily\"");
  const CheckResult result = Check({Write("layout.xml", document)});
  EXPECT_EQ(result.status, 0);

  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = result.err.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(result.err.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3u) << result.err;
  const std::pair<const char*, const char*> expected[] = {
      {"control 2101", "missing.png"},
      {"control 2103", "standardbutton"},
      {"control 2104", "NoSuchFontFamily"},
  };
  for (std::size_t index = 0; index < lines.size(); ++index) {
    EXPECT_NE(lines[index].find(expected[index].first), std::string::npos) << lines[index];
    EXPECT_NE(lines[index].find(expected[index].second), std::string::npos) << lines[index];
  }
}

// ---------------------------------------------------------------------------------------------
// The built program

// The program as a skin author runs it, on the document of every language code.
TEST_F(LayoutCheckCommandTest, ShippedDocumentsGiveNoFindingsOnceTheSkinIsDeployed) {
  ASSERT_TRUE(DeploySkinFiles());
  const std::string out = folder_.File("out.txt");
  const std::string err = folder_.File("err.txt");
  for (int code = 1; code <= 14; ++code) {
    const int resource = LayoutResourceForLanguage(code);
    SCOPED_TRACE("document " + std::to_string(resource));
    const std::string layout = Write("layout.xml", DocumentBytes(resource));
    EXPECT_EQ(hostile::RunLayoutTool({"--check-layout", layout}, out, err).status, 0);
    EXPECT_EQ(testsupport::ReadFile(err), "");
    // Read to its end: all nine controls and all seven strings.
    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray::fromStdString(testsupport::ReadFile(out)));
    EXPECT_EQ(json["controls"].toArray().size(), 9);
    EXPECT_EQ(json["strings"].toObject().size(), 7);
  }
}

TEST_F(LayoutCheckCommandTest, BuiltProgramExitsWithTheDocumentedStatuses) {
  const std::string english = Write("english.xml", DocumentBytes(150));
  const std::string broken =
      Write("broken.xml", EditControl(DocumentBytes(150), 2105, " CtrlShow=\"5\"", QByteArray()));
  struct Case {
    std::vector<std::string> arguments;
    int status;
    bool json;
  };
  const Case cases[] = {
      {{"--check-layout", english}, 0, true},
      {{"--check-layout=" + english, "--dialog=201"}, 0, true},
      {{"--check-layout", broken}, 1, true},
      {{"--check-layout"}, 2, false},
      {{"--check-layout", english, "--dialog", "x"}, 2, false},
  };
  const std::string out = folder_.File("out.txt");
  const std::string err = folder_.File("err.txt");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.arguments.back());
    EXPECT_EQ(hostile::RunLayoutTool(test.arguments, out, err).status, test.status)
        << testsupport::ReadFile(err);
    const std::string output = testsupport::ReadFile(out);
    if (test.json) {
      QJsonParseError error;
      const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(output), &error);
      EXPECT_EQ(error.error, QJsonParseError::NoError) << output;
      EXPECT_EQ(json["dialog"]["id"].toInt(), 201);
    } else {
      EXPECT_EQ(output, "");
      EXPECT_EQ(testsupport::ReadFile(err).rfind("tarvelo: ", 0), 0u) << testsupport::ReadFile(err);
    }
  }
}

// Hostile documents and images, run by the built program as a skin author would: every run ends
// by itself, says what is wrong and exits with the documented status.
TEST_F(LayoutCheckCommandTest, HostileDocumentsAndImagesEndWithAMessageAndTheirStatus) {
  const std::string skin = folder_.File("data/Skin");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(skin)));
  Write("data/Skin/huge.png",
        QByteArray::fromStdString(testsupport::PngHeaderClaiming(30000, 30000)));
  Write("data/Skin/text.png", "this is no image");
  Write("outside.png", QByteArray::fromStdString(testsupport::PngHeaderClaiming(4, 4)));
  ASSERT_TRUE(testsupport::MakeFifo(skin + "/fifo.png"));
  ASSERT_EQ(::symlink("../../outside.png", (skin + "/link.png").c_str()), 0);
  ASSERT_TRUE(testsupport::MakeFifo(folder_.File("fifo.xml")));
  const auto withImage = [](const char* path) {
    return hostile::Layout(hostile::Ctrl(1, "ShowImageCtrl", QString::fromLatin1(path)));
  };
  struct Case {
    const char* scenario;
    std::string file;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"40,000 controls", Write("many.xml", hostile::ManyControls(40000)), 1,
       "38976 controls beyond the first 1024 were left out"},
      {"a text of a megabyte",
       Write("text.xml",
             hostile::Layout(hostile::Ctrl(1, "ShowTextCtrl", "", QString(1 << 20, 'm')))),
       1, "CtrlText of 1048576 characters cut to 4096"},
      {"a FIFO as the document", folder_.File("fifo.xml"), 1, "is a FIFO, not a regular file"},
      {"/dev/zero as the document", "/dev/zero", 1, "is a character device"},
      {"a dialog of 30000 x 30000", Write("huge.xml", hostile::Layout("", "0,0,30000,30000")), 1,
       "larger than 4096 x 4096"},
      {"a missing document", folder_.File("missing.xml"), 1, "does not exist"},
      {"a folder as the document", folder_.Path(), 1, "is a folder"},
      {"a document that is not XML", Write("plain.xml", "plain text"), 1, "not an XML document"},
      {"an image path that climbs out", Write("up.xml", withImage("\\..\\outside.png")), 1,
       "leads out of the base folder"},
      // Images the window cannot load are findings; the document itself is sound.
      {"an image beyond Qt's limit", Write("big.xml", withImage("\\Skin\\huge.png")), 0,
       "30000 x 30000 pixels"},
      {"a file that is no image", Write("noimage.xml", withImage("\\Skin\\text.png")), 0,
       "not an image"},
      {"a FIFO as an image", Write("fifoimage.xml", withImage("\\Skin\\fifo.png")), 0, "is a FIFO"},
      {"a link out of the skin", Write("link.xml", withImage("\\Skin\\link.png")), 0,
       "symbolic link"},
  };
  const std::string out = folder_.File("out.txt");
  const std::string err = folder_.File("err.txt");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const hostile::ToolRun run = hostile::RunLayoutTool({"--check-layout", test.file}, out, err);
    ASSERT_TRUE(run.ended) << "the check did not end";
    EXPECT_EQ(run.status, test.status) << run.err;
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
    // Every finding is one short line, whatever the document holds.
    for (const std::string& line : testsupport::SplitLines(run.err)) {
      EXPECT_EQ(line.rfind("tarvelo: ", 0), 0u) << line;
      EXPECT_LT(line.size(), 400u) << line.substr(0, 80);
    }
    EXPECT_LT(run.err.size(), 4096u);
    // Standard output still has the records as JSON.
    QJsonParseError error;
    QJsonDocument::fromJson(QByteArray::fromStdString(testsupport::ReadFile(out)), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError);
  }
}

}  // namespace
