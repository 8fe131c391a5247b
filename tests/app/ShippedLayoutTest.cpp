// The layout documents the program deploys, read back exactly as the main dialog reads them
// (dialog 201, variant "Standard"): every value the dialog and its controls are built from, so that
// a slip in a document shows here and not as a misplaced button. The English and the two Chinese
// documents are checked value by value; each translated one must equal the English one in all but
// its texts, its font and the two widths a translation may need. Also the bytes of each document
// (byte order mark, declaration, CR LF lines), the attributes every element must carry, and that
// every caption fits its control in the font the program draws it with.

#include <algorithm>
#include <array>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QFontMetrics>
#include <QXmlStreamReader>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "app/LayoutCheckCommand.h"
#include "app/SkinDeployment.h"
#include "layout/BasicLayoutFrame.h"
#include "layout/BasicPropertyFrame.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

constexpr char kWhite[] = "255,255,255";
constexpr std::uint32_t kWhiteRef = 0x00FFFFFF;
constexpr char kBorder[] = "126,157,185";
constexpr std::uint32_t kBorderRef = 0x00B99D7E;
constexpr char kLight[] = "244,245,247";
constexpr std::uint32_t kLightRef = 0x00F7F5F4;
constexpr char kDark[] = "6,65,105";
constexpr std::uint32_t kDarkRef = 0x00694106;

// What the controls share in every deployed language. Rectangles as stored: right and bottom are
// left + width and top + height. The width of 2106 differs between languages (see Language).
struct Control {
  int id;
  const char* className;
  LayoutRect rect;
  const char* image;  // below \ORVAKSearchTools\Picture\, or empty for none
  int cells;
  int paintMode;
  int offsetX;
  int offsetY;
  const char* textColor;
  std::uint32_t textColorRef;
  const char* fixedFont;  // 2102 and 2105 keep Tahoma in every language; null for the language's
  int fontSize;
  const char* englishDescription;
};
// clang-format off
const Control kControls[] = {
    {2101, "ShowImageCtrl", {7, 7, 23, 23}, "logo.png", 1, 4, 0, 0,
     kWhite, kWhiteRef, nullptr, 12, "LOG Image Show"},
    {2102, "ShowTextCtrl", {30, 4, 300, 29}, "", 1, 4, 0, 0,
     kLight, kLightRef, "Tahoma", 21, "Dialog Title"},
    {2103, "StandardButton", {300, 10, 311, 21}, "close.png", 4, 4, 0, 0,
     kLight, kLightRef, nullptr, 12, "Close Button"},
    {2104, "ShowTextImageCtrl", {15, 32, 215, 47}, "", 1, 4, 13, 2,
     kLight, kLightRef, nullptr, 12, "Device List Title"},
    {2105, "StandardListCtrl", {10, 50, 318, 191}, "", 1, 1, 0, 0,
     kDark, kDarkRef, "Tahoma", 13, "Device List Show"},
    {2106, "ShowTextImageCtrl", {10, 194, 0, 209}, "Brush.png", 1, 4, 15, 1,
     kLight, kLightRef, nullptr, 12, ""},
    {2107, "StandardButton", {18, 210, 97, 233}, "ButtonMax.png", 4, 4, 0, 6,
     kLight, kLightRef, nullptr, 12, "Log In Button"},
    {2108, "StandardButton", {127, 210, 206, 233}, "ButtonMax.png", 4, 4, 0, 6,
     kLight, kLightRef, nullptr, 12, "Refresh Button"},
    {2109, "StandardButton", {228, 210, 307, 233}, "ButtonMax.png", 4, 4, 0, 6,
     kLight, kLightRef, nullptr, 12, "My Storage Button"},
};
// clang-format on

const char* const kStringIds[] = {
    "SEARCH_DEVICE_LIST_ITEM_NAME",        "SEARCH_DEVICE_LIST_ITEM_IP",
    "SEARCH_DEVICE_LIST_ITEM_TYPE",        "SEARCH_DEVICE_LIST_HEADER_FONT_NAME",
    "SEARCH_DEVICE_LIST_HEADER_FONT_SIZE", "SEARCH_DEVICE_LIST_HEADER_FONT_COLOR",
    "SEARCH_DEVICE_WATI_TIME_WARNING",
};

