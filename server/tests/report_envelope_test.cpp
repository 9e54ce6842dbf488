#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "upload/report_envelope.h"
#include "support/sample_report.h"
#include "base/utf8.h"
#include "findings/findings.h"

namespace zeq {
namespace {

constexpr const char* kId = "0F8FAD5B-D9CB-469F-A165-70867728950E";

std::string sections(std::size_t count, const std::string& section = R"({"name":"S","rows":[]})") {
    std::string text = "[";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i ? "," : "") + section;
    }
    return text + "]";
}

using Members = std::vector<std::pair<std::string, std::string>>; // key, raw JSON value

Members validMembers() {
    return {
        {"schema_version", "1"},
        {"client_version", "\"1.0.0\""},
        {"consent", "true"},
        {"report_id", std::string("\"") + kId + "\""},
        {"collected_at", "\"2024-03-07T10:00:00Z\""},
        {"elevated", "false"},
        {"sections", sections(26)},
    };
}

std::string document(const Members& members) {
    std::string text = "{";
    for (const auto& [key, value] : members) {
        text += (text.size() > 1 ? "," : "") + ("\"" + key + "\":" + value);
    }
    return text + "}";
}

// The valid envelope with one member's value replaced.
std::string with(const std::string& key, const std::string& value) {
    Members members = validMembers();
    for (auto& member : members) {
        if (member.first == key) {
            member.second = value;
        }
    }
    return document(members);
}

std::string without(const std::string& key) {
    Members members = validMembers();
    members.erase(std::remove_if(members.begin(), members.end(),
                                 [&](const auto& member) { return member.first == key; }),
                  members.end());
    return document(members);
}

std::string twice(const std::string& key) {
    Members members = validMembers();
    for (const auto& member : validMembers()) {
        if (member.first == key) {
            members.push_back(member);
        }
    }
    return document(members);
}

TEST(ReportEnvelope, AcceptsTheClientsEnvelope) {
    EnvelopeCheck check = checkReport(document(validMembers()));
    EXPECT_EQ(check.problem, ReportProblem::None);
    EXPECT_EQ(check.reportId, kId);
}

TEST(ReportEnvelope, AcceptsASampleReportOfEverySize) {
    for (std::size_t size : {std::size_t(0), std::size_t(100000), kMaxReportBytes}) {
        std::string id = test::newReportId();
        std::string report = test::sampleReport(id, size);
        EnvelopeCheck check = checkReport(report);
        EXPECT_EQ(check.problem, ReportProblem::None) << size;
        EXPECT_EQ(check.reportId, id);
    }
}

TEST(ReportEnvelope, IgnoresMembersItDoesNotUseAndWhiteSpace) {
    Members members = validMembers();
    members.insert(members.begin() + 3, {"extra", R"({"report_id":"x","sections":[]})"});
    EXPECT_EQ(checkReport(document(members)).problem, ReportProblem::None);
    EXPECT_EQ(checkReport(" \n" + document(validMembers()) + "\r\n").problem, ReportProblem::None);
}

struct BadCase {
    std::string body;
    ReportProblem expected;
};

void expectProblems(const std::vector<BadCase>& cases) {
    for (const BadCase& c : cases) {
        EnvelopeCheck check = checkReport(c.body);
        EXPECT_EQ(check.problem, c.expected) << c.body.substr(0, 300);
        EXPECT_TRUE(check.reportId.empty());
        // Reading the overview on the way changes no outcome and fills nothing.
        findings::ReportOverview overview;
        overview.rulesVersion = -1;
        EnvelopeCheck withOverview = checkReport(c.body, overview);
        EXPECT_EQ(withOverview.problem, c.expected) << c.body.substr(0, 300);
        EXPECT_EQ(overview.rulesVersion, -1);
    }
}

