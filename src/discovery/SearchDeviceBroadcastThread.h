#pragma once

#include "discovery/SearchDeviceThread.h"

// The worker that searches by limited broadcast: bound to port 67 with broadcasting allowed, it
// broadcasts the 148-byte request to port 68 and parses the 148-byte replies.
class CSearchDeviceBroadcastThread : public CSearchDeviceThread {
 public:
  void CreateWorkThread() override;
  std::int32_t SendSearchCommand(const SearchPacket& request) override;
  void HandleReceiveData(const char* data, std::int32_t length, const char* address) override;
};
