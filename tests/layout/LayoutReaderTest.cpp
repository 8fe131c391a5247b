#include "layout/LayoutReader.h"

#include <functional>

#include <gtest/gtest.h>

#include "LayoutDocument.h"

namespace {

using namespace layouttest;

const QString kBase = QStringLiteral("/base");

struct Read {
  bool result = false;
  DialogInfo record;
  LayoutReadReport report;
};

Read ReadDocument(const QByteArray& document, int dialogId = 201,
                  const QString& variant = QStringLiteral("Standard")) {
  Read read;
  read.result = ReadLayoutDocument(document, dialogId, variant, kBase, read.record, &read.report);
  return read;
}

std::vector<std::int32_t> Ids(const DialogInfo& record) {
  std::vector<std::int32_t> ids;
  for (const auto& entry : record.ctrls) {
    ids.push_back(entry.first);
  }
  return ids;
}

QString Dialog(int id, const QString& content, const QString& text = QStringLiteral("Title")) {
  return Element("DialogInfo", DialogAttributes(id, text), content);
}

QString Look(const QString& content, const QString& variant = QStringLiteral("Standard")) {
  return Element(variant, LookAttributes(), content);
}

TEST(LayoutReaderTest, ReadsEveryFieldOfDialogAndControls) {
  const Read read = ReadDocument(
      Document(Dialog(201, Look(Ctrl(2107)) + String("SEARCH_DEVICE_LIST_ITEM_IP", "IP Address"))));
  ASSERT_TRUE(read.result);
  EXPECT_TRUE(read.report.notes.isEmpty()) << read.report.notes.join('\n').toStdString();

  DialogInfo expected;
  expected.dialogID = 201;
  expected.text = "Title";
  expected.description = "About Title";
  expected.bgPath = "/base/Skin/background.png";
  expected.bgColorText = "255,255,255";
  expected.bgColor = 0x00FFFFFF;
  expected.paintMode = 8;
  expected.textColorText = "244,245,247";
  expected.textColor = 0x00F7F5F4;
  expected.font = "Tahoma";
  expected.fontSize = 12;
  expected.rect = {0, 0, 328, 245};
  CtrlInfo& ctrl = expected.ctrls[2107];
  ctrl.ctrlID = 2107;
  ctrl.bgPath = "/base/Skin/button.png";
  ctrl.statusCount = 4;
  ctrl.bgColorText = "1,2,3";
  ctrl.bgColor = 0x00030201;
  ctrl.borderColorText = "4,5,6";
  ctrl.borderColor = 0x00060504;
  ctrl.paintMode = 4;
  ctrl.className = "StandardButton";
  ctrl.style = 0x50000000;
  ctrl.posType = 3;
  ctrl.rect = {1, 2, 4, 6};
  ctrl.show = 5;
  ctrl.text = "Text 2107";
  ctrl.textOffsetX = 0;
  ctrl.textOffsetY = 6;
  ctrl.textColorText = "7,8,9";
  ctrl.textColor = 0x00090807;
  ctrl.font = "Tahoma";
  ctrl.fontSize = 12;
  ctrl.description = "Description";
  expected.strings["SEARCH_DEVICE_LIST_ITEM_IP"] = "IP Address";
  EXPECT_EQ(read.record, expected);
}

TEST(LayoutReaderTest, FirstControlAndStringOfAnIdentifierWinWhateverTheOrder) {
  const QString ctrls =
      Element("CtrlInfo", CtrlAttributes(2108).Set("CtrlText", "first 2108")) +
      Element("CtrlInfo", CtrlAttributes(2107).Set("CtrlClass", "StandardButton")) +
      Element("CtrlInfo", CtrlAttributes(2107).Set("CtrlClass", "ShowTextCtrl")) +
      Element("CtrlInfo", CtrlAttributes(2108).Set("CtrlText", "second 2108"));
  const QString strings = String("A", "first") + String("a", "lower case") + String("A", "second");
  const Read read = ReadDocument(Document(Dialog(201, Look(ctrls) + strings)));
  ASSERT_TRUE(read.result);
  EXPECT_EQ(Ids(read.record), (std::vector<std::int32_t>{2107, 2108}));
  EXPECT_EQ(read.record.ctrls.at(2107).className, "StandardButton");
  EXPECT_EQ(read.record.ctrls.at(2108).text, "first 2108");
  EXPECT_EQ(read.record.strings, (std::map<QString, QString>{{"A", "first"}, {"a", "lower case"}}));
}

TEST(LayoutReaderTest, ElementsAreFoundWhereTheReaderLooks) {
  // Controls anywhere below the variant; strings anywhere below the DialogInfo, also inside the
  // variant; names compared with their case.
  const QString look = Look(Element("Group", Attributes({}), Ctrl(2101) + String("inside", "1")) +
                            Element("ctrlinfo", CtrlAttributes(2102)));
  const QString other = Element("Other", Attributes({}), Ctrl(2103));
  const QString body = Dialog(201, other + look + String("outside", "2"));
  const Read read = ReadDocument(Document(body));
  ASSERT_TRUE(read.result);
  EXPECT_EQ(Ids(read.record), (std::vector<std::int32_t>{2101}));
  EXPECT_EQ(read.record.strings, (std::map<QString, QString>{{"inside", "1"}, {"outside", "2"}}));
}

TEST(LayoutReaderTest, OnlyDialogInfoUnderWindowInformationWithTheRequestedIdCounts) {
  const QByteArray document =
      "<Root>" +
      Element("DialogInfo", DialogAttributes(201, "not under WindowInformation"), Look(Ctrl(1)))
          .toUtf8() +
      Element("WindowInformation", Attributes({}),
              Dialog(200, Look(Ctrl(2)), "other id") + Dialog(201, Look(Ctrl(3)), "this one"))
          .toUtf8() +
      "</Root>";
  const Read read = ReadDocument(document);
  ASSERT_TRUE(read.result);
  EXPECT_EQ(read.record.text, "this one");
  EXPECT_EQ(Ids(read.record), (std::vector<std::int32_t>{3}));

  const Read none = ReadDocument(document, 999);
  EXPECT_TRUE(none.result);
  EXPECT_EQ(none.record.dialogID, 0);
  EXPECT_TRUE(none.record.ctrls.empty());
  EXPECT_EQ(none.report.notes, QStringList("no DialogInfo with DialogID 999"));
}

TEST(LayoutReaderTest, DialogInfoWithoutTheVariantGivesItsTextsAndStringsOnly) {
  const QString body = Dialog(201, Look(Ctrl(2101), "Compact") + String("S", "value"));
  for (const QString& variant :
       {QStringLiteral("Standard"), QStringLiteral("compact"), QString()}) {
    const Read read = ReadDocument(Document(body), 201, variant);
    ASSERT_TRUE(read.result);
    EXPECT_EQ(read.record.dialogID, 201);
    EXPECT_EQ(read.record.text, "Title");
    EXPECT_EQ(read.record.description, "About Title");
    EXPECT_EQ(read.record.strings.size(), 1u);
    EXPECT_TRUE(read.record.ctrls.empty()) << variant.toStdString();
    EXPECT_TRUE(read.record.bgPath.isEmpty());
    EXPECT_EQ(read.record.fontSize, 0);
    EXPECT_EQ(read.report.notes.size(), 1);
  }
  EXPECT_EQ(Ids(ReadDocument(Document(body), 201, "Compact").record),
            (std::vector<std::int32_t>{2101}));
}

TEST(LayoutReaderTest, SeveralMatchingDialogInfosOverwriteTheDialogAndAddControls) {
  const QString first =
      Dialog(201,
             Element("Standard", LookAttributes().Set("DialogFontSize", "10"),
                     Element("CtrlInfo", CtrlAttributes(2107).Set("CtrlText", "from the first"))) +
                 String("S", "first"),
             "First");
  // The second has no variant: it changes the texts but not the look.
  const QString second = Dialog(201, String("T", "second"), "Second");
  const QString third =
      Dialog(201,
             Element("Standard", LookAttributes().Set("DialogFontSize", "14"),
                     Element("CtrlInfo", CtrlAttributes(2107).Set("CtrlText", "from the third")) +
                         Ctrl(2108)) +
                 String("S", "third"),
             "Third");
  const Read read = ReadDocument(Document(first + second + third));
  ASSERT_TRUE(read.result);
  EXPECT_EQ(read.record.text, "Third");
  EXPECT_EQ(read.record.fontSize, 14);
  EXPECT_EQ(Ids(read.record), (std::vector<std::int32_t>{2107, 2108}));
  EXPECT_EQ(read.record.ctrls.at(2107).text, "from the first");
  EXPECT_EQ(read.record.strings, (std::map<QString, QString>{{"S", "first"}, {"T", "second"}}));
}

TEST(LayoutReaderTest, UnreadableColoursAndRectanglesKeepThePreviousControlsValues) {
  const QString ctrls =
      Element("CtrlInfo", CtrlAttributes(1).Set("CtrlBGColor", "9,9").Set("CtrlPos", "")) +
      Element("CtrlInfo",
              CtrlAttributes(2).Set("CtrlBGColor", "10,20,30").Set("CtrlPos", "5,6,7,8")) +
      Element("CtrlInfo", CtrlAttributes(3)
                              .Set("CtrlBGColor", "255,255")
                              .Set("CtrlBorderColor", "")
                              .Set("CtrlPos", "50,60")
                              .Set("CtrlTextColor", "1,1")
                              .Set("CtrlTextOffSet", "")) +
      Element("CtrlInfo", CtrlAttributes(4).Set("CtrlBGStatusCount", "lots"));
  const Read read = ReadDocument(Document(Dialog(201, Look(ctrls))));
  ASSERT_TRUE(read.result);
  const auto& table = read.record.ctrls;
  // The very first control has no earlier values: zero.
  EXPECT_EQ(table.at(1).bgColor, 0u);
  EXPECT_EQ(table.at(1).rect, (LayoutRect{0, 0, 0, 0}));
  EXPECT_EQ(table.at(3).bgColor, 0x001E140Au);
  EXPECT_EQ(table.at(3).bgColorText, "255,255");
  EXPECT_EQ(table.at(3).borderColor, 0x00060504u);
  EXPECT_EQ(table.at(3).rect, (LayoutRect{50, 6, 12, 14}));
  // Text colour and offset are reset for every control.
  EXPECT_EQ(table.at(3).textColor, 0u);
  EXPECT_EQ(table.at(3).textOffsetX, 0);
  EXPECT_EQ(table.at(3).textOffsetY, 0);
  EXPECT_EQ(table.at(4).statusCount, 0);
}

TEST(LayoutReaderTest, AMissingAttributeEndsTheReadWithFalse) {
  struct Case {
    const char* name;
    QString body;
    std::vector<std::int32_t> ctrlsKept;
  };
  const QString good = Ctrl(2101);
  const Case cases[] = {
      {"CtrlInfo without CtrlDiscrip",
       Dialog(201, Look(good + Element("CtrlInfo", CtrlAttributes(2102).Remove("CtrlDiscrip")) +
                        Ctrl(2103))),
       {2101}},
      {"CtrlInfo without CtrlID",
       Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(2102).Remove("CtrlID")))),
       {}},
      {"variant without DialogPos",
       Dialog(201, Element("Standard", LookAttributes().Remove("DialogPos"), good)),
       {}},
      {"DialogInfo without DialogID",
       Element("DialogInfo", DialogAttributes(201).Remove("DialogID"), Look(good)),
       {}},
      {"DialogInfo without DialogText",
       Element("DialogInfo", DialogAttributes(201).Remove("DialogText"), Look(good)),
       {}},
      {"StringInfo without StringValue",
       Dialog(201, Look(good) +
                       Element("StringInfo", Attributes({{QString("StringID"), QString("X")}}))),
       {2101}},
  };
  for (const Case& test : cases) {
    const Read read = ReadDocument(Document(test.body));
    EXPECT_FALSE(read.result) << test.name;
    EXPECT_FALSE(read.report.error.isEmpty()) << test.name;
    EXPECT_EQ(Ids(read.record), test.ctrlsKept) << test.name;
  }
  const Read read = ReadDocument(
      Document(Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(7).Remove("CtrlFontSize"))))));
  EXPECT_TRUE(read.report.error.contains("CtrlInfo")) << read.report.error.toStdString();
  EXPECT_TRUE(read.report.error.contains("CtrlFontSize")) << read.report.error.toStdString();

  // A DialogInfo of another identifier is not read further than its DialogID.
  EXPECT_TRUE(
      ReadDocument(Document(Element("DialogInfo", DialogAttributes(200).Remove("DialogText"))))
          .result);
}

