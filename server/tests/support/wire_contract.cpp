#include "support/wire_contract.h"

#include <regex>

namespace zeq::test {

bool isClientToken(const std::string& body) {
    static const std::regex shape("^[0-9a-f.]{80,200}$");
    return std::regex_match(body, shape);
}

bool isClientReceipt(const std::string& body) {
    static const std::regex shape("^ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}$");
    return body.size() == 18 && std::regex_match(body, shape);
}

} // namespace zeq::test
