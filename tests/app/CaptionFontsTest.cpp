// Every caption of every shipped layout draws, whole, with the fonts a fresh system has. CTest runs
// this program once per session language and per font set (FONTCONFIG_FILE: only the Latin
// families and WenQuanYi Zen Hei, or only the Latin families and Noto Sans CJK), because the font
// database reads both once per process. Under a Chinese session the CJK family is listed under its
// Chinese name, and the CJK families reserve more room above and below their glyphs than the
// families the layouts were written for: these are the two ways captions used to vanish or lose
// their bottom strokes.

#include <algorithm>

#include <gtest/gtest.h>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QTableWidgetItem>

#include "ScopedEnvironment.h"
#include "TemporaryDirectory.h"
#include "TestImages.h"
#include "app/DeviceTable.h"
#include "app/SkinDeployment.h"
#include "app/VexiloDlg.h"
#include "controls/BasicCtrl.h"
#include "controls/Buttons.h"
#include "controls/StandardListCtrl.h"
#include "platform/FontFamilies.h"
#include "platform/WorkingFolder.h"

namespace {

using testsupport::ScopedEnvironment;
using testsupport::ChannelDistance;
using testsupport::TemporaryDirectory;

class QuietDlg : public CVexiloDlg {
 protected:
  void SendSearch() override {}
};

// The controls that show a caption: title, list title, wait text and the three push buttons.
constexpr int kCaptionIds[] = {
    2102, 2104, kWaitTextId, kLogInButtonId, kRefreshButtonId, kStorageButtonId};

QImage Render(QWidget* control) {
  if (auto* button = dynamic_cast<CBasicButton*>(control)) {
    return button->RenderBuffer();
  }
  return dynamic_cast<CBasicCtrl*>(control)->RenderBuffer();
}

// Where two renderings of the same control differ: the ink of what one has and the other lacks.
struct Ink {
  int pixels = 0;
  int top = -1;
  int bottom = -1;
  int Rows() const { return pixels == 0 ? 0 : bottom - top + 1; }
};

Ink Difference(const QImage& with, const QImage& without) {
  Ink ink;
  const QImage a = with.convertToFormat(QImage::Format_ARGB32);
  const QImage b = without.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
    for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
      if (ChannelDistance(a.pixel(x, y), b.pixel(x, y)) < 48) {
        continue;
      }
      ++ink.pixels;
      ink.top = ink.top < 0 ? y : ink.top;
      ink.bottom = y;
    }
  }
  return ink;
}

// The caption's ink in `control` at its size plus `extraHeight` rows.
Ink CaptionInk(QWidget* control, int extraHeight) {
  auto* record = dynamic_cast<CBasicPropertyFrame*>(control);
  const QSize size = control->size();
  control->resize(size.width(), size.height() + extraHeight);
  const QString text = record->drawnText;
  const QImage with = Render(control);
  record->drawnText.clear();
  const QImage without = Render(control);
  record->drawnText = text;
  control->resize(size);
  return Difference(with, without);
}

// The ink of the column titles in the header, column by column.
std::vector<Ink> TitleInk(CStandardListCtrl* list) {
  CStandardHeaderCtrl* header = list->GetHeaderCtrl();
  const QImage with = header->RenderBuffer();
  std::vector<QString> titles;
  for (int column = 0; column < list->columnCount(); ++column) {
    titles.push_back(list->horizontalHeaderItem(column)->text());
    list->horizontalHeaderItem(column)->setText(QString());
  }
  const QImage without = header->RenderBuffer();
  std::vector<Ink> result;
  for (int column = 0; column < list->columnCount(); ++column) {
    list->horizontalHeaderItem(column)->setText(titles[column]);
    const QRect section(header->sectionViewportPosition(column), 0, header->sectionSize(column),
                        header->height());
    result.push_back(Difference(with.copy(section), without.copy(section)));
  }
  return result;
}

class CaptionFontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DeploySkinFiles());
    DeviceTable::Instance().Clear();
  }

  TemporaryDirectory folder_;
  const ScopedEnvironment data_{"XDG_DATA_HOME", folder_.Path()};
};

TEST_F(CaptionFontsTest, EveryCaptionOfEveryShippedLayoutDrawsWhole) {
  const QStringList documents = QDir(QStringLiteral(":/skin/XML")).entryList();
  ASSERT_GE(documents.size(), 3);
  const QString layoutFile = MakeLayoutPath(QString::fromUtf16(kLayoutFile));
  for (const QString& document : documents) {
    SCOPED_TRACE("document " + document.toStdString());
    ASSERT_TRUE(
        WriteResourceToFile(document.toInt(), QString::fromUtf16(kXmlResource), layoutFile));
    QuietDlg dialog;
    dialog.EnsureInitialized();
    ASSERT_TRUE(dialog.ControlsBound());

    for (const int id : kCaptionIds) {
      SCOPED_TRACE("control " + std::to_string(id));
      QWidget* control = dialog.FindStaticCtrl(id);
      if (control == nullptr) {
        control = dialog.FindButtonCtrl(id);
      }
      ASSERT_NE(control, nullptr);
      auto* record = dynamic_cast<CBasicPropertyFrame*>(control);
      ASSERT_FALSE(record->drawnText.isEmpty());
      EXPECT_TRUE(record->fontUsable) << "font " << record->fontFamily.toStdString();
      const Ink ink = CaptionInk(control, 0);
      EXPECT_GE(ink.pixels, 12) << "no caption drawn";
      // Room below changes nothing about a caption that fits: the same rows of glyphs. A caption
      // cut by its control's edge shows more of itself in a taller control.
      const Ink tall = CaptionInk(control, 40);
      EXPECT_LE(tall.Rows() - ink.Rows(), 1)
          << "caption cut: " << ink.Rows() << " rows of " << tall.Rows();
    }

    dialog.deviceList->GetHeaderCtrl()->resize(dialog.deviceList->width(),
                                               dialog.deviceList->GetHeaderCtrl()->height());
    int column = 0;
    for (const Ink& ink : TitleInk(dialog.deviceList)) {
      EXPECT_GE(ink.pixels, 12) << "no title drawn in column " << column;
      ++column;
    }
  }
}

// A layout's family is found under every name the system knows for it, in whatever language the
// session lists it; a family that nothing installed serves stays unresolved.
TEST(FontNames, LayoutFamiliesResolveUnderEveryName) {
  for (const char16_t* family :
       {u"Tahoma", u"Arial", u"宋体", u"SimSun", u"Meiryo", u"Malgun Gothic"}) {
    EXPECT_FALSE(ResolveFontFamily(QString::fromUtf16(family)).isEmpty())
        << QString::fromUtf16(family).toStdString();
  }
  const QString served = ResolveFontFamily(QStringLiteral("宋体"));
  for (const QString& name : FontFamilyNames(served)) {
    EXPECT_EQ(ResolveFontFamily(name).toStdString(), served.toStdString()) << name.toStdString();
  }
  EXPECT_TRUE(ResolveFontFamily(QStringLiteral("No Such Family 7")).isEmpty());
}

}  // namespace
