#pragma once

// A private Samba server on the device side of a network lab: two guest shares, "public" and
// "media", with every folder Samba keeps state in below the test's own folder, so that nothing
// of the machine's own Samba configuration is read or written and no system service is started.

#include <sys/types.h>

#include <string>
#include <vector>

#include "LabNetwork.h"

namespace testsupport {

class SambaServer {
 public:
  // Writes the configuration below `folder` (which must exist, and which the guest account
  // "nobody" must be able to enter: smbd serves the shares as that account), starts smbd in the
  // lab's device namespace, where it listens on every device address, and waits until each of
  // `addresses` accepts connections on the SMB port from the engine side. Throws std::runtime_error
  // when smbd is missing, ends early or does not become reachable.
  SambaServer(const LabNetwork& lab, const std::string& folder,
              const std::vector<std::string>& addresses);
  // Stops smbd and the RPC helper daemon it starts on demand.
  ~SambaServer();
  SambaServer(const SambaServer&) = delete;
  SambaServer& operator=(const SambaServer&) = delete;

  // smbd's own log (its debug output), for a failure message.
  const std::string& LogPath() const { return log_; }

 private:
  void Stop();

  const LabNetwork& lab_;
  std::string folder_;
  std::string log_;
  pid_t pid_ = -1;
};

}  // namespace testsupport
