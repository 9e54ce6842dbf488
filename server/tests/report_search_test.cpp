// The technician's list read through its own connection: newest first, a page
// at a time, searched by receipt code however it is typed or by text in the
// machine's manufacturer, model and serial number; and the other reports of
// the same machine, where placeholders identify nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <vector>

#include "findings/machine_identity.h"
#include "store/receipt_code.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

using findings::Section;

constexpr std::int64_t kNow = 1'773'136'800;

struct Machine {
    const char* manufacturer;
    const char* model;
    const char* serial;
    const char* uuid;
};

std::vector<std::string> codesOf(const std::vector<ListedReport>& reports) {
    std::vector<std::string> codes;
    for (const ListedReport& report : reports) {
        codes.push_back(report.code);
    }
    return codes;
}

class ReportSearch : public ::testing::Test {
  protected:
    std::string add(const Machine& machine, std::int64_t receivedAt) {
        std::string id = test::newReportId();
        std::string body = test::FindingsReport()
                               .member("report_id", id)
                               .row(Section::Computer, {{"Manufacturer", machine.manufacturer},
                                                        {"Model", machine.model}})
                               .row(Section::Identification,
                                    {{"IdentifyingNumber", machine.serial}, {"UUID", machine.uuid}})
                               .json()
                               .dump();
        StoreOutcome outcome = db_.store.store(id, body, receivedAt, "203.0.113.5");
        EXPECT_EQ(outcome.result, StoreResult::Stored);
        return outcome.code;
    }

    test::ServiceDatabase db_;
    ReportReader reader_{db_.path};
};

TEST(ReceiptCodeTyped, HoweverItIsTypedItIsTheSameCode) {
    for (const char* typed :
         {"ZEQ-1A2B-3C4D-5E6F", "zeq-1a2b-3c4d-5e6f", "zeq1a2b3c4d5e6f", "ZEQ 1A2B 3C4D 5E6F",
          "  zeq 1a2b-3c4d 5e6f\t", "z e q 1 a 2 b 3 c 4 d 5 e 6 f", "1a2b3c4d5e6f",
          "1A2B-3C4D-5E6F", "ZEQ--1A2B--3C4D--5E6F"}) {
        EXPECT_EQ(receiptCodeFrom(typed), "ZEQ-1A2B-3C4D-5E6F") << typed;
    }
    for (const char* typed : {"", "ZEQ",
                              "ZEQ-1A2B-3C4D-5E6",       // a digit short
                              "ZEQ-1A2B-3C4D-5E6F0",     // a digit more
                              "ZEQ-1A2B-3C4D-5E6G",      // not hexadecimal
                              "ZEX-1A2B-3C4D-5E6F",      // another prefix
                              "ZEQ-1A2B-3C4D-5E6F-0000", // far too long
                              "ZEQ_1A2B_3C4D_5E6F", "ZEQ-1A2B-3C4D-5E6\xC3\xA9", "Dell OptiPlex"}) {
        EXPECT_FALSE(receiptCodeFrom(typed)) << typed;
    }
}

TEST(PlaceholderIdentity, StockValuesIdentifyNoMachine) {
    for (const char* uuid :
         {"03000200-0400-0500-0006-000700080009", "00000000-0000-0000-0000-000000000000",
          "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF", "ffffffff-ffff-ffff-ffff-ffffffffffff", "",
          "not a uuid"}) {
        EXPECT_FALSE(findings::machineUuid(uuid)) << uuid;
    }
    for (const char* serial :
         {"To be filled by O.E.M.", "TO BE FILLED BY O.E.M.", "  Default string  ",
          "System Serial Number", "Chassis Serial Number", "Not Specified", "0", "00000000", "",
          "   "}) {
        EXPECT_FALSE(findings::machineSerial(serial)) << serial;
    }
    // Real values, and values a digit off a stock one, identify the machine.
    for (const char* uuid :
         {"4C4C4544-0042-3510-8051-B7C04F4B4D32", " 4c4c4544-0042-3510-8051-b7c04f4b4d32 "}) {
        EXPECT_EQ(findings::machineUuid(uuid), "4C4C4544-0042-3510-8051-B7C04F4B4D32") << uuid;
    }
    EXPECT_EQ(findings::machineUuid("03000200-0400-0500-0006-00070008000A"),
              "03000200-0400-0500-0006-00070008000A");
    for (const char* serial : {"7B5QKM2", "PF3ABCDE", "Default string 2", "0001"}) {
        EXPECT_EQ(findings::machineSerial(serial), serial);
    }
}