TEST(LayoutReaderTest, BytesThatAreNotALayoutReadAsAnEmptyDocument) {
  const QByteArray deep = QByteArray("<a>").repeated(kMaxLayoutDepth + 1) +
                          QByteArray("</a>").repeated(kMaxLayoutDepth + 1);
  for (const QByteArray& bytes :
       {QByteArray(), QByteArray("not xml at all"), QByteArray("<WindowInformation><DialogInfo"),
        QByteArray("\xFF\xFE\x00<"), deep}) {
    const Read read = ReadDocument(bytes);
    EXPECT_TRUE(read.result);
    EXPECT_EQ(read.record, DialogInfo());
    EXPECT_EQ(read.report.notes.size(), 1) << bytes.left(40).toStdString();
    EXPECT_TRUE(read.report.unreadable);
  }
  // A document that is read is not unreadable, even when it has nothing of the dialog.
  EXPECT_FALSE(ReadDocument(Document(Dialog(200, Look(Ctrl(1))))).report.unreadable);
}

TEST(LayoutReaderTest, PathsAreJoinedToTheBaseFolder) {
  const QString ctrls = Element("CtrlInfo", CtrlAttributes(1).Set("CtrlBGPath", "")) +
                        Element("CtrlInfo", CtrlAttributes(2).Set("CtrlBGPath", "\\A\\b c.png"));
  DialogInfo record;
  ASSERT_TRUE(
      ReadLayoutDocument(Document(Dialog(201, Look(ctrls))), 201, "Standard", kBase, record));
  EXPECT_EQ(record.ctrls.at(1).bgPath, "/base");
  EXPECT_EQ(record.ctrls.at(2).bgPath, "/base/A/b c.png");

  // Without a base folder no path is made up.
  DialogInfo withoutBase;
  ASSERT_TRUE(ReadLayoutDocument(Document(Dialog(201, Look(ctrls))), 201, "Standard", QString(),
                                 withoutBase));
  EXPECT_TRUE(withoutBase.ctrls.at(2).bgPath.isEmpty());
}

