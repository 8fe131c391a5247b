#pragma once

// The focus cue of the skinned controls: which control has the keyboard focus, shown as a ring
// that the controls draw themselves (the skins draw no focused state).
//
// As on the desktop, the cue belongs to keyboard use: a window shows it from the first key the
// user presses in it (Tab included) until the mouse is pressed on one of its controls that take
// the focus.
// The focus reason alone would not do: a dialog announces its first focus widget with a Tab
// focus event when it is shown, and a window brought back to the front gives its focus widget
// the focus again without any key; the arrow keys of a list move no focus at all. A mouse user
// so sees the skin exactly as it was drawn, a keyboard user always sees where the keys go.

class QColor;
class QFocusEvent;
class QPainter;
class QRect;
class QWidget;

// True when `control` has the focus and its window shows focus cues.
bool ShowsFocusCue(const QWidget* control);

// A key reached `control`: its window shows focus cues from now on.
void NoteKeyboardUse(QWidget* control);
// The mouse was pressed on `control`: its window hides the focus cues.
void NoteMouseUse(QWidget* control);
// Focus came to `control`: by Tab, Backtab or a shortcut while its window is active, that is
// keyboard use; any other way leaves the window's cues as they were.
void NoteFocusIn(QWidget* control, const QFocusEvent& event);

// The ring: a 1-pixel dotted line of `colour` just inside `rect`, dots on every other pixel
// starting at the corners, crisp on any device pixel ratio.
void DrawFocusRing(QPainter& painter, const QRect& rect, const QColor& colour);
