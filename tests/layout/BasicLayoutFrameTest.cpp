#include "layout/BasicLayoutFrame.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>

#include "HostileFiles.h"
#include "LayoutDocument.h"
#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "layout/BasicPropertyFrame.h"

namespace {

using namespace layouttest;
using testsupport::ScopedEnvironment;
using testsupport::TemporaryDirectory;

// A skinned control as the store sees one: a widget with a property record.
class TestCtrl : public QWidget, public CBasicPropertyFrame {
 public:
  using QWidget::QWidget;
};

// A dialog-side store that creates one control and one font per control record, as the control
// factory does, and counts the steps of the apply sequence.
class TestStore : public CBasicLayoutFrame {
 public:
  void ApplyDialogInfo() override { calls.push_back("dialog"); }
  void ApplyCtrlInfo() override {
    calls.push_back("ctrls");
    CBasicLayoutFrame::ApplyCtrlInfo();
    for (const auto& [id, ctrl] : GetDialogInfo().ctrls) {
      auto* control = new TestCtrl(&parent);
      created.emplace_back(control);
      AddCtrl(CtrlTable::Button, id, control);
      CreateLayoutFont(ctrl.font, ctrl.fontSize);
    }
  }

  QWidget parent;
  std::vector<std::string> calls;
  std::vector<QPointer<QWidget>> created;
};

class BasicLayoutFrameTest : public ::testing::Test {
 protected:
  QString WriteDocument(const QByteArray& bytes, const std::string& name = "layout.xml") {
    const QString path = QString::fromStdString(folder_.File(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  TemporaryDirectory folder_;
  const ScopedEnvironment data_{"XDG_DATA_HOME", folder_.Path()};
};

QByteArray ThreeControls() {
  return Document(
      Element("DialogInfo", DialogAttributes(201),
              Element("Standard", LookAttributes(), Ctrl(2105) + Ctrl(2101) + Ctrl(2103)) +
                  String("SEARCH_DEVICE_LIST_ITEM_IP", "IP Address")));
}

TEST_F(BasicLayoutFrameTest, LookupsByIdentifier) {
  CBasicLayoutFrame store;
  ASSERT_TRUE(store.ReadLayout(WriteDocument(ThreeControls()), 201, "Standard"));
  EXPECT_EQ(store.GetLayoutString("SEARCH_DEVICE_LIST_ITEM_IP"), "IP Address");
  EXPECT_EQ(store.GetLayoutString("search_device_list_item_ip"), "");
  EXPECT_FALSE(store.GetLayoutString("UNKNOWN").isNull());

  CtrlInfo info;
  info.text = "untouched";
  EXPECT_EQ(store.GetCtrlInfo(9999, info), 1);
  EXPECT_EQ(info.text, "untouched");
  EXPECT_EQ(store.GetCtrlInfo(2105, info), 0);
  EXPECT_EQ(info, store.GetDialogInfo().ctrls.at(2105));
  EXPECT_EQ(info.bgPath, QString::fromStdString(folder_.Path()) + "/Skin/button.png");
}

TEST_F(BasicLayoutFrameTest, MissingEmptyOrBrokenFilesReadAsNothing) {
  CBasicLayoutFrame store;
  ASSERT_TRUE(store.ReadLayout(WriteDocument(ThreeControls()), 201, "Standard"));

  EXPECT_FALSE(store.ReadLayout(QString(), 201, "Standard"));
  EXPECT_TRUE(store.GetDialogInfo().ctrls.empty());
  EXPECT_TRUE(store.GetDialogInfo().strings.empty());

  EXPECT_TRUE(
      store.ReadLayout(QString::fromStdString(folder_.File("missing.xml")), 201, "Standard"));
  EXPECT_EQ(store.GetDialogInfo().dialogID, 0);
  EXPECT_EQ(store.GetReadReport().notes.size(), 1);

  // A folder in place of the file cannot be read either, nor anything else that is not a regular
  // file: none of them blocks or reads without end.
  ASSERT_TRUE(testsupport::MakeFifo(folder_.File("fifo.xml")));
  for (const std::string& path :
       {folder_.Path(), folder_.File("fifo.xml"), std::string("/dev/zero")}) {
    EXPECT_TRUE(store.ReadLayout(QString::fromStdString(path), 201, "Standard")) << path;
    EXPECT_TRUE(store.GetDialogInfo().ctrls.empty());
    EXPECT_TRUE(store.GetReadReport().unreadable) << path;
  }

  EXPECT_TRUE(
      store.ReadLayout(WriteDocument("<WindowInformation><Dialog", "broken.xml"), 201, "Standard"));
  EXPECT_TRUE(store.GetDialogInfo().ctrls.empty());
  // The dialog colour and rectangle of the earlier read stay: a read does not reset them.
  EXPECT_EQ(store.GetDialogInfo().rect, (LayoutRect{0, 0, 328, 245}));
  EXPECT_EQ(store.GetDialogInfo().bgColorText, "255,255,255");
}

TEST_F(BasicLayoutFrameTest, LoadingAppliesDialogThenControlsAndNeverAccumulates) {
  TestStore store;
  store.LoadLayoutFile("\\layout.xml", 201, "Standard");
  WriteDocument(ThreeControls());
  store.LoadLayoutFile("\\layout.xml", 201, "Standard");
  const std::vector<QPointer<QWidget>> firstSet = store.created;
  store.LoadLayoutFile("\\layout.xml", 201, "Standard");

  EXPECT_EQ(store.calls,
            (std::vector<std::string>{"dialog", "ctrls", "dialog", "ctrls", "dialog", "ctrls"}));
  EXPECT_EQ(store.CtrlIds(CBasicLayoutFrame::CtrlTable::Button),
            (std::vector<std::int32_t>{2101, 2103, 2105}));
  EXPECT_EQ(store.FontCount(), 3u);
  EXPECT_EQ(store.parent.findChildren<TestCtrl*>().size(), 3);
  for (const QPointer<QWidget>& control : firstSet) {
    EXPECT_TRUE(control.isNull());
  }
  EXPECT_NE(store.FindButtonCtrl(2103), nullptr);
  EXPECT_EQ(store.FindStaticCtrl(2103), nullptr);
  EXPECT_EQ(store.FindButtonCtrl(2102), nullptr);
}

TEST_F(BasicLayoutFrameTest, ReleaseDeletesEveryTableAndSurvivesControlsAlreadyGone) {
  CBasicLayoutFrame store;
  auto parent = std::make_unique<QWidget>();
  QPointer<QWidget> kept(new QWidget(parent.get()));
  QPointer<QWidget> orphan(new QWidget);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Static, 1, kept);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Spare3, 2, orphan);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::List, 3, new QWidget(parent.get()));
  // An identifier already filed keeps its control; the newcomer is deleted.
  QPointer<QWidget> duplicate(new QWidget);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Static, 1, duplicate);
  EXPECT_TRUE(duplicate.isNull());
  EXPECT_EQ(store.FindStaticCtrl(1), kept.data());
  EXPECT_NE(store.FindListCtrl(3), nullptr);
  EXPECT_NE(store.CreateLayoutFont("Tahoma", 13), nullptr);