TEST(LayoutReaderTest, TextsAreReadAfterEntityDecoding) {
  const QString ctrls =
      Element("CtrlInfo", CtrlAttributes(1).Set("CtrlText", "a < b & \"c\" — 设备"));
  const Read read = ReadDocument(Document(Dialog(201, Look(ctrls))));
  ASSERT_TRUE(read.result);
  EXPECT_EQ(read.record.ctrls.at(1).text, "a < b & \"c\" — 设备");
}

TEST(LayoutReaderTest, ResetKeepsTheDialogColourAndRectangle) {
  DialogInfo record;
  ASSERT_TRUE(ReadLayoutDocument(Document(Dialog(201, Look(Ctrl(1)) + String("S", "v"))), 201,
                                 "Standard", kBase, record));
  ResetDialogInfo(record);
  DialogInfo expected;
  expected.bgColorText = "255,255,255";
  expected.bgColor = 0x00FFFFFF;
  expected.rect = {0, 0, 328, 245};
  EXPECT_EQ(record, expected);
}

// ---------------------------------------------------------------------------------------------
// Limits: whatever a document says, the record stays small enough for a window.

QString Repeated(QChar character, qsizetype count) { return QString(count, character); }

TEST(LayoutReaderTest, ControlsBeyondTheLimitAreLeftOutInDocumentOrder) {
  QString ctrls;
  // Identifiers descending, so that "the first in the document" and "the lowest" differ.
  const int count = static_cast<int>(kMaxLayoutCtrls) + 76;
  for (int id = count; id >= 1; --id) {
    ctrls += Ctrl(id);
  }
  // A repeated identifier of a kept control is dropped as always, not counted as left out.
  ctrls += Ctrl(count);
  const Read read = ReadDocument(Document(Dialog(201, Look(ctrls))));
  ASSERT_TRUE(read.result);
  ASSERT_EQ(read.record.ctrls.size(), kMaxLayoutCtrls);
  EXPECT_EQ(read.record.ctrls.begin()->first, 77);
  EXPECT_EQ(read.record.ctrls.rbegin()->first, count);
  EXPECT_TRUE(read.report.limited);
  EXPECT_EQ(read.report.notes, QStringList("76 controls beyond the first 1024 were left out"));

  // A missing attribute after the limit is still found.
  const Read broken = ReadDocument(Document(Dialog(
      201, Look(ctrls + Element("CtrlInfo", CtrlAttributes(count + 1).Remove("CtrlShow"))))));
  EXPECT_FALSE(broken.result);
  EXPECT_TRUE(broken.report.error.contains("CtrlShow"));
}

