#include "base/address_group.h"

#include <arpa/inet.h>

#include <cstring>

namespace zeq {

std::string addressGroup(std::string_view address) {
    std::string text(address);
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) {
        return text;
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        in_addr v4{};
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return inet_ntop(AF_INET, &v4, buffer, sizeof buffer) ? buffer : text;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    if (!inet_ntop(AF_INET6, &v6, buffer, sizeof buffer)) {
        return text;
    }
    return std::string(buffer) + "/64";
}

} // namespace zeq
