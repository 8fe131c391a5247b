#include "ScopedEnvironment.h"

#include <cstdlib>

namespace testsupport {

namespace {

void Apply(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* previous = std::getenv(name_.c_str())) {
    previous_ = previous;
  }
  Apply(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() { Apply(name_, previous_); }

}  // namespace testsupport