TEST(ReportEnvelope, RefusesEachBadMember) {
    expectProblems({
        {with("schema_version", "2"), ReportProblem::SchemaVersion},
        {with("schema_version", "0"), ReportProblem::SchemaVersion},
        {with("schema_version", "-1"), ReportProblem::SchemaVersion},
        {with("schema_version", "1.0"), ReportProblem::SchemaVersion},
        {with("schema_version", "\"1\""), ReportProblem::SchemaVersion},
        {with("schema_version", "true"), ReportProblem::SchemaVersion},
        {without("schema_version"), ReportProblem::SchemaVersion},
        {twice("schema_version"), ReportProblem::SchemaVersion},

        {with("client_version", "\"\""), ReportProblem::ClientVersion},
        {with("client_version", "100"), ReportProblem::ClientVersion},
        {with("client_version", "null"), ReportProblem::ClientVersion},
        {with("client_version", "\"1.0 beta\""), ReportProblem::ClientVersion},
        {with("client_version", "\"" + std::string(65, '1') + "\""), ReportProblem::ClientVersion},
        {without("client_version"), ReportProblem::ClientVersion},

        {with("consent", "false"), ReportProblem::Consent},
        {with("consent", "\"true\""), ReportProblem::Consent},
        {with("consent", "1"), ReportProblem::Consent},
        {without("consent"), ReportProblem::Consent},
        {twice("consent"), ReportProblem::Consent},

        {with("report_id", "\"0f8fad5b-d9cb-469f-a165-70867728950e\""), ReportProblem::ReportId},
        {with("report_id", "\"{0F8FAD5B-D9CB-469F-A165-70867728950E}\""), ReportProblem::ReportId},
        {with("report_id", "\"0F8FAD5B-D9CB-469F-A165-70867728950\""), ReportProblem::ReportId},
        {with("report_id", "\"0F8FAD5B-D9CB-469F-A165-70867728950EE\""), ReportProblem::ReportId},
        {with("report_id", "\"0F8FAD5BD-9CB-469F-A165-70867728950E\""), ReportProblem::ReportId},
        {with("report_id", "\"0F8FAD5B-D9CB-469F-A165-7086772895GE\""), ReportProblem::ReportId},
        {with("report_id", "\"0F8FAD5B D9CB 469F A165 70867728950E\""), ReportProblem::ReportId},
        {with("report_id", "12345"), ReportProblem::ReportId},
        {without("report_id"), ReportProblem::ReportId},
        {twice("report_id"), ReportProblem::ReportId},

        {with("collected_at", "\"2024-03-07 10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T10:00:00\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T10:00:00z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T10:00:00.000Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-3-07T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-13-07T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-00-07T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-04-31T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2023-02-29T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"1900-02-29T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-00T10:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T24:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T10:60:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T10:00:60Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"1600-12-31T23:59:59Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "\"2024-03-07T1a:00:00Z\""), ReportProblem::CollectedAt},
        {with("collected_at", "1709805600"), ReportProblem::CollectedAt},
        {without("collected_at"), ReportProblem::CollectedAt},

        {with("elevated", "\"false\""), ReportProblem::Elevated},
        {with("elevated", "0"), ReportProblem::Elevated},
        {with("elevated", "null"), ReportProblem::Elevated},
        {without("elevated"), ReportProblem::Elevated},
        {twice("elevated"), ReportProblem::Elevated},

        {with("sections", sections(25)), ReportProblem::Sections},
        {with("sections", sections(27)), ReportProblem::Sections},
        {with("sections", sections(0)), ReportProblem::Sections},
        {with("sections", "{}"), ReportProblem::Sections},
        {with("sections", "null"), ReportProblem::Sections},
        {with("sections", sections(26, "[]")), ReportProblem::Sections},
        {with("sections", sections(26, "\"S\"")), ReportProblem::Sections},
        {with("sections", sections(26, R"({"rows":[]})")), ReportProblem::Sections},
        {with("sections", sections(26, R"({"name":"S"})")), ReportProblem::Sections},
        {with("sections", sections(26, R"({"name":1,"rows":[]})")), ReportProblem::Sections},
        {with("sections", sections(26, R"({"name":"S","rows":{}})")), ReportProblem::Sections},
        {with("sections", sections(26, R"({"name":"S","name":"T","rows":[]})")),
         ReportProblem::Sections},
        {without("sections"), ReportProblem::Sections},
        {twice("sections"), ReportProblem::Sections},
    });
}

TEST(ReportEnvelope, AcceptsRealCalendarEdges) {
    for (const char* time : {"2024-02-29T23:59:59Z", "2000-02-29T00:00:00Z", "1601-01-01T00:00:00Z",
                             "9999-12-31T23:59:59Z", "2024-12-31T00:00:00Z"}) {
        EXPECT_TRUE(isCollectedAt(time)) << time;
        EXPECT_EQ(checkReport(with("collected_at", std::string("\"") + time + "\"")).problem,
                  ReportProblem::None)
            << time;
    }
}

TEST(ReportEnvelope, SectionsMayHoldAnErrorAndDeepRows) {
    std::string section = R"({"name":"S","rows":[{"a":{"b":[1,2,{"c":null}]}}],"error":"x"})";
    EXPECT_EQ(checkReport(with("sections", sections(26, section))).problem, ReportProblem::None);
}

TEST(ReportEnvelope, DeepNestingDoesNotExhaustTheStack) {
    std::string deep = std::string(200000, '[') + std::string(200000, ']');
    std::string section = R"({"name":"S","rows":[)" + deep + "]}";
    std::string body = with("sections", sections(26, section));
    EXPECT_EQ(checkReport(body).problem, ReportProblem::None);
    findings::ReportOverview overview;
    EnvelopeCheck check = checkReport(body, overview);
    EXPECT_EQ(check.problem, ReportProblem::None);
    EXPECT_EQ(check.reportId, kId);
    EXPECT_EQ(overview.rulesVersion, findings::kRulesVersion);
}

