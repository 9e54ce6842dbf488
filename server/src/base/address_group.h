#pragma once

#include <string>
#include <string_view>

namespace zeq {

// The group a client address is counted in for connection caps and quotas: an
// IPv4 address stands for itself (also when written IPv4-mapped, ::ffff:a.b.c.d),
// an IPv6 address for its /64, which one subscriber usually holds whole. Text
// that is not an address is its own group.
std::string addressGroup(std::string_view address);

} // namespace zeq
