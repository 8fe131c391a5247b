#pragma once

// The passive controls of a skinned dialog: a text label, a picture, and a picture with a text
// over it. They show cell 0 of their image and their text, and send no notifications.

#include "controls/BasicCtrl.h"

inline constexpr char16_t kShowTextCtrlClass[] = u"ShowTextCtrl";
inline constexpr char16_t kShowImageCtrlClass[] = u"ShowImageCtrl";
inline constexpr char16_t kShowTextImageCtrlClass[] = u"ShowTextImageCtrl";

// A text label: background steps, then the wrapped text. No smoothing.
class CShowTextCtrl : public CBasicCtrl {
 public:
  explicit CShowTextCtrl(QWidget* parent = nullptr);
  void DrawCtrl(QPainter& painter) override;
};

// A picture: background steps, then the current cell of the image. Smoothing for speed.
class CShowImageCtrl : public CBasicCtrl {
 public:
  explicit CShowImageCtrl(QWidget* parent = nullptr);
  void DrawCtrl(QPainter& painter) override;
};

// A picture with a text over it. Antialiased.
class CShowTextImageCtrl : public CBasicCtrl {
 public:
  explicit CShowTextImageCtrl(QWidget* parent = nullptr);
  void DrawCtrl(QPainter& painter) override;
};
