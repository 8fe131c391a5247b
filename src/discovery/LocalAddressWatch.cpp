#include "discovery/LocalAddressWatch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "diag/LogSystem.h"

namespace {

void CloseDescriptor(int& descriptor) {
  if (descriptor >= 0) {
    ::close(descriptor);
    descriptor = -1;
  }
}

}  // namespace

LocalAddressWatch::~LocalAddressWatch() { Stop(); }

bool LocalAddressWatch::Start(std::function<void()> changed, std::string* error) {
  Stop();
  const auto fail = [&](const char* operation) {
    const int number = errno;
    if (error != nullptr) {
      *error = std::string(operation) + ": " + std::strerror(number);
    }
    CloseDescriptor(routeSocket);
    CloseDescriptor(stopEvent);
    return false;
  };
  // Close-on-exec: programs the application starts must not inherit the engine's descriptors.
  routeSocket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (routeSocket < 0) {
    return fail("socket");
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  // Addresses that come and go, and links that appear, disappear or change state (an interface
  // that goes down keeps its addresses but no longer counts).
  local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
  if (::bind(routeSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return fail("bind");
  }
  stopEvent = ::eventfd(0, EFD_CLOEXEC);
  if (stopEvent < 0) {
    return fail("eventfd");
  }
  changedCallback = std::move(changed);
  try {
    thread = boost::thread(&LocalAddressWatch::Run, this);
  } catch (const std::exception& exception) {
    if (error != nullptr) {
      *error = exception.what();
    }
    CloseDescriptor(routeSocket);
    CloseDescriptor(stopEvent);
    return false;
  }
  return true;
}

void LocalAddressWatch::Stop() {
  if (thread.joinable()) {
    const std::uint64_t one = 1;
    // An eventfd write of 1 cannot block or fail short of a counter near its limit.
    [[maybe_unused]] const ssize_t written = ::write(stopEvent, &one, sizeof one);
    thread.join();
  }
  CloseDescriptor(routeSocket);
  CloseDescriptor(stopEvent);
}

void LocalAddressWatch::Run() {
  pollfd waits[2] = {{routeSocket, POLLIN, 0}, {stopEvent, POLLIN, 0}};
  // Address and link messages are small; a read takes as many whole messages as fit.
  alignas(nlmsghdr) char buffer[16384];
  for (;;) {
    // Blocks until the kernel reports a change or the watch is stopped; there is no timeout.
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      WriteLog("Watch Local IP Error : poll: %s   ", std::strerror(errno));
      return;
    }
    if (waits[1].revents != 0) {
      return;
    }
    bool changed = false;
    for (;;) {
      const ssize_t count = ::recv(routeSocket, buffer, sizeof buffer, MSG_DONTWAIT);
      if (count > 0 || (count < 0 && errno == ENOBUFS)) {
        // ENOBUFS: the kernel dropped messages it could not queue, so something did change.
        changed = true;
        continue;
      }
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        WriteLog("Watch Local IP Error : recv: %s   ", std::strerror(errno));
        return;
      }
      break;
    }
    if (changed && changedCallback) {
      changedCallback();
    }
  }
}
