#pragma once

// The host's own IPv4 addresses, read from its interfaces.

#include <string>
#include <vector>

struct LocalAddress {
  std::string address;    // dotted text
  std::string interface;  // the interface's name, e.g. "eth0"
  unsigned index = 0;     // the interface's index
};

// Every IPv4 address of an interface that is up and not loopback, in interface order (an address
// on two interfaces is listed twice). Empty when the interfaces cannot be read; ERROR then says
// why.
std::vector<LocalAddress> ListLocalAddresses(std::string* error = nullptr);
