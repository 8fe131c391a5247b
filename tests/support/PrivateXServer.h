#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

// A private Xvfb on a display number of its own choosing (-displayfd), listening on no TCP port,
// with one screen of `screen` ("WIDTHxHEIGHTxDEPTH"); stopped with the object. Display() is empty
// when Xvfb is missing or did not start, and tests skip themselves then.
class PrivateXServer {
 public:
  explicit PrivateXServer(const std::string& screen);
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // The display name, e.g. ":5".
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace testsupport
