#include "http/forwarded_for.h"

#include <arpa/inet.h>

namespace zeq::http {

namespace {

bool isIpAddress(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::string trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

std::string forwardedClientAddress(const RequestHead& head) {
    std::size_t forwarded = head.count("X-Forwarded-For");
    if (forwarded == 0) {
        return {};
    }
    std::string chain = head.value("X-Forwarded-For", forwarded - 1);
    std::size_t comma = chain.rfind(',');
    std::string last = trim(comma == std::string::npos ? chain : chain.substr(comma + 1));
    return isIpAddress(last) ? last : std::string();
}

} // namespace zeq::http
