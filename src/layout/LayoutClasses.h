#pragma once

// The control class names of layout documents that the control factory creates, in the order of
// its creation passes, with what each class takes from its record. Names match exactly: a
// different case or a trailing blank names no class.

#include <QString>

struct LayoutClass {
  const char16_t* name;
  bool usesImage;  // loads CtrlBGPath
  bool usesText;   // takes CtrlText, CtrlFont and CtrlTextColor for its own drawing
  bool isList;     // a list; its font and text colour go to the list's items
};

inline constexpr LayoutClass kLayoutClasses[] = {
    {u"StandardButton", true, true, false},    {u"RadioBoxButton", true, true, false},
    {u"CheckBoxButton", true, true, false},    {u"DriftButton", true, true, false},
    {u"ShowTextCtrl", false, true, false},     {u"ShowImageCtrl", true, false, false},
    {u"ShowTextImageCtrl", true, true, false}, {u"StandardListCtrl", false, false, true},
    {u"ShowTaskListCtrl", true, false, true},
};

// The class of that exact name, or null when the factory creates nothing for it.
const LayoutClass* FindLayoutClass(const QString& className);
