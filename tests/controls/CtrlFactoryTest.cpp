#include "controls/CtrlFactory.h"

#include <QAccessible>
#include <QFile>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "controls/Buttons.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "layout/BasicLayoutFrame.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

// A dialog with its store, as the main window has them.
class FactoryTest : public ::testing::Test {
 protected:
  // Reads `document` into the store and runs the nine passes on the dialog.
  void Create(const QByteArray& document) {
    const QString path = QString::fromStdString(folder_.File("layout.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(document);
    file.close();
    ASSERT_TRUE(store_.ReadLayout(path, 201, "Standard"));
    CreateAllCtrls(store_, &dialog_);
  }

  // The identifiers of the dialog's children in the order they were created.
  std::vector<int> CreationOrder() const {
    std::vector<int> ids;
    for (const QWidget* child : dialog_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      ids.push_back(GetCtrlId(child));
    }
    return ids;
  }

  static QByteArray Ctrl(int id, const QString& className, int show = 5) {
    return QStringLiteral(
               R"(<CtrlInfo CtrlID="%1" CtrlBGPath="\img.png" CtrlBGStatusCount="1" )"
               R"(CtrlBGColor="1,2,3" CtrlBorderColor="4,5,6" CtrlPaintMode="4" CtrlClass="%2" )"
               R"(CtrlStyle="WS_CHILD|WS_VISIBLE" CtrlPosType="3" CtrlPos="10,20,30,40" )"
               R"(CtrlShow="%3" CtrlText="Text %1" CtrlTextOffSet="1,2" CtrlTextColor="7,8,9" )"
               R"(CtrlFont="Tahoma" CtrlFontSize="13" CtrlDiscrip="About %1"/>)")
        .arg(id)
        .arg(className)
        .arg(show)
        .toUtf8();
  }

  static QByteArray Document(const QByteArray& ctrls) {
    return R"(<WindowInformation><DialogInfo DialogID="201" DialogText="T" DialogDiscrip="">)"
           R"(<Standard DialogBGPath="" DialogBGColor="1,1,1" DlgPaintMode="8" DlgTextOffSet="0,0" )"
           R"(DlgTextColor="1,1,1" DialogFont="Tahoma" DialogFontSize="12" DialogPos="0,0,328,245">)" +
           ctrls + "</Standard></DialogInfo></WindowInformation>";
  }

  TemporaryDirectory folder_;
  const ScopedEnvironment data_{"XDG_DATA_HOME", folder_.Path()};
  QWidget dialog_;
  CBasicLayoutFrame store_;
};

TEST_F(FactoryTest, TheShippedLayoutIsCreatedPassByPass) {
  QFile shipped(TARVELO_SOURCE_DIR "/res/skin/WndLayoutInfo_150.xml");
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
  Create(shipped.readAll());
  EXPECT_EQ(CreationOrder(),
            (std::vector<int>{2103, 2107, 2108, 2109, 2102, 2101, 2104, 2106, 2105}));
  EXPECT_EQ(store_.CtrlIds(CBasicLayoutFrame::CtrlTable::Button),
            (std::vector<std::int32_t>{2103, 2107, 2108, 2109}));
  EXPECT_EQ(store_.CtrlIds(CBasicLayoutFrame::CtrlTable::Static),
            (std::vector<std::int32_t>{2101, 2102, 2104, 2106}));
  EXPECT_EQ(store_.CtrlIds(CBasicLayoutFrame::CtrlTable::List), (std::vector<std::int32_t>{2105}));

  auto* logIn = dynamic_cast<CStandardButton*>(store_.FindButtonCtrl(2107));
  ASSERT_NE(logIn, nullptr);
  EXPECT_EQ(logIn->geometry(), QRect(18, 210, 79, 23));
  EXPECT_EQ(logIn->drawnText, "Log In");
  EXPECT_EQ(logIn->textOffsetY, 6);
  EXPECT_EQ(logIn->statusCount, 4);
  EXPECT_EQ(logIn->paintMode, 4);
  EXPECT_EQ(logIn->textColor, 0xFFF4F5F7u);
  EXPECT_EQ(logIn->borderColor, 0xFF7E9DB9u);
  EXPECT_FALSE(logIn->isHidden());
  auto* list = dynamic_cast<CStandardListCtrl*>(store_.FindListCtrl(2105));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->geometry(), QRect(10, 50, 308, 141));
  EXPECT_EQ(list->paintMode, 1);
  // The rows take the layout font of cell height 13 and the text colour 6,65,105.
  EXPECT_EQ(store_.FontCount(), 1u);
  EXPECT_EQ(list->font().family(), "Liberation Sans");
  EXPECT_LE(QFontMetrics(list->font()).ascent() + QFontMetrics(list->font()).descent(), 13);
  EXPECT_EQ(list->palette().color(QPalette::Text), QColor(6, 65, 105));
}

TEST_F(FactoryTest, OnlyExactClassNamesCreateControls) {
  Create(Document(Ctrl(1, "StandardButton ") + Ctrl(2, "standardbutton") + Ctrl(3, "Unknown") +
                  Ctrl(4, "") + Ctrl(5, "StandardButton")));
  EXPECT_EQ(CreationOrder(), std::vector<int>{5});
}

TEST_F(FactoryTest, TheFirstRecordOfAnIdentifierDecidesTheControl) {
  Create(Document(Ctrl(2107, "StandardButton") + Ctrl(2107, "ShowTextCtrl")));
  EXPECT_EQ(CreationOrder(), std::vector<int>{2107});
  EXPECT_NE(dynamic_cast<CStandardButton*>(store_.FindButtonCtrl(2107)), nullptr);
  EXPECT_EQ(store_.FindStaticCtrl(2107), nullptr);
}

TEST_F(FactoryTest, EachClassTakesOnlyWhatItDraws) {
  Create(Document(Ctrl(1, "ShowImageCtrl") + Ctrl(2, "ShowTextCtrl") + Ctrl(3, "DriftButton") +
                  Ctrl(4, "ShowTextImageCtrl", 0)));
  auto* image = dynamic_cast<CShowImageCtrl*>(store_.FindStaticCtrl(1));
  auto* text = dynamic_cast<CShowTextCtrl*>(store_.FindStaticCtrl(2));
  auto* drift = dynamic_cast<CDriftButton*>(store_.FindButtonCtrl(3));
  auto* both = dynamic_cast<CShowTextImageCtrl*>(store_.FindStaticCtrl(4));
  ASSERT_TRUE(image && text && drift && both);
  // An image control never gets text, font or text colour.
  EXPECT_TRUE(image->drawnText.isNull());
  EXPECT_EQ(image->textColor, 0xFF000000u);
  EXPECT_EQ(image->fontFamily, "宋体");
  EXPECT_TRUE(image->bgImage.has_value());
  // A text control never loads an image.
  EXPECT_FALSE(text->bgImage.has_value());
  EXPECT_EQ(text->drawnText, "Text 2");
  EXPECT_EQ(text->textOffsetX, 1);
  EXPECT_EQ(text->fontFamily, "Tahoma");
  EXPECT_EQ(text->textColor, 0xFF070809u);
  // Every class takes the colours and the paint mode.
  EXPECT_EQ(text->bgColor, 0xFF010203u);
  EXPECT_EQ(text->borderColor, 0xFF040506u);
  // Only drift buttons show their description as a tooltip.
  EXPECT_EQ(drift->toolTip(), "About 3");
  EXPECT_TRUE(text->toolTip().isEmpty());
  // The show command decides visibility.
  EXPECT_TRUE(both->isHidden());
  EXPECT_FALSE(text->isHidden());
}

TEST_F(FactoryTest, ControlsCarryTheirDescriptionAndButtonsAndListsTheirName) {
  Create(Document(Ctrl(1, "StandardButton") + Ctrl(2, "ShowTextCtrl") +
                  Ctrl(3, "StandardListCtrl") + Ctrl(4, "ShowImageCtrl")));
  struct Case {
    QWidget* control;
    QAccessible::Role role;
    const char* name;
    const char* description;
  };
  const Case cases[] = {
      {store_.FindButtonCtrl(1), QAccessible::Button, "Text 1", "About 1"},
      {store_.FindStaticCtrl(2), QAccessible::StaticText, "Text 2", "About 2"},
      {store_.FindListCtrl(3), QAccessible::Table, "Text 3", "About 3"},
      // A picture has no text: its description names it, and is not read twice.
      {store_.FindStaticCtrl(4), QAccessible::Graphic, "About 4", ""},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.control, nullptr);
    SCOPED_TRACE(GetCtrlId(c.control));
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(c.control);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), c.role);
    EXPECT_EQ(face->text(QAccessible::Name), c.name);
    EXPECT_EQ(face->text(QAccessible::Description), c.description);
  }
}

}  // namespace
