#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeq::console {

// One part of a multipart/form-data body: a field, or a file when the
// browser gave it a file name.
struct FormPart {
    std::string name;
    std::optional<std::string> fileName;
    std::string content;
};

// The parts of a multipart/form-data body whose Content-Type header is
// `contentType`, or nothing when the body is not well formed: no usable
// boundary, a part without a form-data name, part headers longer than a few
// kilobytes, more than maxParts parts, or a missing closing boundary. The
// contents are not interpreted.
std::optional<std::vector<FormPart>>
parseMultipartForm(std::string_view contentType, std::string_view body, std::size_t maxParts);

} // namespace zeq::console
