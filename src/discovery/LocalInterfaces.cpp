#include "discovery/LocalInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

std::vector<LocalAddress> ListLocalAddresses(std::string* error) {
  std::vector<LocalAddress> list;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) {
    if (error != nullptr) {
      *error = std::strerror(errno);
    }
    return list;
  }
  for (const ifaddrs* item = interfaces; item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) {
      continue;
    }
    if ((item->ifa_flags & IFF_UP) == 0 || (item->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(item->ifa_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    list.push_back({text, item->ifa_name, ::if_nametoindex(item->ifa_name)});
  }
  ::freeifaddrs(interfaces);
  return list;
}
