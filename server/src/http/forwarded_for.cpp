#include "http/forwarded_for.h"

#include <arpa/inet.h>

#include "base/text_shapes.h"

namespace zeq::http {

namespace {

bool isIpAddress(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

} // namespace

std::string forwardedClientAddress(const RequestHead& head) {
    std::size_t forwarded = head.count("X-Forwarded-For");
    if (forwarded == 0) {
        return {};
    }
    std::string chain = head.value("X-Forwarded-For", forwarded - 1);
    std::size_t comma = chain.rfind(',');
    std::string last(trimmed(comma == std::string::npos ? chain : chain.substr(comma + 1)));
    return isIpAddress(last) ? last : std::string();
}

} // namespace zeq::http
