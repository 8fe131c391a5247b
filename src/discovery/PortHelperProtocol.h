#pragma once

// The conversation between the engine and tarvelo-port-helper, the one program that holds
// CAP_NET_BIND_SERVICE. This header is shared by both sides and uses standard C++ only, because
// the helper links nothing but the C and C++ runtime.
//
// The engine starts the helper with one end of a SOCK_SEQPACKET socket pair as descriptor 3 and
// sends exactly kPortHelperRequest as one message (without a terminating zero). The helper
// answers with one PortHelperReply and exits. When `error` is 0 the reply carries the bound
// socket as SCM_RIGHTS; otherwise `error` is the system's error number of the step named by
// `step`, and no descriptor travels.

#include <cstdint>
#include <string_view>

// The only request the helper grants: a UDP socket that may broadcast, bound to 0.0.0.0:67.
inline constexpr std::string_view kPortHelperRequest = "bind udp 0.0.0.0:67 broadcast";

// The step of the helper's work that an error belongs to.
enum class PortHelperStep : std::int32_t {
  Done = 0,     // the socket was made and is handed over
  Request = 1,  // the request was not the one the helper grants (error EINVAL)
  Socket = 2,   // socket(2) failed
  Option = 3,   // setting SO_BROADCAST failed
  Bind = 4,     // bind(2) failed: EACCES without the capability, EADDRINUSE when the port is held
};

struct PortHelperReply {
  std::int32_t error = 0;
  std::int32_t step = 0;  // a PortHelperStep
};

// The descriptor number on which the helper finds its end of the socket pair.
inline constexpr int kPortHelperDescriptor = 3;
