#include "console/multipart_form.h"

#include <cctype>

#include "base/text_shapes.h"

namespace zeq::console {

namespace {

// A part's headers: Content-Disposition and perhaps Content-Type.
constexpr std::size_t kMaxPartHeaderBytes = 4096;

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

struct Parameter {
    std::string name; // lower case
    std::string value;
};

// "form-data; name=\"a\"; filename=\"b;c\"": the value before the first ';'
// and the parameters after it, quoted or not. Browsers percent-encode a quote
// inside a quoted value, so a backslash is taken as itself.
std::optional<std::vector<Parameter>> parameters(std::string_view text, std::string& value) {
    std::size_t semicolon = text.find(';');
    value = lowerCase(trimmed(text.substr(0, semicolon)));
    std::vector<Parameter> list;
    std::string_view rest =
        semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
    while (!trimmed(rest).empty()) {
        rest = rest.substr(rest.find_first_not_of(" \t"));
        std::size_t equals = rest.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        Parameter parameter{lowerCase(trimmed(rest.substr(0, equals))), {}};
        rest.remove_prefix(equals + 1);
        rest = rest.substr(std::min(rest.size(), rest.find_first_not_of(" \t")));
        if (!rest.empty() && rest.front() == '"') {
            std::size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            parameter.value = std::string(rest.substr(1, close - 1));
            rest.remove_prefix(close + 1);
            rest = trimmed(rest);
            if (!rest.empty() && rest.front() != ';') {
                return std::nullopt;
            }
        } else {
            std::size_t end = rest.find(';');
            parameter.value = std::string(trimmed(rest.substr(0, end)));
            rest = rest.substr(std::min(rest.size(), end));
        }
        if (!rest.empty()) {
            rest.remove_prefix(1); // the ';'
        }
        list.push_back(std::move(parameter));
    }
    return list;
}

const std::string* find(const std::vector<Parameter>& list, std::string_view name) {
    for (const Parameter& parameter : list) {
        if (parameter.name == name) {
            return &parameter.value;
        }
    }
    return nullptr;
}

// RFC 2046: 1 to 70 characters of a restricted set.
bool usableBoundary(std::string_view boundary) {
    if (boundary.empty() || boundary.size() > 70) {
        return false;
    }
    for (char c : boundary) {
        auto byte = static_cast<unsigned char>(c);
        if (!std::isalnum(byte) &&
            std::string_view("'()+_,-./:=? ").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return boundary.back() != ' ';
}

// The part's headers (without the blank line) into the part's name and file name.
bool readPartHeaders(std::string_view headers, FormPart& part) {
    bool named = false;
    while (!headers.empty()) {
        std::size_t end = headers.find("\r\n");
        std::string_view line = headers.substr(0, end);
        headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return false;
        }
        if (lowerCase(trimmed(line.substr(0, colon))) != "content-disposition") {
            continue;
        }
        if (named) {
            return false; // said twice
        }
        std::string kind;
        std::optional<std::vector<Parameter>> list = parameters(line.substr(colon + 1), kind);
        const std::string* name = list ? find(*list, "name") : nullptr;
        if (kind != "form-data" || name == nullptr) {
            return false;
        }
        part.name = *name;
        if (const std::string* fileName = find(*list, "filename")) {
            part.fileName = *fileName;
        }
        named = true;
    }
    return named;
}

} // namespace

std::optional<std::vector<FormPart>>
parseMultipartForm(std::string_view contentType, std::string_view body, std::size_t maxParts) {
    std::string kind;
    std::optional<std::vector<Parameter>> list = parameters(contentType, kind);
    const std::string* boundary = list ? find(*list, "boundary") : nullptr;
    if (kind != "multipart/form-data" || boundary == nullptr || !usableBoundary(*boundary)) {
        return std::nullopt;
    }
    const std::string opening = "--" + *boundary;
    const std::string delimiter = "\r\n" + opening;
    if (body.substr(0, opening.size()) != opening) {
        return std::nullopt; // browsers send no preamble
    }
    body.remove_prefix(opening.size());
    std::vector<FormPart> parts;
    while (true) {
        if (body.substr(0, 2) == "--") {
            break; // the closing delimiter; an epilogue after it is ignored
        }
        if (body.substr(0, 2) != "\r\n" || parts.size() == maxParts) {
            return std::nullopt;
        }
        body.remove_prefix(2);
        std::size_t blank = body.substr(0, kMaxPartHeaderBytes + 4).find("\r\n\r\n");
        FormPart part;
        if (blank == std::string_view::npos || !readPartHeaders(body.substr(0, blank), part)) {
            return std::nullopt;
        }
        body.remove_prefix(blank + 4);
        std::size_t end = body.find(delimiter);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        part.content = std::string(body.substr(0, end));
        body.remove_prefix(end + delimiter.size());
        parts.push_back(std::move(part));
    }
    return parts;
}

} // namespace zeq::console