TEST_F(ReportSearch, ACodeHoweverTypedOrTextInManufacturerModelAndSerialWithNoWildcards) {
    std::string dell = add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", ""}, kNow);
    std::string percent = add({"Acme", "Silent 100% Pro", "AC-1", ""}, kNow + 1);
    std::string underscore = add({"Acme", "Model_X", "AC-2", ""}, kNow + 2);
    std::string quotes = add({"O'Neil \"Systems\"", "Box", "ON-1", ""}, kNow + 3);
    std::string backslash = add({"Acme", "Path\\Box", "AC-3", ""}, kNow + 4);
    std::string hostile = add({"Robert'); DROP TABLE reports;--", "<script>", "X1", ""}, kNow + 5);
    std::string twelveHex = add({"Acme", "Hex", "ABCDEF012345", ""}, kNow + 6);
    std::string all[] = {dell, percent, underscore, quotes, backslash, hostile, twelveHex};
    std::string lower = dell; // "zeq1a2b3c4d5e6f"
    lower.erase(std::remove(lower.begin(), lower.end(), '-'), lower.end());
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string spaced = dell; // "ZEQ 1A2B 3C4D 5E6F"
    std::replace(spaced.begin(), spaced.end(), '-', ' ');

    struct Case {
        std::vector<std::string> searches;
        std::set<std::string> expected;
        bool byCode = false;
    };
    const Case cases[] = {
        {{dell, lower, " " + spaced + " ", lower.substr(3)}, {dell}, true},
        {{"ZEQ-0000-0000-0000"}, {}},
        {{"dell", "DELL INC", "optiplex", "7b5qkm2", "QKM", "  Dell  "}, {dell}},
        {{"%", "100%"}, {percent}},
        {{"_", "l_X"}, {underscore}},
        {{"'"}, {quotes, hostile}},
        {{"O'Neil", "\"Systems\""}, {quotes}},
        {{"\\", "h\\B"}, {backslash}},
        {{"'); DROP TABLE reports;--", "<script>"}, {hostile}},
        {{"acme"}, {percent, underscore, backslash, twelveHex}},
        {{"ac-"}, {percent, underscore, backslash}},
        // Twelve hexadecimal digits that are no stored code: a serial number.
        {{"abcdef012345"}, {twelveHex}},
        {{"Lenovo", "%%", "__"}, {}},
        // Last: still all there after the searches above.
        {{""}, {all, all + std::size(all)}},
    };
    for (const Case& c : cases) {
        for (const std::string& search : c.searches) {
            ListPage page = reader_.list({search, {}, {}});
            std::vector<std::string> found = codesOf(page.reports);
            EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), c.expected) << search;
            EXPECT_EQ(page.foundByCode, c.byCode) << search;
        }
    }
}

