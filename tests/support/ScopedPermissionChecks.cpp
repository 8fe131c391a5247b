#include "ScopedPermissionChecks.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// The capabilities that let root open, search and change files regardless of their mode.
constexpr unsigned kOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

// The three sets of the calling thread (pid 0), in the two 32-bit words of version 3.
bool GetCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capget, &header, data) == 0;
}

bool SetCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

ScopedPermissionChecks::ScopedPermissionChecks() {
  if (::geteuid() != 0) {
    enforced_ = true;
    return;
  }
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (!GetCapabilities(data)) {
    return;
  }
  savedEffective_[0] = data[0].effective;
  savedEffective_[1] = data[1].effective;
  // All three lie in the first word (capabilities 1, 2 and 3).
  data[0].effective &= ~kOverrides;
  if (!SetCapabilities(data)) {
    return;
  }
  dropped_ = true;
  enforced_ = true;
}

ScopedPermissionChecks::~ScopedPermissionChecks() {
  if (!dropped_) {
    return;
  }
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (!GetCapabilities(data)) {
    ADD_FAILURE() << "capget: " << std::strerror(errno);
    return;
  }
  data[0].effective = savedEffective_[0];
  data[1].effective = savedEffective_[1];
  if (!SetCapabilities(data)) {
    ADD_FAILURE() << "capset cannot restore the file capabilities: " << std::strerror(errno);
  }
}

}  // namespace testsupport
