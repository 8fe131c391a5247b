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

// Every name fontconfig knows for the installed family that `family` names in any language (its
// English name and its localized ones); empty when no installed family has that name.
QStringList FontFamilyNames(const QString& family);

// The installed family that draws text for `family`: the family itself when it is installed,
// otherwise the first installed substitute; empty when there is none, for an empty name, and when
// no QGuiApplication exists (the font database needs one). A family counts as installed under any
// of its names, whatever the session's language, and the result is the name under which the font
// database lists it now, so that a QFont of that family finds it.
QString ResolveFontFamily(const QString& family);