TEST(ReportEnvelope, RefusesWhatIsNotAJsonObject) {
    std::string valid = document(validMembers());
    expectProblems({
        {"", ReportProblem::NotJson},
        {" ", ReportProblem::NotJson},
        {valid.substr(0, valid.size() - 1), ReportProblem::NotJson},
        {valid + "}", ReportProblem::NotJson},
        {valid + valid, ReportProblem::NotJson},
        {"{'schema_version':1}", ReportProblem::NotJson},
        {R"({"schema_version":1,})", ReportProblem::NotJson},
        {"{\"client_version\":\"1.0\x01\"}", ReportProblem::NotJson},
        // The JSON parser takes a NUL byte for the end of its input.
        {valid + std::string(1, '\0'), ReportProblem::NotJson},
        {valid + std::string(1, '\0') + "<script>", ReportProblem::NotJson},
        // A byte-order mark: JSON parsers may skip it, but it is not the tool's report.
        {"\xEF\xBB\xBF" + valid, ReportProblem::ByteOrderMark},
        {"\xEF\xBB\xBF", ReportProblem::ByteOrderMark},
        {"\xEF\xBB\xBF\xEF\xBB\xBF" + valid, ReportProblem::ByteOrderMark},
        {" \xEF\xBB\xBF" + valid, ReportProblem::NotJson},
        {"[" + valid + "]", ReportProblem::NotObject},
        {"\"text\"", ReportProblem::NotObject},
        {"1", ReportProblem::NotObject},
        {"null", ReportProblem::NotObject},
    });
}

TEST(ReportEnvelope, RefusesInvalidUtf8BeforeAnythingElse) {
    const char* sequences[] = {
        "\x80",             // continuation byte alone
        "\xC0\xAF",         // overlong '/'
        "\xC1\xBF",         // overlong
        "\xE0\x80\xAF",     // overlong three bytes
        "\xF0\x80\x80\xAF", // overlong four bytes
        "\xED\xA0\x80",     // surrogate U+D800
        "\xED\xBF\xBF",     // surrogate U+DFFF
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF5\x80\x80\x80", // lead byte out of range
        "\xFF",             //
        "\xE2\x82",         // cut sequence
        "\xC3",             // cut at the end of a string
        "\xC3\x28",         // bad continuation
    };
    for (const char* bytes : sequences) {
        EXPECT_FALSE(isValidUtf8(bytes)) << "sequence " << bytes;
        std::string body = with("client_version", std::string("\"1.0.0") + bytes + "\"");
        EXPECT_EQ(checkReport(body).problem, ReportProblem::NotUtf8);
        // Even a body that is also broken JSON is refused for its encoding.
        EXPECT_EQ(checkReport(std::string("{") + bytes).problem, ReportProblem::NotUtf8);
    }
}

TEST(Utf8, FindsABadSequenceAtAnyOffsetInLongAsciiText) {
    for (const char* bytes : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        for (std::size_t before = 0; before < 20; ++before) {
            for (std::size_t after : {0, 1, 7, 8, 9, 30}) {
                std::string text = std::string(before, 'a') + bytes + std::string(after, 'b');
                EXPECT_FALSE(isValidUtf8(text)) << before << " " << after;
                std::string good = std::string(before, 'a') + "\xC3\xA9" + std::string(after, 'b');
                EXPECT_TRUE(isValidUtf8(good)) << before << " " << after;
            }
        }
    }
}

TEST(ReportEnvelope, AcceptsEveryKindOfValidUtf8) {
    const char* sequences[] = {
        "\x7F",         "\xC2\x80",         "\xC3\xA9",         "\xDF\xBF",
        "\xE0\xA0\x80", "\xE2\x82\xAC",     "\xED\x9F\xBF",     "\xEE\x80\x80",
        "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x9D\x84\x9E", "\xF4\x8F\xBF\xBF",
    };
    for (const char* bytes : sequences) {
        EXPECT_TRUE(isValidUtf8(bytes)) << "sequence " << bytes;
        std::string section = std::string(R"({"name":"T)") + bytes + R"(","rows":[]})";
        EXPECT_EQ(checkReport(with("sections", sections(26, section))).problem,
                  ReportProblem::None);
    }
}

TEST(ReportEnvelope, EveryProblemHasItsOwnText) {
    std::set<std::string> texts;
    for (int p = static_cast<int>(ReportProblem::NotUtf8);
         p <= static_cast<int>(ReportProblem::Sections); ++p) {
        std::string text = describeProblem(static_cast<ReportProblem>(p));
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(isValidUtf8(text));
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 11u);
}

} // namespace
} // namespace zeq
