#pragma once

#include "discovery/SearchDeviceMulticastThread.h"

// A per-address worker of the SSDP-style search: bound to one local address on its own port,
// not joined to the group. It sends the same request out through its address and receives the
// replies that come back to it. A port it cannot bind moves it to the next ports.
class CSearchDeviceMultiCommandThead : public CSearchDeviceMulticastThread {
 public:
  void CreateWorkThread() override;
  void ExitWorkThread() override;
};
