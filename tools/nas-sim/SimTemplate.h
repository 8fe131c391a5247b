#pragma once

#include <string>
#include <string_view>

namespace nassim {

// Expands a per-device text: every "{i}" becomes the device index in decimal and every "{ip}" the
// device's dotted address. Any other text, other braces included, is copied as it is. The
// expansion is a single pass, so a replaced value is never expanded again.
std::string ExpandTemplate(std::string_view pattern, int index, std::string_view ip);

}  // namespace nassim