// What differs between the documents.
struct Language {
  const char* name;
  int resource;
  const char* font;  // DialogFont and the font of every control without a fixed one
  const char* dialogTextColor;
  std::uint32_t dialogTextColorRef;
  int waitTextWidth;                   // of 2106
  std::array<const char*, 9> texts;    // CtrlText of 2101 to 2109
  std::array<const char*, 7> strings;  // in the order of kStringIds
  bool englishDescriptions;
};
// clang-format off
const Language kLanguages[] = {
    {"English", 150, "Tahoma", kLight, kLightRef, 280,
     {"", "Tarvelo", "", "Device List", "Device List",
      "Searching for new devices, please wait\u2026", "Log In", "Refresh", "My Storage"},
     {"Host Name", "IP Address", "Device Type", "Tahoma", "12", kLight,
      "Searching for new devices, please wait"},
     true},
    {"SimplifiedChinese", 149, "宋体", kDark, kDarkRef, 224,
     {"", "Tarvelo", "", "设备列表", "设备列表", "正在刷新设备列表,请等待...",
      "登 录", "刷 新", "我的存储"},
     {"主机名称", "IP地址", "设备类型", "宋体", "12", kLight, "正在刷新设备列表,请等待"},
     false},
    {"TraditionalChinese", 151, "宋体", kLight, kLightRef, 280,
     {"", "Tarvelo", "", "設備明細", "設備明細", "正在重新整理設備明細,請等待...",
      "登 入", "重新整理", "我的儲存"},
     {"主機名稱", "IP地址", "設備型號", "宋体", "12", kLight, "正在重新整理設備明細,請等待"},
     false},
};
// clang-format on

void PrintTo(const Language& language, std::ostream* out) { *out << language.name; }

