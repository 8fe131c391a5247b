#pragma once

// Images that tests make and compare: pictures whose pixels say where they lie, blending as the
// painters do, and saving into a test's temporary folder. Needs Qt's GUI module: only
// testsupport_gui carries it.

#include <string>

#include <QImage>
#include <QRgb>
#include <QSize>
#include <QString>

namespace testsupport {

class TemporaryDirectory;

// An opaque image whose pixels say where they lie: red is the column, green the row, blue the
// tag, so that an image and its twin never share a pixel and a misplaced pixel shows.
QImage PositionImage(QSize size, int tag);

// `under` with `over` laid on it (source over), both straight ARGB, the result opaque.
QRgb Over(QRgb over, QRgb under);

// The largest difference of one colour channel (red, green or blue) between two pixels.
int ChannelDistance(QRgb a, QRgb b);

// Saves `image` as `name` in `folder` (the format from the name's ending) and returns its path;
// a failed save fails the current test.
QString SaveImage(const TemporaryDirectory& folder, const QImage& image, const std::string& name);

}  // namespace testsupport