  // The dialog goes first and takes its child windows with it.
  parent.reset();
  EXPECT_EQ(store.FindListCtrl(3), nullptr);
  store.ReleaseCtrls();
  EXPECT_TRUE(orphan.isNull());
  EXPECT_EQ(store.FontCount(), 0u);
  EXPECT_EQ(store.FindStaticCtrl(1), nullptr);
}

TEST_F(BasicLayoutFrameTest, AnIdentifierWhoseControlIsGoneCanBeFiledAgain) {
  CBasicLayoutFrame store;
  auto parent = std::make_unique<QWidget>();
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Button, 7, new QWidget(parent.get()));
  parent.reset();
  QPointer<QWidget> again(new QWidget);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Button, 7, again);
  EXPECT_EQ(store.FindButtonCtrl(7), again.data());
}

// A dialog class with a member that its child events use; the store is its second base and is
// destroyed after the member, as in every skinned dialog.
class DialogWithMember : public QWidget, public CBasicLayoutFrame {
 public:
  DialogWithMember() : childEvents_(std::make_unique<int>(0)) {
    AddCtrl(CtrlTable::Button, 1, new QWidget(this));
    AddCtrl(CtrlTable::Static, 2, new QWidget(this));
  }

 protected:
  void childEvent(QChildEvent* event) override {
    // Reached through a destroyed member, this would crash or be reported by the sanitizers.
    ++*childEvents_;
    QWidget::childEvent(event);
  }

