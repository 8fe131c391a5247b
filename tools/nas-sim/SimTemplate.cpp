#include "SimTemplate.h"

namespace nassim {

std::string ExpandTemplate(std::string_view pattern, int index, std::string_view ip) {
  constexpr std::string_view kIndex = "{i}";
  constexpr std::string_view kAddress = "{ip}";
  std::string result;
  result.reserve(pattern.size() + 16);
  while (!pattern.empty()) {
    if (pattern.starts_with(kIndex)) {
      result += std::to_string(index);
      pattern.remove_prefix(kIndex.size());
    } else if (pattern.starts_with(kAddress)) {
      result += ip;
      pattern.remove_prefix(kAddress.size());
    } else {
      result += pattern.front();
      pattern.remove_prefix(1);
    }
  }
  return result;
}

}  // namespace nassim
