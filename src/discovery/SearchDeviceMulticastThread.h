#pragma once

#include "discovery/SearchDeviceThread.h"

// The group worker of the SSDP-style search: bound to port 1900 on any address and joined to the
// group, it receives announcements and the replies to its own search requests.
class CSearchDeviceMulticastThread : public CSearchDeviceThread {
 public:
  enum class GroupChange { Join, Leave };

  void CreateWorkThread() override;
  void ExitWorkThread() override;
  std::int32_t SendSearchCommand(const SearchPacket& request) override;
  void HandleReceiveData(const char* data, std::int32_t length, const char* address) override;

  void AlterMulticastGroup(GroupChange change);
};
