// What assistive technologies read of the skinned controls through Qt's accessibility: the text
// and image controls as labels and graphics named by what they show, the list as a table whose
// column titles and cells are its texts, and a label that tells when its text changes.

#include "controls/CtrlAccessible.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QImage>

#include "TemporaryDirectory.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"

namespace {

using testsupport::TemporaryDirectory;

// The controls whose text change was announced, in order.
std::vector<QWidget*> announced;

void Hear(QWidget* control) { announced.push_back(control); }

class HearAnnouncements {
 public:
  HearAnnouncements() {
    announced.clear();
    SetTextChangeHook(&Hear);
  }
  ~HearAnnouncements() { SetTextChangeHook(nullptr); }
  HearAnnouncements(const HearAnnouncements&) = delete;
  HearAnnouncements& operator=(const HearAnnouncements&) = delete;
};

TEST(CtrlAccessibleTest, TextAndImageControlsAreLabelsAndGraphicsNamedByWhatTheyShow) {
  TemporaryDirectory folder;
  const QString image = QString::fromStdString(folder.File("logo.png"));
  QImage logo(16, 16, QImage::Format_ARGB32);
  logo.fill(Qt::red);
  ASSERT_TRUE(logo.save(image));

  enum class Kind { Text, Image, TextAndImage };
  struct Case {
    const char* what;
    Kind kind;
    const char* text;  // nullptr: no SetText
    bool withImage;
    const char* description;
    const char* accessibleName;  // nullptr: none given
    QAccessible::Role role;
    const char* name;
    const char* readDescription;
  };
  const Case cases[] = {
      {"title", Kind::Text, "Tarvelo", false, "Dialog Title", nullptr, QAccessible::StaticText,
       "Tarvelo", "Dialog Title"},
      {"list caption without image", Kind::TextAndImage, "Device List", false, "Device List Title",
       nullptr, QAccessible::StaticText, "Device List", "Device List Title"},
      {"wait text over its image", Kind::TextAndImage, "Searching 10s...", true, "", nullptr,
       QAccessible::StaticText, "Searching 10s...", ""},
      {"logo", Kind::Image, nullptr, true, "LOG Image Show", nullptr, QAccessible::Graphic,
       "LOG Image Show", ""},
      {"picture behind an empty text", Kind::TextAndImage, "", true, "Banner", nullptr,
       QAccessible::Graphic, "Banner", ""},
      {"a given name wins", Kind::Text, "Tarvelo", false, "Dialog Title", "Window title",
       QAccessible::StaticText, "Window title", "Dialog Title"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<CBasicCtrl> control;
    switch (c.kind) {
      case Kind::Text:
        control = std::make_unique<CShowTextCtrl>();
        break;
      case Kind::Image:
        control = std::make_unique<CShowImageCtrl>();
        break;
      case Kind::TextAndImage:
        control = std::make_unique<CShowTextImageCtrl>();
        break;
    }
    if (c.text != nullptr) {
      control->SetText(c.text, 0, 0);
    }
    if (c.withImage) {
      control->SetBGImage(image, 1, 0, 0);
    }
    control->setAccessibleDescription(c.description);
    if (c.accessibleName != nullptr) {
      control->setAccessibleName(c.accessibleName);
    }
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control.get());
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), c.role);
    EXPECT_EQ(face->text(QAccessible::Name), c.name);
    EXPECT_EQ(face->text(QAccessible::Description), c.readDescription);
  }
}

TEST(CtrlAccessibleTest, ALabelTellsWhenItsTextChanges) {
  const HearAnnouncements hear;
  CShowTextImageCtrl wait;
  wait.SetText("Searching 10s...", 15, 1);
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&wait);
  ASSERT_NE(face, nullptr);
  wait.ChangeText("Searching 9s...");
  EXPECT_EQ(face->text(QAccessible::Name), "Searching 9s...");
  EXPECT_EQ(wait.drawnText, "Searching 9s...");
  EXPECT_EQ(wait.textOffsetX, 15);
  EXPECT_EQ(wait.textOffsetY, 1);
  EXPECT_EQ(announced, std::vector<QWidget*>{&wait});
}

TEST(CtrlAccessibleTest, APlainInterfaceKeptForAControlIsReplaced) {
  CShowTextCtrl title;
  title.SetText("Tarvelo", 0, 0);
  // What Qt keeps when it built an interface while the control was still a plain widget under
  // construction: a filler, kept in place of the label.
  QAccessible::deleteAccessibleInterface(
      QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&title)));
  QAccessible::registerAccessibleInterface(new QAccessibleWidget(&title));
  ASSERT_EQ(QAccessible::queryAccessibleInterface(&title)->role(), QAccessible::Client);
  RefreshCtrlAccessibility(&title);
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&title);
  EXPECT_EQ(face->role(), QAccessible::StaticText);
  EXPECT_EQ(face->text(QAccessible::Name), "Tarvelo");
}

TEST(CtrlAccessibleTest, TheListIsATableOfItsTitlesAndRowTexts) {
  CStandardListCtrl list;
  list.resize(320, 140);
  list.setAccessibleName("Device List");
  list.InsertColumn(0, "Host Name", CStandardListCtrl::ColumnAlign::Left, 96);
  list.InsertColumn(1, "IP Address", CStandardListCtrl::ColumnAlign::Center, 122);
  list.InsertItem(0, "nas-one");
  list.SetItemText(0, 1, "10.0.0.1");
  list.show();
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&list);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::Table);
  EXPECT_EQ(face->text(QAccessible::Name), "Device List");
  QAccessibleTableInterface* table = face->tableInterface();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->columnCount(), 2);
  EXPECT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->columnDescription(0), "Host Name");
  EXPECT_EQ(table->columnDescription(1), "IP Address");
  ASSERT_NE(table->cellAt(0, 1), nullptr);
  EXPECT_EQ(table->cellAt(0, 0)->text(QAccessible::Name), "nas-one");
  EXPECT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), "10.0.0.1");
  // The header the list paints itself is read as column headers with the titles.
  std::vector<QString> headers;
  for (int child = 0; child < face->childCount(); ++child) {
    QAccessibleInterface* item = face->child(child);
    if (item != nullptr && item->role() == QAccessible::ColumnHeader) {
      headers.push_back(item->text(QAccessible::Name));
    }
  }
  EXPECT_EQ(headers, (std::vector<QString>{"Host Name", "IP Address"}));
}

}  // namespace