 private:
  std::unique_ptr<int> childEvents_;
};

TEST_F(BasicLayoutFrameTest, TheStoreGoesAfterTheDialogsMembersWithoutTellingTheDialog) {
  auto dialog = std::make_unique<DialogWithMember>();
  dialog.reset();
  SUCCEED();
}

TEST_F(BasicLayoutFrameTest, LayoutFontsHaveTheRequestedCellHeight) {
  CBasicLayoutFrame store;
  for (const int height : {8, 12, 13, 21, 40}) {
    const QFont* font = store.CreateLayoutFont("Tahoma", height);
    ASSERT_NE(font, nullptr);
    const QFontMetrics metrics(*font);
    EXPECT_LE(metrics.ascent() + metrics.descent(), height) << height;
    EXPECT_GE(metrics.ascent() + metrics.descent(), height - 2) << height;
    EXPECT_EQ(font->family(), "Liberation Sans");
  }
  // A negative height is the em size; 0 keeps the family's default size.
  EXPECT_EQ(store.CreateLayoutFont("Tahoma", -13)->pixelSize(), 13);
  EXPECT_EQ(store.CreateLayoutFont("Tahoma", 0)->pixelSize(), QFont().pixelSize());
  // Like the desktop's font mapper, an unknown face still gives a font.
  EXPECT_NE(store.CreateLayoutFont("NoSuchFontFamily", 12), nullptr);
  // Absurd heights are capped instead of measured pixel by pixel.
  EXPECT_LE(store.CreateLayoutFont("Tahoma", 2000000000)->pixelSize(), kMaxLayoutFontHeight);
  EXPECT_EQ(store.FontCount(), 9u);
}

TEST_F(BasicLayoutFrameTest, CapturedBackgroundsAreTheDialogPixelsUnderEachControl) {
  CBasicLayoutFrame store;
  QWidget dialog;
  dialog.resize(100, 60);
  auto* button = new TestCtrl(&dialog);
  button->setGeometry(10, 20, 8, 6);
  auto* label = new TestCtrl(&dialog);
  label->setGeometry(95, 55, 10, 10);  // reaches past the dialog's edge
  auto* list = new TestCtrl(&dialog);
  list->setGeometry(0, 0, 5, 5);
  auto* plain = new QWidget(&dialog);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Button, 1, button);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Static, 2, label);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::List, 3, list);
  store.AddCtrl(CBasicLayoutFrame::CtrlTable::Static, 4, plain);

  // Every pixel of the buffer differs from every other.
  QImage buffer(100, 60, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < buffer.height(); ++y) {
    for (int x = 0; x < buffer.width(); ++x) {
      buffer.setPixel(x, y, qRgb(x, y, 7));
    }
  }
  store.CaptureCtrlBackgrounds(buffer, &dialog);
  ASSERT_TRUE(button->cachedBackground.has_value());
  EXPECT_EQ(*button->cachedBackground, buffer.copy(10, 20, 8, 6));
  ASSERT_TRUE(label->cachedBackground.has_value());
  EXPECT_EQ(label->cachedBackground->size(), QSize(10, 10));
  EXPECT_EQ(label->cachedBackground->pixel(0, 0), qRgb(95, 55, 7));
  EXPECT_FALSE(list->cachedBackground.has_value());

  // A second capture replaces the copy.
  buffer.fill(Qt::green);
  store.CaptureCtrlBackgrounds(buffer, &dialog);
  EXPECT_EQ(button->cachedBackground->pixel(3, 3), QColor(Qt::green).rgb());
  store.CaptureCtrlBackgrounds(buffer, nullptr);
}

}  // namespace
