#pragma once

// How assistive technologies (a screen reader, through AT-SPI on Linux) see the skinned controls.
//
// Buttons, lists and dialogs are Qt's own widget classes, and Qt's interfaces for them (push
// button, table, dialog) serve once the controls carry an accessible name and description: the
// control factory gives them those from the layout. The text and image controls are plain widgets
// that paint what their property record holds, which Qt would present as unnamed fillers; the
// interface here presents them as what they show: a label with its current text, or a graphic.

class QWidget;

// Lets Qt build the skinned text and image controls' interfaces from here on. Called by every
// text and image control as it is made; installing more than once does nothing.
void InstallCtrlAccessibility();

// Makes sure the interface that assistive technologies get for `control` is the skinned one:
// while the widget was still being constructed, Qt may already have built and kept a plain
// widget's interface for it.
void RefreshCtrlAccessibility(QWidget* control);

// Tells assistive technologies that the text `control` shows has changed (its accessible name).
void AnnounceTextChange(QWidget* control);

// Tests hear the announcements, which Qt passes on only while an assistive technology listens:
// with a hook set, AnnounceTextChange calls it with the control as well. Null removes it.
using TextChangeHook = void (*)(QWidget* control);
void SetTextChangeHook(TextChangeHook hook);
