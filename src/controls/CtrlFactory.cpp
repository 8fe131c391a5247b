#include "controls/CtrlFactory.h"

#include <functional>
#include <iterator>

#include "controls/BasicDialog.h"
#include "controls/Buttons.h"
#include "controls/CtrlNotify.h"
#include "controls/ShowCtrls.h"
#include "controls/StandardListCtrl.h"
#include "controls/TaskListCtrl.h"
#include "layout/BasicLayoutFrame.h"
#include "layout/LayoutClasses.h"

namespace {

// A control as every pass handles it: the widget, its property record, and the table it goes in.
struct CreatedCtrl {
  QWidget* widget;
  CBasicPropertyFrame* record;
};

using Constructor = std::function<CreatedCtrl(QWidget* dialog)>;

template <typename Ctrl>
Constructor Make() {
  return [](QWidget* dialog) {
    auto* ctrl = new Ctrl(dialog);
    return CreatedCtrl{ctrl, ctrl};
  };
}

// What assistive technologies read of a control besides what it shows: its layout description
// (CtrlDiscrip), and for buttons and lists, whose Qt interfaces take the widget's accessible name,
// a name: a button's caption, a list's layout text (its title, which the list does not draw). The
// text and image controls are named by the text they show at the moment (CtrlAccessible.h).
void DescribeForAssistiveTechnology(QWidget* control, const CBasicPropertyFrame& record,
                                    const CtrlInfo& info) {
  control->setAccessibleDescription(info.description);
  QString name;
  if (dynamic_cast<CBasicButton*>(control) != nullptr) {
    name = record.drawnText;
  } else if (dynamic_cast<CBasicListCtrl*>(control) != nullptr) {
    name = info.text;
  }
  if (!name.isEmpty()) {
    control->setAccessibleName(name);
  }
}

struct Pass {
  const char16_t* className;
  Constructor construct;
  CBasicLayoutFrame::CtrlTable table;
};

// In pass order; what each class takes from its record is in kLayoutClasses.
const Pass& PassOf(const QString& className, bool& found) {
  static const Pass kPasses[] = {
      {kStandardButtonClass, Make<CStandardButton>(), CBasicLayoutFrame::CtrlTable::Button},
      {kRadioBoxButtonClass, Make<CRadioBoxButton>(), CBasicLayoutFrame::CtrlTable::Button},
      {kCheckBoxButtonClass, Make<CCheckBoxButton>(), CBasicLayoutFrame::CtrlTable::Button},
      {kDriftButtonClass, Make<CDriftButton>(), CBasicLayoutFrame::CtrlTable::Button},
      {kShowTextCtrlClass, Make<CShowTextCtrl>(), CBasicLayoutFrame::CtrlTable::Static},
      {kShowImageCtrlClass, Make<CShowImageCtrl>(), CBasicLayoutFrame::CtrlTable::Static},
      {kShowTextImageCtrlClass, Make<CShowTextImageCtrl>(), CBasicLayoutFrame::CtrlTable::Static},
      {kStandardListCtrlClass, Make<CStandardListCtrl>(), CBasicLayoutFrame::CtrlTable::List},
      {kShowTaskListCtrlClass, Make<CShowTaskListCtrl>(), CBasicLayoutFrame::CtrlTable::List},
  };
  static_assert(std::size(kPasses) == std::size(kLayoutClasses),
                "one creation pass per class the layouts name");
  for (const Pass& pass : kPasses) {
    if (className == QStringView(pass.className)) {
      found = true;
      return pass;
    }
  }
  found = false;
  return kPasses[0];
}

}  // namespace

void CreateCtrlsOfClass(CBasicLayoutFrame& store, QWidget* dialog, const QString& className) {
  bool known = false;
  const Pass& pass = PassOf(className, known);
  const LayoutClass* layoutClass = FindLayoutClass(className);
  if (!known || layoutClass == nullptr) {
    return;
  }
  for (const auto& [id, info] : store.GetDialogInfo().ctrls) {
    if (info.className != className) {
      continue;
    }
    const CreatedCtrl ctrl = pass.construct(dialog);
    CBasicPropertyFrame& record = *ctrl.record;
    record.SetBGColor(info.bgColor);
    record.borderColor = ColorRefToArgb(info.borderColor);
    record.paintMode = info.paintMode;
    // The window: its identifier, as a child of the dialog.
    SetCtrlId(ctrl.widget, id);
    if (auto* list = dynamic_cast<CBasicListCtrl*>(ctrl.widget)) {
      list->UpdateBorderMargins();
    }
    if (layoutClass->usesImage) {
      record.SetBGImage(info.bgPath, info.statusCount, 0, 0);
    }
    if (layoutClass->usesText) {
      record.SetText(info.text, info.textOffsetX, info.textOffsetY);
      record.SetFont(info.font, info.fontSize);
      record.SetTextColor(info.textColor);
    }
    if (auto* list = dynamic_cast<CStandardListCtrl*>(ctrl.widget)) {
      // The list's rows take a layout font of that cell height and the text colour.
      if (const QFont* font = store.CreateLayoutFont(info.font, info.fontSize)) {
        list->SetListFont(*font);
      }
      list->SetRowTextColor(info.textColor);
    }
    if (className == QStringView(kDriftButtonClass)) {
      record.SetToolTip(info.description, ctrl.widget);
    }
    DescribeForAssistiveTechnology(ctrl.widget, record, info);
    PlaceByRect(ctrl.widget, info.rect);
    ApplyShowCommand(ctrl.widget, info.show);
    store.AddCtrl(pass.table, id, ctrl.widget);
  }
}

void CreateAllCtrls(CBasicLayoutFrame& store, QWidget* dialog) {
  // kLayoutClasses lists the classes in pass order.
  for (const LayoutClass& layoutClass : kLayoutClasses) {
    CreateCtrlsOfClass(store, dialog, QString::fromUtf16(layoutClass.name));
  }
}
