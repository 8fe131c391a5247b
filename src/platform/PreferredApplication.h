#pragma once

// The application the user's desktop settings (mimeapps.list) prefer for a kind of content.

#include <string>

// The program of the preferred application for CONTENT_TYPE, as its desktop entry names it
// ("thunar", "/usr/bin/pcmanfm"); empty when no application handles the type.
std::string PreferredApplicationProgram(const std::string& contentType);
