#pragma once

// Whether a location, mount source or window title belongs to one device. The device is known by
// its address; anything that merely contains it (10.231.50.2 inside 10.231.50.20) is another
// device's and must never be acted on.

#include <string_view>

#include <QString>

// The host part of TEXT without a user ("user@", "domain;user@") or a port (":445"); an IPv6
// address loses its brackets.
QString HostOnly(const QString& text);

// The host of a URI such as smb://domain;user@host:445/share/; empty when it has none.
QString UriHost(const QString& uri);

// The host of a kernel share mount's source, "//host/share" (cifs and smb3 also accept
// "\\host\share"); empty when the source names no host.
QString ShareSourceHost(const QString& source);

// Whether HOST names exactly ADDRESS. Host names compare without regard to case; an empty address
// matches nothing.
bool SameHost(const QString& host, const QString& address);

// Whether TEXT (UTF-8) holds ADDRESS as a whole token: the characters around it are not letters,
// digits, '.' or '-'. "Windows shares on 10.231.50.2 - Thunar" holds 10.231.50.2;
// "smb://10.231.50.20/" and "10.231.50.2x" do not.
bool HoldsAddressToken(std::string_view text, std::string_view address);
