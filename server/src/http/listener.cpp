#include "http/listener.h"

#include <arpa/inet.h>

#include <stdexcept>

#include "http/forwarded_for.h"

namespace zeq::http {

bool isLoopbackAddress(const std::string& address) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6);
    }
    return address == "localhost";
}

std::optional<TlsFiles> listenerTls(const std::string& address, const std::string& certFile,
                                    const std::string& keyFile, const char* unpaired,
                                    const char* notLoopback) {
    if (certFile.empty() != keyFile.empty()) {
        throw std::runtime_error(unpaired);
    }
    if (!certFile.empty()) {
        return TlsFiles{certFile, keyFile};
    }
    if (!isLoopbackAddress(address)) {
        throw std::runtime_error(notLoopback);
    }
    return std::nullopt;
}

std::string clientAddressOf(const RequestHead& head, bool tls) {
    std::string forwarded = tls ? std::string() : forwardedClientAddress(head);
    return forwarded.empty() ? head.peerAddress : forwarded;
}

} // namespace zeq::http
