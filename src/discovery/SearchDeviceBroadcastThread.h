#pragma once

#include <string>
#include <vector>

#include "discovery/SearchDeviceThread.h"

// An interface the broadcast request is sent out of.
struct BroadcastInterface {
  std::string address;  // the interface's local address, the request's source
  std::string name;
  unsigned index = 0;
};

// The worker that searches by limited broadcast: bound to port 67 with broadcasting allowed, it
// broadcasts the 148-byte request to port 68 and parses the 148-byte replies.
//
// Linux sends 255.255.255.255 out of the default route's interface only, so devices on the
// host's other networks would never hear it. The same request is therefore sent out of each of
// the host's interfaces in turn, from the one socket on port 67; replies arrive on that socket
// whichever interface they come in on.
//
// Port 67 is privileged. The worker first asks tarvelo-port-helper, which alone holds the
// capability, for the bound socket; without a usable helper it binds the port itself.
class CSearchDeviceBroadcastThread : public CSearchDeviceThread {
 public:
  void CreateWorkThread() override;
  std::int32_t SendSearchCommand(const SearchPacket& request) override;
  void HandleReceiveData(const char* data, std::int32_t length, const char* address) override;

  // The interfaces the next requests leave through (set by the coordinator before each pass, on
  // the thread that sends). With none, a request leaves the way the system routes it.
  void SetInterfaces(std::vector<BroadcastInterface> interfaces);

 private:
  // Asks the port helper for the socket on port 67. True when it handed one over; false when
  // the worker should open and bind the socket itself, as it does without a helper (the helper
  // is off, missing, refused, or lacks the privilege the engine itself may have). Throws the
  // helper's bind error when the port itself is the obstacle (another program holds it).
  bool TakeSocketFromPortHelper();

  std::vector<BroadcastInterface> interfaces_;
};