TEST_F(ReportSearch, PagesGoNewestFirstFiftyAtATimeBothWaysAlsoWhenSearched) {
    std::vector<std::string> codes; // oldest first
    for (int i = 0; i < 120; ++i) {
        // Pairs received in the same second: the code orders them.
        codes.push_back(
            add(i % 2 ? Machine{"HP", "ProBook", "", ""} : Machine{"Dell Inc.", "Latitude", "", ""},
                kNow + i / 2));
    }
    std::vector<std::string> newestFirst, latitudesNewestFirst;
    for (std::size_t i = codes.size(); i > 0; i -= 2) {
        auto [low, high] = std::minmax(codes[i - 2], codes[i - 1]);
        newestFirst.insert(newestFirst.end(), {high, low});
        latitudesNewestFirst.push_back(codes[i - 2]);
    }
    // Every page of a search from the newest on, and the codes on them.
    auto walk = [&](const std::string& search, std::vector<std::string>& listed) {
        std::vector<ListPage> pages{reader_.list({search, {}, {}})};
        while (pages.back().older) {
            pages.push_back(reader_.list({search, pages.back().older, {}}));
        }
        for (const ListPage& page : pages) {
            std::vector<std::string> onPage = codesOf(page.reports);
            listed.insert(listed.end(), onPage.begin(), onPage.end());
        }
        return pages;
    };
    std::vector<std::string> listed, latitudes;
    std::vector<ListPage> pages = walk("", listed);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_FALSE(pages[0].newer);
    EXPECT_EQ(pages[0].reports.size(), 50u);
    EXPECT_EQ(pages[1].reports.size(), 50u);
    EXPECT_EQ(listed, newestFirst);
    std::vector<ListPage> searched = walk("latitude", latitudes);
    ASSERT_EQ(searched.size(), 2u);
    EXPECT_EQ(searched[0].reports.size(), 50u);
    EXPECT_EQ(latitudes, latitudesNewestFirst);

    // A report arriving meanwhile does not shift the pages already cut.
    add({"Acme", "Box", "", ""}, kNow + 1000);
    EXPECT_EQ(reader_.list({"", pages[0].older, {}}).reports.front().code,
              pages[1].reports.front().code);
    // Back from the last page: the same pages again.
    ListPage back = reader_.list({"", {}, pages[2].newer});
    EXPECT_EQ(codesOf(back.reports), codesOf(pages[1].reports));
    ASSERT_TRUE(back.older);
    ASSERT_TRUE(back.newer);
}

TEST_F(ReportSearch, OtherReportsOfTheSameMachineAndOnlyThose) {
    const char* stock = "03000200-0400-0500-0006-000700080009";
    const char* zeros = "00000000-0000-0000-0000-000000000000";
    const Machine office{"Dell Inc.", "OptiPlex 7050", "7B5QKM2",
                         "4C4C4544-0042-3510-8051-B7C04F4B4D32"};
    const Machine oem{"To be filled by O.E.M.", "To be filled by O.E.M.", "Default string", stock};
    std::string office1 = add(office, kNow), office2 = add(office, kNow + 1);
    // The same serial from another UUID is another machine.
    std::string clash = add(
        {office.manufacturer, office.model, office.serial, "4C4C4544-0042-3510-8051-B7C04F4B4D33"},
        kNow + 2);
    // The same UUID in lower case, the serial left out by the firmware: the same machine.
    std::string office3 = add({office.manufacturer, office.model, "Default string",
                               "4c4c4544-0042-3510-8051-b7c04f4b4d32"},
                              kNow + 3);
    // Boards sharing every placeholder are not one machine.
    std::string budget1 = add(oem, kNow + 4), budget2 = add(oem, kNow + 5);
    // A placeholder UUID with a real serial: found by the serial.
    std::string serialOnly1 = add({"Acme", "Box", "SN-42", stock}, kNow + 8);
    std::string serialOnly2 = add({"Acme", "Box", "SN-42", zeros}, kNow + 9);

    // Newest first.
    EXPECT_EQ(codesOf(reader_.sameMachine(office1)), (std::vector{office3, office2}));
    EXPECT_EQ(codesOf(reader_.sameMachine(office3)), (std::vector{office2, office1}));
    EXPECT_EQ(codesOf(reader_.sameMachine(serialOnly1)), std::vector{serialOnly2});
    for (const std::string& alone : {clash, budget1, budget2, std::string("ZEQ-0000-0000-0000")}) {
        EXPECT_TRUE(reader_.sameMachine(alone).empty()) << alone;
    }
}

TEST(ReportReaderOpening, NeedsAnExistingDatabaseAndCreatesNone) {
    test::TempDir empty;
    EXPECT_THROW(ReportReader(empty.file("missing.db")), StoreError);
    EXPECT_FALSE(std::ifstream(empty.file("missing.db")).good());
}

} // namespace
} // namespace zeq
