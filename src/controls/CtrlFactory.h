#pragma once

// The control factory: turns the control records of a layout store into live skinned controls of
// the dialog, one creation pass per class name, and files them in the store's tables.

#include <QString>

class CBasicLayoutFrame;
class QWidget;

// One creation pass: every record of the store whose class name is exactly `className`, in
// ascending identifier order, becomes a control of `dialog`: colours and paint mode, image, text,
// font and text colour as its class takes them, tooltip for drift buttons, placed by its
// rectangle, shown by its show command and filed in the button, static or list table. A class
// name the factory does not know creates nothing.
void CreateCtrlsOfClass(CBasicLayoutFrame& store, QWidget* dialog, const QString& className);

// The nine passes in their order: standard, radio, check box and drift buttons, text, image and
// text-and-image controls, standard list, task list.
void CreateAllCtrls(CBasicLayoutFrame& store, QWidget* dialog);
