#pragma once

#include <string>

#include "http/http_server.h"

namespace zeq::http {

// The client's address as a reverse proxy forwards it: the last entry of the
// last X-Forwarded-For header (the proxy appends the peer it saw), or "" when
// there is none or it is not an IP address. Only for a listener that nothing
// but the proxy can reach.
std::string forwardedClientAddress(const RequestHead& head);

} // namespace zeq::http
