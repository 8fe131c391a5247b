#include "app/LayoutDialog.h"

#include <QPainter>

#include "app/SkinDeployment.h"
#include "controls/CtrlFactory.h"
#include "platform/WorkingFolder.h"

CLayoutDialog::CLayoutDialog() {
  SetRegionBitmapPath(MakeLayoutPath(QString::fromUtf16(kPictureFolder) +
                                     QStringLiteral("\\SearchDevice_BlackGround.bmp")));
}

void CLayoutDialog::ApplyCtrlInfo() {
  ReleaseCtrls();
  CreateAllCtrls(*this, this);
  BindControls();
}

void CLayoutDialog::DrawDialog(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing);
  PaintBackground(nullptr, this, painter);
}

void CLayoutDialog::OnDialogDrawn(const QImage& buffer) { CaptureCtrlBackgrounds(buffer, this); }
