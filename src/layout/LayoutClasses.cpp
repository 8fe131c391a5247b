#include "layout/LayoutClasses.h"

const LayoutClass* FindLayoutClass(const QString& className) {
  for (const LayoutClass& layoutClass : kLayoutClasses) {
    if (className == QStringView(layoutClass.name)) {
      return &layoutClass;
    }
  }
  return nullptr;
}
