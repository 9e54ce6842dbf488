// The collector against the WMI service of the Wine prefix, with COM set up as
// the report builder sets it up: multithreaded apartment, default security.

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "report/wmi_section.h"

namespace {

struct Property {
    std::string name;
    std::string value;
    bool isNull;
};

struct ParsedSection {
    std::string name;
    std::vector<std::vector<Property>> rows;
    bool hasError = false;
    std::string error;
};

// Reads the one-line section format the collector writes:
// {"name":S,"rows":[{S:S|null,...},...][,"error":S]} with no white space.
class SectionReader {
  public:
    explicit SectionReader(const std::string& text) : text_(text) {}

    bool Read(ParsedSection* section) {
        if (!Accept("{\"name\":") || !String(&section->name) || !Accept(",\"rows\":[")) {
            return false;
        }
        if (!Accept("]")) {
            do {
                std::vector<Property> row;
                if (!Row(&row)) {
                    return false;
                }
                section->rows.push_back(row);
            } while (Accept(","));
            if (!Accept("]")) {
                return false;
            }
        }
        if (Accept(",\"error\":")) {
            section->hasError = true;
            if (!String(&section->error)) {
                return false;
            }
        }
        return Accept("}") && position_ == text_.size();
    }

  private:
    bool Row(std::vector<Property>* row) {
        if (!Accept("{")) {
            return false;
        }
        if (Accept("}")) {
            return true;
        }
        do {
            Property property = {};
            if (!String(&property.name) || !Accept(":")) {
                return false;
            }
            property.isNull = Accept("null");
            if (!property.isNull && !String(&property.value)) {
                return false;
            }
            row->push_back(property);
        } while (Accept(","));
        return Accept("}");
    }

    bool String(std::string* out) {
        if (!Accept("\"")) {
            return false;
        }
        while (position_ < text_.size()) {
            char c = text_[position_++];
            if (c == '"') {
                return true;
            }
            if ((unsigned char)c < 0x20) {
                return false;
            }
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (position_ >= text_.size()) {
                return false;
            }
            char escape = text_[position_++];
            if (escape == '"' || escape == '\\') {
                out->push_back(escape);
            } else if (escape == 'u' && position_ + 4 <= text_.size() &&
                       text_.compare(position_, 2, "00") == 0) {
                out->push_back((char)std::stoi(text_.substr(position_ + 2, 2), nullptr, 16));
                position_ += 4;
            } else {
                return false;
            }
        }
        return false;
    }

    bool Accept(const char* literal) {
        size_t length = strlen(literal);
        if (text_.compare(position_, length, literal) != 0) {
            return false;
        }
        position_ += length;
        return true;
    }

    const std::string& text_;
    size_t position_ = 0;
};

std::string Unavailable(const std::string& hex) {
    return ",\"error\":\"No disponible: WMI 0x" + hex +
           ". Puede requerir permisos o un proveedor compatible.\"";
}

const char kPartial[] = ",\"error\":\"Listado parcial: l\xC3\xAD"
                        "mite de registros o tiempo alcanzado.\"";

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

class WmiRealTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        comReady = SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED));
        // Ignored as the report builder ignores it.
        CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE, NULL);
    }

    static void TearDownTestSuite() {
        if (comReady) {
            CoUninitialize();
        }
    }

    void SetUp() override {
        ASSERT_TRUE(comReady);
    }

    static std::string Collect(const WCHAR* title, const WCHAR* wmiNamespace, const WCHAR* query,
                               INT32 maxRows) {
        ReportBuffer buffer = {};
        CollectWmiSection(&buffer, title, wmiNamespace, query, maxRows);
        EXPECT_FALSE(buffer.failed);
        std::string bytes(buffer.data == NULL ? "" : buffer.data, buffer.length);
        ResetBuffer(&buffer);
        return bytes;
    }

    static bool comReady;
};

bool WmiRealTest::comReady = false;

