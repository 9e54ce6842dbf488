// The import form's multipart/form-data bodies: what browsers send is read
// part by part, and anything malformed is refused whole rather than guessed at.
#include <gtest/gtest.h>

#include "console/multipart_form.h"

namespace zeq::console {
namespace {

const std::string kType = "multipart/form-data; boundary=----caja7MA4";
const std::string kOpen = "------caja7MA4\r\n";
const std::string kClose = "\r\n------caja7MA4--\r\n";

const std::string kNext = "\r\n------caja7MA4\r\n";

// A body of one part (its headers, a blank line and its content), or of more
// joined by kNext.
std::string form(const std::string& parts) {
    return kOpen + parts + kClose;
}

std::string field(const std::string& name, const std::string& value) {
    return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
}

std::string file(const std::string& fileName, const std::string& content) {
    return "Content-Disposition: form-data; name=\"informe\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/json\r\n\r\n" + content;
}

// A part as name[;file name]=content, so that a table can list the parts.
std::string shown(const FormPart& part) {
    return part.name + (part.fileName ? ";" + *part.fileName : "") + "=" + part.content;
}

TEST(MultipartForm, ReadsWhatBrowsersSendAndRefusesWhatIsNotWellFormed) {
    struct Case {
        const char* what;
        std::string body;
        std::vector<std::string> parts = {}; // none: the body is refused
        std::string type = kType;
    };
    const std::string json = "{\"a\":\"--caja\\r\\n\"}\r\n", part = field("token", "x");
    const std::string fine = form(part);
    const std::string named = "Content-Disposition: form-data; name=\"a\"";
    const std::string typed = "multipart/form-data; boundary=", long71(71, 'a');
    // One part framed by another boundary.
    auto framed = [&part](const std::string& boundary) {
        return "--" + boundary + "\r\n" + part + "\r\n--" + boundary + "--";
    };
    const std::vector<Case> cases = {
        {"a field and a file",
         form(field("token", "abc") + kNext + file("i.json", json)),
         {"token=abc", "informe;i.json=" + json}},
        {"an empty file", form(file("vacío.json", "")), {"informe;vacío.json="}},
        {"a quoted boundary and parameters in any case",
         form("content-disposition: Form-Data; NAME=token\r\n\r\nx"),
         {"token=x"},
         "Multipart/Form-Data; charset=utf-8; BOUNDARY=\"----caja7MA4\""},
        {"a file name holding ; and =", form(file("a;b=c.json", "{}")), {"informe;a;b=c.json={}"}},
        {"content holding the boundary without its line break",
         form(field("token", "------caja7MA4")),
         {"token=------caja7MA4"}},
        {"an epilogue after the end", fine + "resto", {"token=x"}},

        {"another type", fine, {}, "application/x-www-form-urlencoded; boundary=----caja7MA4"},
        {"no boundary", fine, {}, "multipart/form-data"},
        {"an empty boundary", fine, {}, typed},
        {"a boundary of 71 characters", framed(long71), {}, typed + long71},
        {"a boundary with a control character", framed("a\x01z"), {}, typed + "a\x01z"},
        {"an unclosed quote", fine, {}, typed + "\"----caja7MA4"},
        {"a preamble", "hola\r\n" + fine},
        {"no closing boundary", kOpen + part},
        {"the closing boundary without its line break", kOpen + part + "------caja7MA4--"},
        {"an empty body", ""},
        {"a part without a name", form("Content-Disposition: form-data\r\n\r\nx")},
        {"a part that is not form-data",
         form("Content-Disposition: attachment; name=\"a\"\r\n\r\nx")},
        {"a part without headers", form("\r\nx")},
        {"two dispositions", form(named + "\r\n" + part)},
        {"a header line without a colon", form(named + "\r\nbasura\r\n\r\nx")},
        {"headers without their end", form(named + "\r\n" + std::string(5000, 'X'))},
        {"more parts than allowed",
         form(part + kNext + part + kNext + part + kNext + part + kNext + part)},
    };
    for (const Case& c : cases) {
        std::optional<std::vector<FormPart>> parts = parseMultipartForm(c.type, c.body, 4);
        EXPECT_EQ(parts.has_value(), !c.parts.empty()) << c.what;
        std::vector<std::string> read;
        for (const FormPart& each : parts.value_or(std::vector<FormPart>{})) {
            read.push_back(shown(each));
        }
        EXPECT_EQ(read, c.parts) << c.what;
    }
}

} // namespace
} // namespace zeq::console
