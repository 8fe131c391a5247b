#pragma once

#include <vector>

#include "discovery/LocalInterfaces.h"
#include "discovery/SearchDeviceThread.h"

// The group worker of the SSDP-style search: bound to port 1900 on any address and joined to the
// group, it receives announcements and the replies to its own search requests.
//
// A membership of the group belongs to one interface, and the system's choice is the default
// route's only: announcements on the host's other networks would not arrive, and neither would
// any after that interface was deleted and made again. The worker therefore joins the group on
// every local interface, and the coordinator renews the memberships whenever it looks at the
// host's addresses.
class CSearchDeviceMulticastThread : public CSearchDeviceThread {
 public:
  enum class GroupChange { Join, Leave };

  void CreateWorkThread() override;
  void ExitWorkThread() override;
  std::int32_t SendSearchCommand(const SearchPacket& request) override;
  void HandleReceiveData(const char* data, std::int32_t length, const char* address) override;

  // Join: the group on each interface of the host's IPv4 addresses, or on the interface the
  // system chooses when the host has none. Leave: every membership the socket holds.
  void AlterMulticastGroup(GroupChange change);
  // Brings the memberships in line with the host's addresses `local`: memberships on interfaces
  // that are gone are left, the group is joined on the interfaces that have none yet. Being a
  // member already is no error. Does nothing while the worker has no socket.
  void RenewMulticastGroup(const std::vector<LocalAddress>& local);

 private:
  // Both run under the socket lock.
  void JoinGroupLocked(const std::vector<LocalAddress>& local);
  void LeaveGroupLocked();

  // Guarded by the socket lock, like the socket the memberships belong to.
  std::vector<LocalAddress> memberships;
};
