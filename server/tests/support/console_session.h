#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/http_client.h"

namespace zeq::test {

// The Set-Cookie line of a cookie the response sets, attributes included; empty
// when it sets none.
std::string setCookieLine(const HttpResponse& response, const std::string& name);
// The "name=value" of a cookie the response sets; empty when it sets none.
std::string cookiePair(const HttpResponse& response, const std::string& name);
// The anti-forgery token of the first form on a page; empty when there is none.
std::string formToken(const std::string& body);
// Fields encoded as a browser posts a form (application/x-www-form-urlencoded).
std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields);

// A technician's browser on the console's plain HTTP listener on loopback (its
// cookies are then the ones without the __Host- prefix): logs in through the
// login form, then fetches pages with its session.
class ConsoleSession {
  public:
    explicit ConsoleSession(int consolePort) : client_(consolePort, "") {}

    // True once the console has answered the form with a session.
    bool login(const std::string& name, const std::string& password);
    HttpResponse get(const std::string& path);

  private:
    HttpClient client_;
    std::string cookie_; // "name=value"
};

// Adds a technician account with `zeq-server user add`, the password given on
// standard input; false when the command fails.
bool addTechnician(const std::string& serverBinary, const std::string& database,
                   const std::string& name, const std::string& password);

} // namespace zeq::test