TEST_F(WmiRealTest, OperatingSystemGivesOneRowWithTheSelectedPropertiesAsStrings) {
    std::string bytes =
        Collect(L"Sistema operativo", L"ROOT\\CIMV2",
                L"SELECT Caption,Version,BuildNumber FROM Win32_OperatingSystem", 5);
    ParsedSection section;
    ASSERT_TRUE(SectionReader(bytes).Read(&section)) << bytes;
    EXPECT_EQ("Sistema operativo", section.name);
    EXPECT_FALSE(section.hasError) << section.error;
    ASSERT_EQ(1u, section.rows.size()) << bytes;

    std::set<std::string> names;
    std::string version, build, caption;
    for (const Property& property : section.rows[0]) {
        names.insert(property.name);
        EXPECT_FALSE(property.isNull) << property.name;
        if (property.name == "Version") {
            version = property.value;
        } else if (property.name == "BuildNumber") {
            build = property.value;
        } else if (property.name == "Caption") {
            caption = property.value;
        }
    }
    // No system properties (__CLASS, __PATH, ...) next to the selected ones.
    EXPECT_EQ((std::set<std::string>{"BuildNumber", "Caption", "Version"}), names) << bytes;
    EXPECT_EQ(3u, section.rows[0].size());
    EXPECT_NE(std::string::npos, caption.find("Windows")) << caption;
    EXPECT_TRUE(IsDigits(build)) << build;
    // Version is major.minor.build, e.g. 10.0.19045 with build 19045.
    ASSERT_GT(version.size(), build.size() + 1) << version;
    EXPECT_EQ("." + build, version.substr(version.size() - build.size() - 1)) << version;
}

TEST_F(WmiRealTest, AllPropertiesOfAnInstanceLeaveOutTheSystemOnes) {
    std::string bytes =
        Collect(L"Sistema operativo", L"ROOT\\CIMV2", L"SELECT * FROM Win32_OperatingSystem", 5);
    ParsedSection section;
    ASSERT_TRUE(SectionReader(bytes).Read(&section)) << bytes;
    EXPECT_FALSE(section.hasError) << section.error;
    ASSERT_EQ(1u, section.rows.size());
    EXPECT_GE(section.rows[0].size(), 3u);
    EXPECT_LE(section.rows[0].size(), 65u);
    for (const Property& property : section.rows[0]) {
        EXPECT_NE(0u, property.name.compare(0, 2, "__")) << property.name;
    }
}

TEST_F(WmiRealTest, RowLimitStopsARealListing) {
    // The test itself and the prefix's services are running, so there are at least two.
    std::string bytes = Collect(L"Procesos", L"ROOT\\CIMV2", L"SELECT Name FROM Win32_Process", 1);
    ParsedSection section;
    ASSERT_TRUE(SectionReader(bytes).Read(&section)) << bytes;
    ASSERT_EQ(1u, section.rows.size()) << bytes;
    ASSERT_EQ(1u, section.rows[0].size());
    EXPECT_EQ("Name", section.rows[0][0].name);
    ASSERT_GT(bytes.size(), sizeof(kPartial));
    EXPECT_EQ(std::string(kPartial) + "}", bytes.substr(bytes.size() - sizeof(kPartial)));
}

TEST_F(WmiRealTest, MissingNamespaceFailsTheConnection) {
    EXPECT_EQ("{\"name\":\"Inexistente\",\"rows\":[]" + Unavailable("8004100E") + "}",
              Collect(L"Inexistente", L"ROOT\\NoSuchNamespace",
                      L"SELECT * FROM Win32_OperatingSystem", 10));
}

TEST_F(WmiRealTest, MissingClassGivesNoRows) {
    // Windows reports WBEM_E_INVALID_CLASS at the first fetch; Wine 8 runs the query
    // and its first fetch answers WBEM_S_FALSE, an empty listing. Either is sound.
    std::string bytes =
        Collect(L"Inexistente", L"ROOT\\CIMV2", L"SELECT * FROM Win32_NoSuchClass", 10);
    std::string empty = "{\"name\":\"Inexistente\",\"rows\":[]";
    EXPECT_TRUE(bytes == empty + "}" || bytes == empty + Unavailable("80041010") + "}") << bytes;
}

TEST_F(WmiRealTest, MalformedQueryFailsWithInvalidQuery) {
    EXPECT_EQ("{\"name\":\"Inexistente\",\"rows\":[]" + Unavailable("80041017") + "}",
              Collect(L"Inexistente", L"ROOT\\CIMV2", L"SELEC * FROM Win32_OperatingSystem", 10));
}

} // namespace
