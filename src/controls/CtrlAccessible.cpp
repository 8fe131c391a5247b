#include "controls/CtrlAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "controls/BasicCtrl.h"
#include "controls/ShowCtrls.h"

namespace {

TextChangeHook textChangeHook = nullptr;

// A skinned text or image control: a label named by the text it shows, or, when it shows only a
// picture, a graphic. The role is read from the control on every request, because the interface
// is made while the control is still being constructed and a text-and-image control may lose or
// gain its text later.
class CShowCtrlAccessible : public QAccessibleWidget {
 public:
  explicit CShowCtrlAccessible(CBasicCtrl* control)
      : QAccessibleWidget(control, QAccessible::StaticText), control_(control) {}

  QAccessible::Role role() const override {
    if (dynamic_cast<const CShowImageCtrl*>(control_) != nullptr) {
      return QAccessible::Graphic;
    }
    const bool hasImage = control_->bgImage && !control_->bgImage->isNull();
    if (dynamic_cast<const CShowTextImageCtrl*>(control_) != nullptr &&
        control_->drawnText.isEmpty() && hasImage) {
      return QAccessible::Graphic;
    }
    return QAccessible::StaticText;
  }

  QString text(QAccessible::Text type) const override {
    switch (type) {
      case QAccessible::Name:
        return Name();
      case QAccessible::Description: {
        // A description that already serves as the name is not read twice.
        const QString description = QAccessibleWidget::text(type);
        return description == Name() ? QString() : description;
      }
      default:
        return QAccessibleWidget::text(type);
    }
  }

 private:
  // A name given to the widget wins; otherwise the text the control shows now; a control that
  // shows no text (a picture) is named by its layout description.
  QString Name() const {
    if (!control_->accessibleName().isEmpty()) {
      return control_->accessibleName();
    }
    if (role() == QAccessible::StaticText && !control_->drawnText.isEmpty()) {
      return control_->drawnText;
    }
    return control_->accessibleDescription();
  }

  const CBasicCtrl* control_;
};

QAccessibleInterface* CreateCtrlAccessible(const QString&, QObject* object) {
  // The skinned controls have no meta-object of their own, so Qt asks under the class name
  // "QWidget"; the object itself tells whether it is one of ours.
  if (auto* control = dynamic_cast<CBasicCtrl*>(object)) {
    return new CShowCtrlAccessible(control);
  }
  return nullptr;
}

}  // namespace

void InstallCtrlAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&CreateCtrlAccessible);
    return true;
  }();
  static_cast<void>(installed);
}

void RefreshCtrlAccessibility(QWidget* control) {
  if (control == nullptr) {
    return;
  }
  QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(control);
  if (cached != nullptr && dynamic_cast<CShowCtrlAccessible*>(cached) == nullptr) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
  }
}

void AnnounceTextChange(QWidget* control) {
  if (control == nullptr) {
    return;
  }
  QAccessibleEvent event(control, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
  if (textChangeHook != nullptr) {
    textChangeHook(control);
  }
}

void SetTextChangeHook(TextChangeHook hook) { textChangeHook = hook; }
