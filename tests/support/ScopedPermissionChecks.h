#pragma once

namespace testsupport {

// While it lives, file permissions apply to the calling thread even when the tests run as root (as
// they do in CI): CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER leave the thread's effective
// capability set and come back when the object goes. They stay in the permitted set, which is what
// allows the restore. Capabilities belong to threads on Linux, so the object must be created and
// destroyed on the thread that does the file operations, and other threads keep root's rights.
class ScopedPermissionChecks {
 public:
  ScopedPermissionChecks();
  ~ScopedPermissionChecks();
  ScopedPermissionChecks(const ScopedPermissionChecks&) = delete;
  ScopedPermissionChecks& operator=(const ScopedPermissionChecks&) = delete;

  // True when permissions now apply: the thread is not root, or the capabilities were dropped.
  // Tests that rely on permissions fail when this is false (a sandbox may forbid capset), rather
  // than pass without having checked anything.
  bool Enforced() const { return enforced_; }

 private:
  bool enforced_ = false;
  bool dropped_ = false;
  unsigned savedEffective_[2] = {0, 0};
};

}  // namespace testsupport
