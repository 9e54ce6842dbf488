#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "findings/findings.h"
#include "support/findings_report.h"

// One shared pass of hostile values over all rules. Every member of every row
// of every fixture (reports that trigger most rules), and the sections and
// envelope members themselves, are replaced in turn by each hostile value:
// missing, null, "abc", "-1", "99999999999999999999", absurd numbers, HTML,
// control characters, JSON numbers, arrays and objects where text belongs.
// Nothing may throw; no hostile value may produce a finding that the member's
// absence does not (same rules, same severities); every text is plain UTF-8.
namespace zeq::findings {
namespace {

using json = nlohmann::json;

const std::vector<json>& hostileValues() {
    static const std::vector<json> values = {
        nullptr,
        "abc",
        "-1",
        "99999999999999999999",
        "18446744073709551615",
        "<img src=x onerror=alert(1)>\"'&<script>",
        std::string("\x00\x1b[31m\x7f\xc2\x85", 7),
        "\u202eTrue",
        "",
        " 85",
        "85.5",
        "1e3",
        "0x50",
        std::string(7000, '9'),
        85,
        -1,
        1e300,
        true,
        json::array({"True"}),
        json::object({{"value", "True"}}),
    };
    return values;
}

using Key = std::vector<std::pair<Severity, std::string>>;

Key keyOf(const std::vector<Finding>& findings) {
    Key key;
    for (const Finding& finding : findings) {
        key.emplace_back(finding.severity, finding.rule);
    }
    return key;
}

void expectPlain(const std::vector<Finding>& findings, const std::string& where) {
    auto plain = [](const std::string& text) {
        return isValidUtf8(text) && std::none_of(text.begin(), text.end(), [](unsigned char c) {
                   return c < 0x20 || c == 0x7F;
               });
    };
    for (const Finding& f : findings) {
        EXPECT_TRUE(plain(f.title) && plain(f.advice) && !f.title.empty())
            << where << ": " << f.title;
        for (const Evidence& e : f.evidence) {
            EXPECT_TRUE(plain(e.section) && plain(e.member) && plain(e.value))
                << where << ": " << e.value;
            EXPECT_LE(e.value.size(), 1000u) << where;
        }
    }
}

// `report` without the value at `pointer` (a member or an array element).
json without(const json& report, const json::json_pointer& pointer) {
    json copy = report;
    json& parent = copy[pointer.parent_pointer()];
    if (parent.is_array()) {
        parent.erase(std::stoul(pointer.back()));
    } else {
        parent.erase(pointer.back());
    }
    return copy;
}

// Replaces a member's value by each hostile value and compares with the
// member removed: the same rules must find the same severities.
void hostileLeaf(const json& report, const json::json_pointer& pointer, const std::string& where) {
    json missing = without(report, pointer);
    std::vector<Finding> baseline;
    ASSERT_NO_THROW(baseline = findingsOf(missing)) << where;
    expectPlain(baseline, where + " (missing)");
    for (const json& value : hostileValues()) {
        json changed = report;
        changed[pointer] = value;
        std::vector<Finding> found;
        ASSERT_NO_THROW(found = findingsOf(changed)) << where << " = " << value.dump();
        EXPECT_EQ(keyOf(found), keyOf(baseline))
            << where << " = " << value.dump().substr(0, 80) << "\nwith it:\n"
            << test::describe(found) << "without it:\n"
            << test::describe(baseline);
        expectPlain(found, where);
    }
}

// Replaces a part of the structure (the sections, a section's name, rows or
// error, a whole row) by each hostile value, and removes the sections or a
// section's name or rows (removing a row or an error gives another valid
// report): no rule may find something more severe than in the intact report,
// and nothing new may appear but notes of what could not be read.
void hostileStructure(const json& report, const json::json_pointer& pointer, bool removable,
                      const std::string& where) {
    std::vector<Finding> intact = findingsOf(report);
    std::vector<json> variants;
    if (removable) {
        variants.push_back(without(report, pointer));
    }
    for (const json& value : hostileValues()) {
        json changed = report;
        changed[pointer] = value;
        variants.push_back(changed);
    }
    for (const json& variant : variants) {
        std::vector<Finding> found;
        ASSERT_NO_THROW(found = findingsOf(variant)) << where;
        expectPlain(found, where);
        for (const Finding& f : found) {
            bool known = std::any_of(intact.begin(), intact.end(), [&](const Finding& g) {
                return g.rule == f.rule && g.severity <= f.severity;
            });
            EXPECT_TRUE(known || (f.severity == Severity::Info && f.rule.rfind("unread.", 0) == 0))
                << where << ": new finding " << f.rule << " " << f.title;
        }
    }
}

// Every envelope member and every member of every row (leaves), and the
// sections, each section's name, rows and error, and every row (structure).
void hostilePass(const json& report, const std::string& name) {
    std::size_t visited = 0;
    auto visit = [&](const json::json_pointer& pointer, bool leaf) {
        ++visited;
        std::string where = name + " " + pointer.to_string();
        std::string last = pointer.back();
        bool removable = last == "sections" || last == "name" || last == "rows";
        leaf ? hostileLeaf(report, pointer, where)
             : hostileStructure(report, pointer, removable, where);
    };
    for (const auto& [key, value] : report.items()) {
        visit(json::json_pointer("/" + key), key != "sections");
    }
    const json& sections = report["sections"];
    for (std::size_t s = 0; s < sections.size(); ++s) {
        json::json_pointer section("/sections/" + std::to_string(s));
        for (const char* member : {"name", "rows", "error"}) {
            if (sections[s].contains(member)) {
                visit(section / member, false);
            }
        }
        const json& rows = sections[s]["rows"];
        for (std::size_t r = 0; r < rows.size(); ++r) {
            json::json_pointer row = section / "rows" / r;
            visit(row, false);
            for (const auto& [member, value] : rows[r].items()) {
                visit(row / member, true);
            }
        }
    }
    EXPECT_GT(visited, 100u);
}

TEST(FindingsHostile, EveryValueOfEachFixture) {
    for (const char* fixture : {"windows10_office_desktop.json", "windows11_budget_laptop.json",
                                "windows11_gaming_desktop.json", "wine_sparse.json"}) {
        json report = json::parse(test::fixtureText(fixture));
        ASSERT_FALSE(findingsOf(report).empty()) << fixture;
        hostilePass(report, fixture);
    }
}

// A report in which every rule finds something, so that a hostile value that
// wrongly kept a finding alive would show.
TEST(FindingsHostile, SyntheticReportWithEveryRuleTriggered) {
    test::FindingsReport r;
    using S = Section;
    r.elevated(false);
    r.row(S::Windows, {{"Caption", "Microsoft Windows 10 Pro"}, {"BuildNumber", "19045"}});
    r.row(S::Memory, {{"Capacity", "2147483648"}});
    r.row(S::PhysicalDisks, {{"Index", "0"},
                             {"Model", "ST500DM002-1BD142"},
                             {"SerialNumber", "Z3T1"},
                             {"Status", "Pred Fail"}});
    r.row(S::DiskHealth, {{"SerialNumber", "Z3T1"}, {"MediaType", "3"}, {"HealthStatus", "2"}});
    r.row(S::DiskReliability, {{"DeviceId", "0"},
                               {"Temperature", "58"},
                               {"TemperatureMax", "0"},
                               {"Wear", "96"},
                               {"ReadErrorsTotal", "12"}});
    r.row(S::Smart, {{"InstanceName", "IDE\\DiskST500DM002-1BD142____KC45\\5&1&0&0.0.0_0"},
                     {"PredictFailure", "True"}});
    r.row(S::Volumes, {{"DeviceID", "C:"}, {"Size", "107374182400"}, {"FreeSpace", "1073741824"}});
    r.row(S::Battery, {{"DesignCapacity", "50000"}, {"FullChargeCapacity", "20000"}});
    r.row(S::AcpiTemperature, {{"CurrentTemperature", "3700"}, {"CriticalTripPoint", "3740"}});
    r.row(S::DeviceErrors, {{"Name", "Dispositivo"}, {"ConfigManagerErrorCode", "43"}});
    r.row(S::Updates, {{"HotFixID", "KB1"}, {"InstalledOn", "1/1/2025"}});
    r.row(S::Security, {{"displayName", "Windows Defender"}, {"productState", "393472"}});
    using Event = std::pair<const char*, const char*>;
    for (auto [code, source] :
         {Event{"1001", "BugCheck"}, Event{"41", "Microsoft-Windows-Kernel-Power"},
          Event{"153", "disk"}}) {
        r.row(S::Events, {{"EventCode", code},
                          {"SourceName", source},
                          {"Type", "Error"},
                          {"TimeGenerated", "20260308101500.000000-000"}});
    }
    r.error(S::Bios, "No disponible: WMI 0x80041003. Puede requerir permisos o un proveedor "
                     "compatible.");
    std::vector<Finding> all = r.findings();
    std::set<std::string> rules;
    for (const Finding& f : all) {
        rules.insert(f.rule);
    }
    EXPECT_EQ(rules.size(), 18u) << test::describe(all);
    hostilePass(r.json(), "synthetic");
}

// Whole documents that are not reports at all.
TEST(FindingsHostile, DocumentsThatAreNotReports) {
    std::string deep = "{\"sections\":[{\"name\":\"SMART\",\"rows\":[{\"PredictFailure\":" +
                       std::string(200000, '[') + std::string(200000, ']') + "}]}]}";
    std::string deepRoot = std::string(300000, '[') + std::string(300000, ']');
    const std::vector<std::string> documents = {
        "",
        "null",
        "[]",
        "\"informe\"",
        "{",
        "{\"sections\":5}",
        "{\"sections\":[1,\"a\",null,[],{}]}",
        "{\"sections\":[{\"name\":\"SMART\",\"rows\":{\"PredictFailure\":\"True\"}}]}",
        "{\"sections\":[{\"name\":\"SMART\",\"rows\":[\"True\",5,null]}]}",
        "\xff\xfe{}",
        "{\"collected_at\":\"2026-03-10T10:00:00Z\",\"sections\":[{\"name\":\"Windows\","
        "\"rows\":[{\"Caption\":\"Microsoft Windows 10 Pro\",\"BuildNumber\":\"19045\"}]}]}",
        deep,
        deepRoot,
    };
    for (const std::string& document : documents) {
        std::vector<Finding> found;
        ASSERT_NO_THROW(found = findingsOfBytes(document)) << document.substr(0, 60);
        expectPlain(found, document.substr(0, 60));
        for (const Finding& f : found) {
            EXPECT_EQ(f.severity == Severity::Info || f.rule == "windows.unsupported", true)
                << document.substr(0, 60) << "\n"
                << test::describe(found);
        }
    }
    EXPECT_EQ(findingsOfBytes("[]").front().rule, "report.unreadable");
    EXPECT_EQ(test::withRule(findingsOfBytes(deep), "disk.health").size(), 0u);
}

} // namespace
} // namespace zeq::findings
