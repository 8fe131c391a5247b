#pragma once

#include <optional>
#include <string>

namespace testsupport {

// Sets (or, with std::nullopt, unsets) one environment variable for the life of the object and
// puts back what was there before. Qt reads XDG_DATA_HOME and the locale variables on every call,
// so tests can point the program at a temporary folder or language this way.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace testsupport
