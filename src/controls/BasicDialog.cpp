#include "controls/BasicDialog.h"

#include "controls/BasicCtrl.h"
#include "platform/SkinFile.h"

#include <algorithm>

#include <QAbstractButton>
#include <QBitmap>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

namespace {

// The dialog template: a frameless popup with its own taskbar entry, 320 x 200 dialog units of
// a 9-point dialog font until the layout gives the size.
constexpr QSize kTemplateSize(480, 325);

// Sets the caption a child window shows, whatever kind of widget it is.
void SetChildText(QWidget* child, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(child)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
    button->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(child)) {
    edit->setText(text);
  } else {
    child->setWindowTitle(text);
  }
}

void SetChildTextColor(QWidget* child, QRgb color) {
  QPalette palette = child->palette();
  for (const QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(role, QColor::fromRgba(color));
  }
  child->setPalette(palette);
}

}  // namespace

void ApplyShowCommand(QWidget* widget, int showCommand) {
  if (widget != nullptr) {
    widget->setVisible(showCommand != kShowCommandHide);
  }
}

void PlaceByRect(QWidget* widget, const LayoutRect& rect) {
  if (widget != nullptr) {
    widget->setGeometry(rect.left, rect.top, std::max(0, rect.right - rect.left),
                        std::max(0, rect.bottom - rect.top));
  }
}

QRegion RegionFromKeyColor(const QImage& bitmap, QSize size) {
  QRegion region(QRect(QPoint(0, 0), size));
  const QImage pixels = bitmap.convertToFormat(QImage::Format_RGB32);
  const int rows = std::min(kRegionScanRows, pixels.height());
  for (int y = 0; y < rows; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
    for (int x = 0; x < pixels.width();) {
      if ((line[x] | 0xFF000000) != kRegionKeyColor) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < pixels.width() && (line[x] | 0xFF000000) == kRegionKeyColor) {
        ++x;
      }
      region = region.xored(QRegion(start, y, x - start, 1));
    }
  }
  return region;
}

CBasicDialog::CBasicDialog() : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  resize(kTemplateSize);
}

// The controls go before the dialog's own parts; the store's destructor finds nothing left.
CBasicDialog::~CBasicDialog() { ReleaseCtrls(); }

void CBasicDialog::DrawDialog(QPainter& painter) {
  painter.fillRect(rect(), QColor::fromRgb(ColorRefToArgb(GetDialogInfo().bgColor)));
}

void CBasicDialog::OnSizeChanged(int, int cx, int cy) { lastClientRect = QRect(0, 0, cx, cy); }

void CBasicDialog::SetRoundRegion() {
  QBitmap shape(width() + 1, height() + 1);
  shape.fill(Qt::color0);
  QPainter painter(&shape);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::color1);
  painter.drawRoundedRect(QRectF(0, 0, width() + 1, height() + 1), 2.5, 2.5);
  painter.end();
  setMask(QRegion(shape));
}

bool CBasicDialog::OnInitDialog() { return true; }

void CBasicDialog::OnDialogDrawn(const QImage&) {}

void CBasicDialog::LoadLayoutFile(const QString& relativePath, std::int32_t dialogId,
                                  const QString& variant) {
  CBasicLayoutFrame::LoadLayoutFile(relativePath, dialogId, variant);
  resizeHook = 1;
}

void CBasicDialog::ApplyDialogInfo() {
  const DialogInfo& info = GetDialogInfo();
  SetBGImage(info.bgPath, 1, 0, 0);
  SetBGColor(info.bgColor);
  paintMode = info.paintMode;
  SetFont(info.font, info.fontSize);
  SetTextColor(info.textColor);
  SetText(info.text, info.textOffsetX, info.textOffsetY);
  setWindowTitle(info.text);
  // Assistive technologies read the window by its title and describe it by the layout's words.
  setAccessibleDescription(info.description);
  // The window keeps its place; its size is the x + width and y + height of the layout.
  const QPoint place = pos();
  resize(std::max(0, info.rect.right), std::max(0, info.rect.bottom));
  move(place);
  // The dialog's own colour behind template children, as its background brush.
  if (!info.bgColorText.isEmpty()) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(ColorRefToArgb(info.bgColor)));
    setPalette(palette);
  }
  update();
}

