// The collector against the WMI service of the Wine prefix, with COM set up as
// the report builder sets it up: multithreaded apartment, default security.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "report/wmi_section.h"
#include "support/compact_json.h"
#include "support/wmi_section_texts.h"

namespace {

// Parses a section's bytes into *section and returns its rows (null if missing).
const JsonValue* RowsOf(const std::string& bytes, JsonValue* section) {
    std::string error;
    EXPECT_TRUE(ParseCompactJson(bytes.data(), bytes.size(), section, &error)) << error << bytes;
    const JsonValue* rows = section->Find("rows");
    EXPECT_TRUE(rows != nullptr && rows->kind == JsonValue::Array) << bytes;
    return rows;
}

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
    JsonValue section;
    const JsonValue* rows = RowsOf(bytes, &section);
    ASSERT_TRUE(rows != nullptr);
    EXPECT_EQ("Sistema operativo", section.Find("name")->text);
    EXPECT_EQ(nullptr, section.Find("error")) << bytes;
    ASSERT_EQ(1u, rows->items.size()) << bytes;

    std::set<std::string> names;
    for (const auto& property : rows->items[0].members) {
        names.insert(property.first);
        EXPECT_EQ(JsonValue::String, property.second.kind) << property.first;
    }
    // No system properties (__CLASS, __PATH, ...) next to the selected ones.
    EXPECT_EQ((std::set<std::string>{"BuildNumber", "Caption", "Version"}), names) << bytes;
    ASSERT_EQ(3u, rows->items[0].members.size());
    std::string caption = rows->items[0].Find("Caption")->text;
    std::string version = rows->items[0].Find("Version")->text;
    std::string build = rows->items[0].Find("BuildNumber")->text;
    EXPECT_NE(std::string::npos, caption.find("Windows")) << caption;
    EXPECT_TRUE(IsDigits(build)) << build;
    // Version is major.minor.build, e.g. 10.0.19045 with build 19045.
    ASSERT_GT(version.size(), build.size() + 1) << version;
    EXPECT_EQ("." + build, version.substr(version.size() - build.size() - 1)) << version;
}

TEST_F(WmiRealTest, AllPropertiesOfAnInstanceLeaveOutTheSystemOnes) {
    std::string bytes =
        Collect(L"Sistema operativo", L"ROOT\\CIMV2", L"SELECT * FROM Win32_OperatingSystem", 5);
    JsonValue section;
    const JsonValue* rows = RowsOf(bytes, &section);
    ASSERT_TRUE(rows != nullptr);
    EXPECT_EQ(nullptr, section.Find("error")) << bytes;
    ASSERT_EQ(1u, rows->items.size());
    EXPECT_GE(rows->items[0].members.size(), 3u);
    EXPECT_LE(rows->items[0].members.size(), 65u);
    for (const auto& property : rows->items[0].members) {
        EXPECT_NE(0u, property.first.compare(0, 2, "__")) << property.first;
    }
}

TEST_F(WmiRealTest, RowLimitStopsARealListing) {
    // The test itself and the prefix's services are running, so there are at least two.
    std::string bytes = Collect(L"Procesos", L"ROOT\\CIMV2", L"SELECT Name FROM Win32_Process", 1);
    JsonValue section;
    const JsonValue* rows = RowsOf(bytes, &section);
    ASSERT_TRUE(rows != nullptr);
    ASSERT_EQ(1u, rows->items.size()) << bytes;
    EXPECT_EQ(std::vector<std::string>{"Name"}, rows->items[0].Keys());
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
