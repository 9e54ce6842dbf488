// The import form's multipart/form-data bodies: what browsers send is read
// part by part, and anything malformed is refused whole rather than guessed at.
#include <gtest/gtest.h>

#include "console/multipart_form.h"

namespace zeq::console {
namespace {

const std::string kType = "multipart/form-data; boundary=----caja7MA4";
const std::string kOpen = "------caja7MA4\r\n";
const std::string kNext = "\r\n------caja7MA4\r\n";
const std::string kClose = "\r\n------caja7MA4--\r\n";

std::string field(const std::string& name, const std::string& value) {
    return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
}

std::string file(const std::string& fileName, const std::string& content) {
    return "Content-Disposition: form-data; name=\"informe\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/json\r\n\r\n" + content;
}

TEST(MultipartForm, ReadsTheFieldsAndFilesBrowsersSend) {
    struct Case {
        const char* what;
        std::string type;
        std::string body;
        std::vector<FormPart> parts;
    };
    const std::string json = "{\"a\":\"--caja\\r\\n\"}\r\n";
    const std::vector<Case> cases = {
        {"a field and a file",
         kType,
         kOpen + field("token", "abc") + kNext + file("i.json", json) + kClose,
         {{"token", std::nullopt, "abc"}, {"informe", "i.json", json}}},
        {"an empty file",
         kType,
         kOpen + file("vacío.json", "") + kClose,
         {{"informe", "vacío.json", ""}}},
        {"a quoted boundary and parameters in any case",
         "Multipart/Form-Data; charset=utf-8; BOUNDARY=\"----caja7MA4\"",
         kOpen + "content-disposition: Form-Data; NAME=token\r\n\r\nx" + kClose,
         {{"token", std::nullopt, "x"}}},
        {"a file name holding ; and =",
         kType,
         kOpen + file("a;b=c.json", "{}") + kClose,
         {{"informe", "a;b=c.json", "{}"}}},
        {"content holding the boundary without its line break",
         kType,
         kOpen + field("token", "------caja7MA4") + kClose,
         {{"token", std::nullopt, "------caja7MA4"}}},
        {"an epilogue after the end",
         kType,
         kOpen + field("token", "x") + kClose + "resto",
         {{"token", std::nullopt, "x"}}},
    };
    for (const Case& c : cases) {
        std::optional<std::vector<FormPart>> parts = parseMultipartForm(c.type, c.body, 4);
        ASSERT_TRUE(parts) << c.what;
        ASSERT_EQ(parts->size(), c.parts.size()) << c.what;
        for (std::size_t i = 0; i < c.parts.size(); ++i) {
            EXPECT_EQ((*parts)[i].name, c.parts[i].name) << c.what;
            EXPECT_EQ((*parts)[i].fileName, c.parts[i].fileName) << c.what;
            EXPECT_EQ((*parts)[i].content, c.parts[i].content) << c.what;
        }
    }
}

TEST(MultipartForm, RefusesWhatIsNotWellFormed) {
    struct Case {
        const char* what;
        std::string type;
        std::string body;
    };
    const std::string part = field("token", "x");
    const std::vector<Case> cases = {
        {"another type", "application/x-www-form-urlencoded; boundary=----caja7MA4",
         kOpen + part + kClose},
        {"no boundary", "multipart/form-data", kOpen + part + kClose},
        {"an empty boundary", "multipart/form-data; boundary=", kOpen + part + kClose},
        {"a boundary of 71 characters", "multipart/form-data; boundary=" + std::string(71, 'a'),
         "--" + std::string(71, 'a') + "\r\n" + part + "\r\n--" + std::string(71, 'a') + "--"},
        {"a boundary with a control character", "multipart/form-data; boundary=a\x01z",
         "--a\x01z\r\n" + part + "\r\n--a\x01z--"},
        {"an unclosed quote", "multipart/form-data; boundary=\"----caja7MA4",
         kOpen + part + kClose},
        {"a preamble", kType, "hola\r\n" + kOpen + part + kClose},
        {"no closing boundary", kType, kOpen + part},
        {"the closing boundary without its line break", kType, kOpen + part + "------caja7MA4--"},
        {"an empty body", kType, ""},
        {"a part without a name", kType,
         kOpen + "Content-Disposition: form-data\r\n\r\nx" + kClose},
        {"a part that is not form-data", kType,
         kOpen + "Content-Disposition: attachment; name=\"token\"\r\n\r\nx" + kClose},
        {"a part without headers", kType, kOpen + "\r\nx" + kClose},
        {"two dispositions", kType,
         kOpen + "Content-Disposition: form-data; name=\"a\"\r\n" + part + kClose},
        {"a header line without a colon", kType,
         kOpen + "Content-Disposition: form-data; name=\"a\"\r\nbasura\r\n\r\nx" + kClose},
        {"headers without their end", kType,
         kOpen + "Content-Disposition: form-data; name=\"a\"\r\n" + std::string(5000, 'X') +
             kClose},
        {"more parts than allowed", kType,
         kOpen + part + kNext + part + kNext + part + kNext + part + kNext + part + kClose},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(parseMultipartForm(c.type, c.body, 4)) << c.what;
    }
}

} // namespace
} // namespace zeq::console
