#pragma once

// JSON text for the command-line modes, written by hand so that keys keep the order in which the
// modes document them.

#include <string>

#include <QString>

// `text` as a quoted JSON string in UTF-8: quote, backslash and every character below U+0020
// escaped, everything else written as it is.
std::string JsonString(const QString& text);
