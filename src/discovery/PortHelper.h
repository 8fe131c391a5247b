#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "discovery/PortHelperProtocol.h"

// The engine's side of tarvelo-port-helper, the small program that alone holds
// CAP_NET_BIND_SERVICE: it binds UDP port 67 and hands the socket over a socket pair, so that the
// window and the command line never need a capability.
//
// Where the helper is: the variable TARVELO_PORT_HELPER names it (an empty value turns the
// helper off); otherwise the folder of the running program (a build's bin folder) when it holds
// one, else the installed path. Which helper the unprivileged engine runs gives nobody anything:
// only the installed helper carries the capability.

// The helper the engine runs, and the program a user grants the capability to.
std::string PortHelperPath();
// False when TARVELO_PORT_HELPER is set but empty: the engine then binds port 67 itself.
bool PortHelperEnabled();

struct PortHelperResult {
  enum Outcome {
    Granted,      // `descriptor` is a UDP socket bound to 0.0.0.0:67, close-on-exec, owned by the
                  // caller
    Failed,       // the helper ran but a step of its work failed: `step` and `error` say which
    Unavailable,  // the helper could not be started, refused, or did not answer properly
  };
  Outcome outcome = Unavailable;
  int descriptor = -1;
  int error = 0;  // the system's error number of the failed step (Failed), else 0 or the cause
  PortHelperStep step = PortHelperStep::Done;
  std::string reason;  // for the log: what went wrong, empty when granted
};

// Starts the helper at `helperPath` (with an empty environment and no arguments), asks it for the
// broadcast socket and waits at most `timeout` for its answer; the helper is reaped in every
// case, and killed when it does not answer in time. Safe to call from any thread of the
// multi-threaded engine: the helper is started by posix_spawn, not fork.
PortHelperResult RequestBroadcastSocket(
    const std::string& helperPath, std::chrono::milliseconds timeout = std::chrono::seconds(2));

// One message read from the helper's end of the channel: the reply's bytes and every descriptor
// it carried, received close-on-exec and owned by the caller.
struct PortHelperMessage {
  long count = -1;  // what recvmsg returned: the reply's size when whole, 0 at the end, -1 failed
  int error = 0;    // errno when `count` is -1
  bool controlCut = false;  // more descriptors came than there was room for (MSG_CTRUNC)
  PortHelperReply reply;
  std::vector<int> descriptors;
};

// Reads one message from `channel` without waiting (the caller polls first); EINTR is retried.
PortHelperMessage ReceivePortHelperMessage(int channel);