TEST(LayoutReaderTest, LongTextsLargeSizesAndEscapingPathsAreCut) {
  const QString longText = Repeated('x', kMaxLayoutTextLength + 10);
  // An emoji across the limit: cutting between its two halves would leave half a character.
  const QString pairAtLimit = Repeated('y', kMaxLayoutTextLength - 1) + QString::fromUtf8("😀");
  struct Case {
    const char* scenario;
    QString body;
    bool limited;
    bool dialogTooLarge;
    std::function<void(const DialogInfo&)> check;
  };
  const Case cases[] = {
      {"a control text of the limit stays whole",
       Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(1).Set("CtrlText", longText.left(kMaxLayoutTextLength)))))
       , false, false,
       [](const DialogInfo& record) { EXPECT_EQ(record.ctrls.at(1).text.size(), kMaxLayoutTextLength); }},
      {"a longer control text and description are cut",
       Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(1).Set("CtrlText", longText).Set("CtrlDiscrip", longText)))),
       true, false,
       [&](const DialogInfo& record) {
         EXPECT_EQ(record.ctrls.at(1).text, longText.left(kMaxLayoutTextLength));
         EXPECT_EQ(record.ctrls.at(1).description.size(), kMaxLayoutTextLength);
       }},
      {"a surrogate pair at the limit goes whole",
       Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(1).Set("CtrlText", pairAtLimit)))), true,
       false,
       [](const DialogInfo& record) {
         EXPECT_EQ(record.ctrls.at(1).text.size(), kMaxLayoutTextLength - 1);
       }},
      {"the dialog text and a string value are cut",
       Dialog(201, Look(Ctrl(1)) + String("S", longText), longText), true, false,
       [](const DialogInfo& record) {
         EXPECT_EQ(record.text.size(), kMaxLayoutTextLength);
         EXPECT_EQ(record.strings.at("S").size(), kMaxLayoutTextLength);
       }},
      {"a dialog of 30000 x 30000",
       Dialog(201, Element("Standard", LookAttributes().Set("DialogPos", "0,0,30000,30000"))), true,
       true,
       [](const DialogInfo& record) {
         EXPECT_EQ(record.rect, (LayoutRect{0, 0, kMaxLayoutDialogSize, kMaxLayoutDialogSize}));
       }},
      {"a dialog of the limit",
       Dialog(201, Element("Standard", LookAttributes().Set("DialogPos", "0,0,4096,4096"))), false,
       false, [](const DialogInfo& record) { EXPECT_EQ(record.rect.right, 4096); }},
      {"a control of 30000 x 20 at -10",
       Dialog(201, Look(Element("CtrlInfo", CtrlAttributes(1).Set("CtrlPos", "-10,5,30000,20")))),
       true, false,
       [](const DialogInfo& record) {
         EXPECT_EQ(record.ctrls.at(1).rect, (LayoutRect{-10, 5, -10 + kMaxLayoutDialogSize, 25}));
       }},
      {"image paths that lead out of the base folder read as no image",
       Dialog(201, Element("Standard", LookAttributes().Set("DialogBGPath", "\\..\\..\\etc\\x.png"),
                           Element("CtrlInfo", CtrlAttributes(1).Set("CtrlBGPath", "\\A\\..\\..\\x.png")) +
                               Element("CtrlInfo", CtrlAttributes(2).Set("CtrlBGPath", "x.png")) +
                               Element("CtrlInfo", CtrlAttributes(3).Set("CtrlBGPath", "\\A\\..\\B\\c.png")))),
       true, false,
       [](const DialogInfo& record) {
         EXPECT_EQ(record.bgPath, "/base");
         EXPECT_EQ(record.ctrls.at(1).bgPath, "/base");
         // Without its leading separator a value names a sibling of the folder: "/basex.png".
         EXPECT_EQ(record.ctrls.at(2).bgPath, "/base");
         // A ".." that stays inside is as written.
         EXPECT_EQ(record.ctrls.at(3).bgPath, "/base/A/../B/c.png");
       }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.scenario);
    const Read read = ReadDocument(Document(test.body));
    ASSERT_TRUE(read.result) << read.report.error.toStdString();
    EXPECT_EQ(read.report.limited, test.limited) << read.report.notes.join('\n').toStdString();
    EXPECT_EQ(read.report.dialogTooLarge, test.dialogTooLarge);
    EXPECT_EQ(read.report.notes.isEmpty(), !test.limited);
    test.check(read.record);
  }
}

TEST(LayoutReaderTest, ManyCutTextsGiveAFewNotes) {
  QString ctrls;
  for (int id = 1; id <= 200; ++id) {
    ctrls += Element("CtrlInfo",
                     CtrlAttributes(id).Set("CtrlText", Repeated('z', kMaxLayoutTextLength + 1)));
  }
  const Read read = ReadDocument(Document(Dialog(201, Look(ctrls))));
  ASSERT_TRUE(read.result);
  ASSERT_EQ(read.report.notes.size(), 6);
  EXPECT_TRUE(read.report.notes[0].contains("CtrlText of 4097 characters cut to 4096"))
      << read.report.notes[0].toStdString();
  EXPECT_EQ(read.report.notes[5], "195 more texts were cut the same way");
}

}  // namespace