QByteArray DocumentBytes(int resource) {
  QFile file(QStringLiteral(":/skin/XML/%1").arg(resource));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class ShippedLayoutTest : public ::testing::TestWithParam<Language> {
 protected:
  // The working base folder, which every image path of the document is joined to.
  QString Base() const { return QString::fromStdString(folder_.Path()); }
  QString Picture(const char* image) const {
    return *image == '\0' ? Base() : Base() + "/ORVAKSearchTools/Picture/" + image;
  }

  testsupport::TemporaryDirectory folder_;
  testsupport::ScopedEnvironment dataHome_{"XDG_DATA_HOME", folder_.Path()};
};

TEST_P(ShippedLayoutTest, MainDialogRecordsHoldTheDocumentedValues) {
  const Language& language = GetParam();
  const std::string path = folder_.File("WndLayoutInfo.xml");
  {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(DocumentBytes(language.resource));
  }
  CBasicLayoutFrame store;
  ASSERT_TRUE(store.ReadLayout(QString::fromStdString(path), 201, "Standard"))
      << store.GetReadReport().error.toStdString();
  EXPECT_TRUE(store.GetReadReport().notes.isEmpty())
      << store.GetReadReport().notes.join('\n').toStdString();

  const DialogInfo& dialog = store.GetDialogInfo();
  EXPECT_EQ(dialog.dialogID, 201);
  EXPECT_EQ(dialog.text, "Tarvelo");
  EXPECT_FALSE(dialog.description.isEmpty());
  EXPECT_EQ(dialog.bgPath, Picture("SearchDevice_BlackGround.png"));
  EXPECT_EQ(dialog.bgColorText, kWhite);
  EXPECT_EQ(dialog.bgColor, kWhiteRef);
  EXPECT_EQ(dialog.paintMode, 8);
  EXPECT_EQ(dialog.textOffsetX, 0);
  EXPECT_EQ(dialog.textOffsetY, 0);
  EXPECT_EQ(dialog.textColorText, language.dialogTextColor);
  EXPECT_EQ(dialog.textColor, language.dialogTextColorRef);
  EXPECT_EQ(dialog.font, U(language.font));
  EXPECT_EQ(dialog.fontSize, 12);
  EXPECT_EQ(dialog.rect, (LayoutRect{0, 0, 328, 245}));

  ASSERT_EQ(dialog.ctrls.size(), std::size(kControls));
  for (std::size_t index = 0; index < std::size(kControls); ++index) {
    const Control& expected = kControls[index];
    SCOPED_TRACE("control " + std::to_string(expected.id));
    CtrlInfo ctrl;
    ASSERT_EQ(store.GetCtrlInfo(expected.id, ctrl), 0);
    EXPECT_EQ(ctrl.ctrlID, expected.id);
    EXPECT_EQ(ctrl.className, expected.className);
    LayoutRect rect = expected.rect;
    if (expected.id == 2106) {
      rect.right = rect.left + language.waitTextWidth;
    }
    EXPECT_EQ(ctrl.rect, rect);
    EXPECT_EQ(ctrl.bgPath, Picture(expected.image));
    EXPECT_EQ(ctrl.statusCount, expected.cells);
    EXPECT_EQ(ctrl.paintMode, expected.paintMode);
    EXPECT_EQ(ctrl.text, U(language.texts[index]));
    EXPECT_EQ(ctrl.textOffsetX, expected.offsetX);
    EXPECT_EQ(ctrl.textOffsetY, expected.offsetY);
    EXPECT_EQ(ctrl.textColorText, expected.textColor);
    EXPECT_EQ(ctrl.textColor, expected.textColorRef);
    EXPECT_EQ(ctrl.font, U(expected.fixedFont != nullptr ? expected.fixedFont : language.font));
    EXPECT_EQ(ctrl.fontSize, expected.fontSize);
    EXPECT_EQ(ctrl.bgColorText, kWhite);
    EXPECT_EQ(ctrl.bgColor, kWhiteRef);
    EXPECT_EQ(ctrl.borderColorText, kBorder);
    EXPECT_EQ(ctrl.borderColor, kBorderRef);
    EXPECT_EQ(ctrl.posType, 3);
    EXPECT_EQ(ctrl.show, 5);
    // WS_CHILD | WS_VISIBLE, and LVS_REPORT for the list.
    EXPECT_EQ(ctrl.style, expected.id == 2105 ? 0x50000001u : 0x50000000u);
    if (language.englishDescriptions) {
      EXPECT_EQ(ctrl.description, expected.englishDescription);
    } else {
      EXPECT_EQ(ctrl.description.isEmpty(), expected.id == 2106) << ctrl.description.toStdString();
    }
  }

  ASSERT_EQ(dialog.strings.size(), std::size(kStringIds));
  for (std::size_t index = 0; index < std::size(kStringIds); ++index) {
    EXPECT_EQ(store.GetLayoutString(kStringIds[index]), U(language.strings[index]))
        << kStringIds[index];
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, ShippedLayoutTest, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) {
                           return std::string(info.param.name);
                         });

// The document of each language code 1-14.
std::vector<int> ShippedDocuments() {
  std::vector<int> resources;
  for (int code = 1; code <= 14; ++code) {
    resources.push_back(LayoutResourceForLanguage(code));
  }
  return resources;
}

// A working base folder of its own, and the main dialog's records of a shipped document read in
// it.
class DocumentReading {
 protected:
  DialogInfo Read(int resource) const {
    const std::string path = folder_.File("WndLayoutInfo_" + std::to_string(resource) + ".xml");
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(DocumentBytes(resource));
    file.close();
    CBasicLayoutFrame store;
    EXPECT_TRUE(store.ReadLayout(QString::fromStdString(path), 201, "Standard"))
        << store.GetReadReport().error.toStdString();
    return store.GetDialogInfo();
  }

  testsupport::TemporaryDirectory folder_;
  testsupport::ScopedEnvironment dataHome_{"XDG_DATA_HOME", folder_.Path()};
};

class ShippedDocumentTest : public ::testing::TestWithParam<int>, protected DocumentReading {};

TEST_P(ShippedDocumentTest, DocumentIsUtf8WithByteOrderMarkAndCrLfLines) {
  const QByteArray bytes = DocumentBytes(GetParam());
  ASSERT_FALSE(bytes.isEmpty());
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"))
      << bytes.left(64).toStdString();
  EXPECT_TRUE(bytes.endsWith("\r\n"));
  int line = 1;
  for (qsizetype index = 0; index < bytes.size(); ++index) {
    if (bytes[index] == '\n') {
      EXPECT_TRUE(index > 0 && bytes[index - 1] == '\r') << "bare LF ending line " << line;
      ++line;
    } else if (bytes[index] == '\r') {
      EXPECT_TRUE(index + 1 < bytes.size() && bytes[index + 1] == '\n')
          << "bare CR in line " << line;
    }
  }
  // Decoding drops the byte order mark; everything after it must survive the round trip.
  const QByteArray text = bytes.mid(3);
  EXPECT_TRUE(QString::fromUtf8(text).toUtf8() == text) << "the document is not valid UTF-8";
}

TEST_P(ShippedDocumentTest, EveryElementCarriesTheAttributesTheReaderNeeds) {
  const std::vector<std::pair<QString, QStringList>> required = {
      {"DialogInfo", {"DialogID", "DialogText", "DialogDiscrip"}},
      {"Standard",
       {"DialogBGPath", "DialogBGColor", "DlgPaintMode", "DlgTextOffSet", "DlgTextColor",
        "DialogFont", "DialogFontSize", "DialogPos"}},
      {"CtrlInfo",
       {"CtrlID", "CtrlBGPath", "CtrlBGStatusCount", "CtrlBGColor", "CtrlBorderColor",
        "CtrlPaintMode", "CtrlClass", "CtrlStyle", "CtrlPosType", "CtrlPos", "CtrlShow", "CtrlText",
        "CtrlTextOffSet", "CtrlTextColor", "CtrlFont", "CtrlFontSize", "CtrlDiscrip"}},
      {"StringInfo", {"StringID", "StringValue"}},
  };
  std::map<QString, int> counts;
  QXmlStreamReader reader(DocumentBytes(GetParam()));
  while (!reader.atEnd()) {
    if (reader.readNext() != QXmlStreamReader::StartElement) {
      continue;
    }
    const QString name = reader.name().toString();
    ++counts[name];
    for (const auto& [element, attributes] : required) {
      if (element != name) {
        continue;
      }
      for (const QString& attribute : attributes) {
        EXPECT_TRUE(reader.attributes().hasAttribute(attribute))
            << name.toStdString() << " on line " << reader.lineNumber() << " lacks "
            << attribute.toStdString();
      }
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  EXPECT_EQ(counts, (std::map<QString, int>{{"WindowInformation", 1},
                                            {"DialogInfo", 1},
                                            {"Standard", 1},
                                            {"CtrlInfo", 9},
                                            {"StringInfo", 7}}));
}

// A push button centres its caption between the rounded ends of its image, and the header centres
// a column title between separators: both keep room clear on either side.
constexpr int kButtonClearance = 3;
constexpr int kTitleClearance = 2;
// The list's border, inside which the header shows its columns.
constexpr int kListBorder = 1;

TEST_P(ShippedDocumentTest, EveryCaptionFitsItsControlInTheFontTheProgramDrawsItWith) {
  const DialogInfo dialog = Read(GetParam());
  ASSERT_EQ(dialog.ctrls.size(), 9u);
  ASSERT_EQ(dialog.strings.size(), 7u);
  // The width of `text` in the font a control or the header makes of the family and pixel size.
  const auto width = [](const QString& family, int size, const QString& text) {
    CBasicPropertyFrame record;
    record.SetFont(family, size);
    EXPECT_TRUE(record.fontUsable) << family.toStdString() << " draws no text";
    return QFontMetrics(record.textFont).horizontalAdvance(text);
  };
  // The wait text at the start of a search cycle, its widest.
  const QString waitText = dialog.strings.at("SEARCH_DEVICE_WATI_TIME_WARNING") + " 10s...";
  for (const auto& [id, ctrl] : dialog.ctrls) {
    // The list draws rows and its header, never its own text.
    if (ctrl.className == "StandardListCtrl") {
      continue;
    }
    // A text control wraps its text at its width less the text offset on both sides.
    const int controlWidth = ctrl.rect.right - ctrl.rect.left;
    const int room = ctrl.className == "StandardButton" ? controlWidth - 2 * kButtonClearance
                                                        : controlWidth - 2 * ctrl.textOffsetX;
    for (const QString& caption : {ctrl.text, id == 2106 ? waitText : QString()}) {
      EXPECT_LE(width(ctrl.font, ctrl.fontSize, caption), room)
          << "control " << id << ": " << caption.toStdString();
    }
  }
  // The column widths of the main dialog's list.
  const std::pair<const char*, int> columns[] = {{"SEARCH_DEVICE_LIST_ITEM_NAME", 96},
                                                 {"SEARCH_DEVICE_LIST_ITEM_IP", 122},
                                                 {"SEARCH_DEVICE_LIST_ITEM_TYPE", 93}};
  // The columns are wider than the list: the last one is cut at the list's border, and its
  // centred title must fit into the part that shows.
  const LayoutRect& list = dialog.ctrls.at(2105).rect;
  int columnLeft = 0;
  for (const auto& [stringId, columnWidth] : columns) {
    const int shown = std::min(columnWidth, list.right - list.left - 2 * kListBorder - columnLeft);
    columnLeft += columnWidth;
    const QString title = dialog.strings.at(stringId);
    EXPECT_LE(width(dialog.strings.at("SEARCH_DEVICE_LIST_HEADER_FONT_NAME"),
                    dialog.strings.at("SEARCH_DEVICE_LIST_HEADER_FONT_SIZE").toInt(), title),
              2 * shown - columnWidth - 2 * kTitleClearance)
        << stringId << ": " << title.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, ShippedDocumentTest,
                         ::testing::ValuesIn(ShippedDocuments()),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Document" + std::to_string(info.param);
                         });

// A document translated from the English one, and the family its texts are drawn in.
struct Translation {
  const char* name;
  int resource;
  const char* font;
};
const Translation kTranslations[] = {
    {"Japanese", 159, "Meiryo"}, {"German", 160, "Tahoma"},        {"French", 161, "Tahoma"},
    {"Russian", 162, "Tahoma"},  {"Korean", 163, "Malgun Gothic"}, {"Portuguese", 164, "Tahoma"},
    {"Spanish", 165, "Tahoma"},  {"Italian", 166, "Tahoma"},       {"Dutch", 169, "Tahoma"},
    {"Polish", 175, "Tahoma"},   {"Danish", 176, "Tahoma"},
};

void PrintTo(const Translation& translation, std::ostream* out) { *out << translation.name; }

class TranslatedLayoutTest : public ::testing::TestWithParam<Translation>,
                             protected DocumentReading {};

TEST_P(TranslatedLayoutTest, EqualsTheEnglishLayoutButForTextsFontsAndTwoWidths) {
  const QString font = U(GetParam().font);
  const DialogInfo english = Read(150);
  DialogInfo translated = Read(GetParam().resource);
  ASSERT_EQ(english.ctrls.size(), 9u);
  ASSERT_EQ(translated.ctrls.size(), 9u);
  // As in the English document: the list's own text is its title, and the wait text is the wait
  // string with an ellipsis.
  EXPECT_EQ(translated.ctrls[2105].text, translated.ctrls[2104].text);
  EXPECT_EQ(translated.ctrls[2106].text,
            translated.strings["SEARCH_DEVICE_WATI_TIME_WARNING"] + QChar(0x2026));

  // What may differ is checked and then set to the English value, so that the rest compares
  // whole. The dialog, and every control but the title 2102 and the list 2105, use the
  // language's family.
  EXPECT_EQ(translated.font, font);
  translated.font = english.font;
  for (auto& [id, ctrl] : translated.ctrls) {
    SCOPED_TRACE("control " + std::to_string(id));
    const CtrlInfo& original = english.ctrls.at(id);
    EXPECT_EQ(ctrl.font, id == 2102 || id == 2105 ? original.font : font);
    ctrl.font = original.font;
    // Captions: the list title (also the list's own text), the wait text and the three buttons.
    if (id >= 2104) {
      EXPECT_FALSE(ctrl.text.isEmpty());
      EXPECT_NE(ctrl.text, original.text) << "left in English";
      ctrl.text = original.text;
    }
  }
  // The list title 2104 and the wait text 2106 may be wider: up to the list's right edge.
  const std::tuple<int, int, int> widths[] = {{2104, 200, 250}, {2106, 280, 308}};
  for (const auto& [id, narrowest, widest] : widths) {
    LayoutRect& rect = translated.ctrls[id].rect;
    EXPECT_GE(rect.right - rect.left, narrowest) << id;
    EXPECT_LE(rect.right - rect.left, widest) << id;
    rect.right = english.ctrls.at(id).rect.right;
  }
  QString& headerFont = translated.strings["SEARCH_DEVICE_LIST_HEADER_FONT_NAME"];
  EXPECT_EQ(headerFont, font);
  headerFont = english.strings.at("SEARCH_DEVICE_LIST_HEADER_FONT_NAME");
  for (const char* id : {"SEARCH_DEVICE_LIST_ITEM_NAME", "SEARCH_DEVICE_LIST_ITEM_IP",
                         "SEARCH_DEVICE_LIST_ITEM_TYPE", "SEARCH_DEVICE_WATI_TIME_WARNING"}) {
    EXPECT_NE(translated.strings[id], english.strings.at(id)) << id << " left in English";
    translated.strings[id] = english.strings.at(id);
  }

  // The rest, field by field, as --check-layout prints it (a mismatch shows the differing lines).
  EXPECT_EQ(LayoutToJson(translated), LayoutToJson(english));
  EXPECT_TRUE(translated == english);
}

INSTANTIATE_TEST_SUITE_P(Languages, TranslatedLayoutTest, ::testing::ValuesIn(kTranslations),
                         [](const ::testing::TestParamInfo<Translation>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
