#pragma once

// Layouts name Windows font families (Tahoma, 宋体, Arial, ...). A family draws text here when it is
// installed itself or when one of its metric-compatible or same-script substitutes is. A family
// that is neither is a failed font: the controls then draw no text, as they would with a family
// that does not exist.

#include <QString>
#include <QStringList>

// The installed substitutes of `family` in order of preference, without looking at what is
// installed; empty for a family without substitutes. Family names compare without case, as font
// names do on the desktop the layouts were written for.
QStringList FontSubstitutes(const QString& family);

// The installed family that draws text for `family`: the family itself when it is installed,
// otherwise the first installed substitute; empty when there is none, for an empty name, and when
// no QGuiApplication exists (the font database needs one).
QString ResolveFontFamily(const QString& family);
