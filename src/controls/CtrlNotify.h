#pragma once

// How skinned controls identify themselves and talk to their dialog. A control carries its
// control identifier (the child window identifier of the layout); clicks and other notifications
// go to the nearest ancestor that listens (the skinned dialog), keyed by that identifier, the way
// child windows notify their dialog on the desktop the layouts were written for.

#include <QPoint>

class QWidget;

// Notification codes and messages, with the numbers the layouts' platform gives them.
inline constexpr int kButtonClicked = 0;             // BN_CLICKED, with a command
inline constexpr int kNotifyClick = -2;              // NM_CLICK
inline constexpr int kNotifyDoubleClick = -3;        // NM_DBLCLK
inline constexpr int kNotifyReturn = -4;             // NM_RETURN: Return or Enter pressed in a list
inline constexpr int kNotifyRightClick = -5;         // NM_RCLICK: a list's menu asked for
inline constexpr int kNotifyColumnClick = -108;      // LVN_COLUMNCLICK: a column title clicked
inline constexpr int kNotifyCopyKey = -155;          // LVN_KEYDOWN of the copy key (Ctrl+C)
inline constexpr int kNotifyItemChanged = -101;      // LVN_ITEMCHANGED: a key changed the selection
inline constexpr int kRadioClickedMessage = 0x084D;  // a radio button was checked
inline constexpr int kTaskListRightButtonMessage = 0x07FE;  // right button released on a task list

// The height of the band at the top of a borderless dialog by which the user drags it.
inline constexpr int kDragBandHeight = 28;

// Implemented by skinned dialogs; every handler is keyed by the control identifier.
class CCtrlNotifySink {
 public:
  virtual ~CCtrlNotifySink() = default;
  // A command from a button: BN_CLICKED for push buttons and check boxes.
  virtual void OnCtrlCommand(int ctrlId, int notifyCode) = 0;
  // A notification from a list: NM_CLICK, NM_DBLCLK, NM_RETURN, NM_RCLICK, LVN_ITEMCHANGED,
  // LVN_COLUMNCLICK, the copy key.
  virtual void OnCtrlNotify(int ctrlId, int notifyCode) = 0;
  // Any other message a control sends (0x084D, 0x07FE), with its two parameters.
  virtual void OnCtrlMessage(int message, int wParam, int lParam) = 0;
};

// The control identifier of a widget; 0 when it has none.
int GetCtrlId(const QWidget* control);
void SetCtrlId(QWidget* control, int ctrlId);
// The direct child of `dialog` with that identifier, or null.
QWidget* FindDlgItem(const QWidget* dialog, int ctrlId);

// The nearest ancestor of `control` that listens, or null.
CCtrlNotifySink* FindNotifySink(const QWidget* control);
void SendCtrlCommand(const QWidget* control, int notifyCode);
void SendCtrlNotify(const QWidget* control, int notifyCode);
void SendCtrlMessage(const QWidget* control, int message, int wParam, int lParam);

// Lets the user drag the top-level window of `widget` from a press at `globalPosition`: the
// window system moves it where it can, otherwise the window follows the mouse until release.
void StartWindowDrag(QWidget* widget, QPoint globalPosition);

// Tests see the drags that would start instead of moving windows: with a hook set,
// StartWindowDrag calls it with the top-level window and does nothing else. Null restores the
// real drag.
using WindowDragHook = void (*)(QWidget* window, QPoint globalPosition);
void SetWindowDragHook(WindowDragHook hook);