void CBasicDialog::ApplyCtrlInfo() {
  ReleaseCtrls();
  for (const auto& [id, ctrl] : GetDialogInfo().ctrls) {
    QWidget* child = FindDlgItem(this, id);
    if (child == nullptr) {
      continue;
    }
    PlaceByRect(child, ctrl.rect);
    ApplyShowCommand(child, ctrl.show);
    SetChildText(child, ctrl.text);
    if (const QFont* font = CreateLayoutFont(ctrl.font, ctrl.fontSize)) {
      child->setFont(*font);
    }
    SetChildTextColor(child, ColorRefToArgb(ctrl.textColor));
  }
}

int CBasicDialog::DoModal() {
  EnsureInitialized();
  return exec();
}

void CBasicDialog::EnsureInitialized() {
  if (!initialized_) {
    initialized_ = true;
    OnInitDialog();
  }
}

QImage CBasicDialog::RenderBuffer() {
  return RenderToImage(size(), [this](QPainter& painter) { DrawDialog(painter); });
}

void CBasicDialog::OnCtrlCommand(int, int) {}

void CBasicDialog::OnCtrlNotify(int, int) {}

void CBasicDialog::OnCtrlMessage(int, int, int) {}

void CBasicDialog::paintEvent(QPaintEvent*) {
  const QImage buffer =
      DrawBuffer(size(), devicePixelRatioF(), [this](QPainter& painter) { DrawDialog(painter); });
  // The owner sees the freshly drawn buffer before it goes to the screen.
  OnDialogDrawn(buffer);
  QPainter painter(this);
  // A translucent window shows what lies outside its shape (the cut corners) as transparent
  // pixels, and the buffer only inside it.
  if (testAttribute(Qt::WA_TranslucentBackground) && !mask().isEmpty()) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setClipRegion(QRegion(rect()).subtracted(mask()));
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setClipRegion(mask());
  }
  painter.drawImage(QPoint(0, 0), buffer);
}

void CBasicDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  OnSizeChanged(0, event->size().width(), event->size().height());
  if (resizeHook != 0 && event->oldSize().isValid()) {
    OnParentSized(event->size().width() - event->oldSize().width(),
                  event->size().height() - event->oldSize().height());
  }
}

void CBasicDialog::showEvent(QShowEvent* event) {
  EnsureInitialized();
  QDialog::showEvent(event);
}

bool IsWaylandPlatform() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

CBasicNoneBorderDlg::CBasicNoneBorderDlg() {
  // A Wayland compositor takes a window's mask as its input region only and still shows the whole
  // rectangle; there the cut corners have to be transparent pixels. On X11 the mask shapes the
  // window itself, and a translucent window would show black corners without a compositor.
  if (IsWaylandPlatform()) {
    UseTranslucentShape();
  }
}

void CBasicNoneBorderDlg::UseTranslucentShape() {
  setAttribute(Qt::WA_TranslucentBackground);
  // The paint leaves the pixels outside the shape transparent: it no longer covers the window
  // with opaque ones.
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CBasicNoneBorderDlg::SetRegionBitmapPath(const QString& path) { regionBitmapPath = path; }

void CBasicNoneBorderDlg::OnSizeChanged(int sizeType, int cx, int cy) {
  CBasicDialog::OnSizeChanged(sizeType, cx, cy);
  if (regionBitmapPath.isEmpty()) {
    return;
  }
  const QImage bitmap = LoadSkinImage(regionBitmapPath).image;
  if (!bitmap.isNull()) {
    setMask(RegionFromKeyColor(bitmap, QSize(cx, cy)));
  }
}

void CBasicNoneBorderDlg::mousePressEvent(QMouseEvent* event) {
  // The band is counted in logical pixels with their fraction, so that at every device pixel
  // ratio it covers exactly the device rows of its 28 logical pixels.
  if (event->button() == Qt::LeftButton && PressPosition(*this, *event).y() < kDragBandHeight) {
    StartWindowDrag(this, event->globalPosition().toPoint());
  }
  CBasicDialog::mousePressEvent(event);
}
