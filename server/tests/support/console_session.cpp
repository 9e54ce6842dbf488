#include "support/console_session.h"

#include <cctype>
#include <cstdio>
#include <regex>

#include "support/server_process.h"

namespace zeq::test {

std::string setCookieLine(const HttpResponse& response, const std::string& name) {
    auto range = response.headers.equal_range("set-cookie");
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.rfind(name + "=", 0) == 0) {
            return it->second;
        }
    }
    return {};
}

std::string cookiePair(const HttpResponse& response, const std::string& name) {
    std::string line = setCookieLine(response, name);
    return line.substr(0, line.find(';'));
}

std::string formToken(const std::string& body) {
    static const std::regex token(R"re(name="token" value="([0-9a-f]{64})")re");
    std::smatch match;
    return std::regex_search(body, match, token) ? std::string(match[1]) : std::string();
}

std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        std::string encoded;
        for (unsigned char c : value) {
            if (std::isalnum(c)) {
                encoded += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                encoded += hex;
            }
        }
        body += (body.empty() ? "" : "&") + name + "=" + encoded;
    }
    return body;
}

bool ConsoleSession::login(const std::string& name, const std::string& password) {
    HttpResponse form = client_.request("GET", "/entrar");
    std::string token = formToken(form.body);
    if (form.status != 200 || token.empty()) {
        return false;
    }
    std::string body = formBody({{"token", token}, {"nombre", name}, {"clave", password}});
    HttpResponse answer = client_.request("POST", "/entrar",
                                          {{"Cookie", cookiePair(form, "zeq-entrada")},
                                           {"Content-Type", "application/x-www-form-urlencoded"}},
                                          body);
    cookie_ = cookiePair(answer, "zeq-sesion");
    return answer.status == 303 && !cookie_.empty();
}

HttpResponse ConsoleSession::get(const std::string& path) {
    return client_.request("GET", path, {{"Cookie", cookie_}});
}

bool addTechnician(const std::string& serverBinary, const std::string& database,
                   const std::string& name, const std::string& password) {
    std::string input = password + "\n";
    std::string out, err;
    return runProgram({serverBinary, "user", "add", name, "--db", database}, &out, &err, &input) ==
           0;
}

} // namespace zeq::test
