// The technician's list read through its own connection: newest first, a page
// at a time, searched by receipt code however it is typed or by text in the
// machine's manufacturer, model and serial number; and the other reports of
// the same machine, where placeholders identify nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "findings/machine_identity.h"
#include "store/receipt_code.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"

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

class ReportSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        store_ = std::make_unique<ReportStore>(path(), ReportStore::Access::Service);
    }
    std::string path() const {
        return dir_.file("reports.db");
    }
    ReportReader& reader() {
        if (!reader_) {
            reader_ = std::make_unique<ReportReader>(path());
        }
        return *reader_;
    }
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
        StoreOutcome outcome = store_->store(id, body, receivedAt, "203.0.113.5");
        EXPECT_EQ(outcome.result, StoreResult::Stored);
        return outcome.code;
    }
    std::set<std::string> found(const std::string& search) {
        std::set<std::string> codes;
        for (const ListedReport& report : reader().list({search, {}, {}}).reports) {
            codes.insert(report.code);
        }
        return codes;
    }
    std::set<std::string> others(const std::string& code) {
        std::set<std::string> codes;
        for (const ListedReport& report : reader().sameMachine(code)) {
            codes.insert(report.code);
        }
        return codes;
    }

    test::TempDir dir_;
    std::unique_ptr<ReportStore> store_;
    std::unique_ptr<ReportReader> reader_;
};

TEST(ReceiptCodeTyped, HoweverItIsTypedItIsTheSameCode) {
    struct Case {
        const char* typed;
        const char* code; // nullptr: not a code
    };
    const Case cases[] = {
        {"ZEQ-1A2B-3C4D-5E6F", "ZEQ-1A2B-3C4D-5E6F"},
        {"zeq-1a2b-3c4d-5e6f", "ZEQ-1A2B-3C4D-5E6F"},
        {"zeq1a2b3c4d5e6f", "ZEQ-1A2B-3C4D-5E6F"},
        {"ZEQ 1A2B 3C4D 5E6F", "ZEQ-1A2B-3C4D-5E6F"},
        {"  zeq 1a2b-3c4d 5e6f\t", "ZEQ-1A2B-3C4D-5E6F"},
        {"z e q 1 a 2 b 3 c 4 d 5 e 6 f", "ZEQ-1A2B-3C4D-5E6F"},
        {"1a2b3c4d5e6f", "ZEQ-1A2B-3C4D-5E6F"},
        {"1A2B-3C4D-5E6F", "ZEQ-1A2B-3C4D-5E6F"},
        {"ZEQ--1A2B--3C4D--5E6F", "ZEQ-1A2B-3C4D-5E6F"},
        {"", nullptr},
        {"ZEQ", nullptr},
        {"ZEQ-1A2B-3C4D-5E6", nullptr},       // a digit short
        {"ZEQ-1A2B-3C4D-5E6F0", nullptr},     // a digit more
        {"ZEQ-1A2B-3C4D-5E6G", nullptr},      // not hexadecimal
        {"ZEX-1A2B-3C4D-5E6F", nullptr},      // another prefix
        {"ZEQ-1A2B-3C4D-5E6F-0000", nullptr}, // far too long
        {"ZEQ_1A2B_3C4D_5E6F", nullptr},
        {"ZEQ-1A2B-3C4D-5E6\xC3\xA9", nullptr},
        {"Dell OptiPlex", nullptr},
    };
    for (const Case& c : cases) {
        std::optional<std::string> code = receiptCodeFrom(c.typed);
        if (c.code == nullptr) {
            EXPECT_FALSE(code) << c.typed;
        } else {
            EXPECT_EQ(code, c.code) << c.typed;
        }
    }
}

TEST(PlaceholderIdentity, StockValuesIdentifyNoMachine) {
    struct Case {
        const char* uuid;
        bool identifies;
    };
    const Case uuids[] = {
        {"03000200-0400-0500-0006-000700080009", false},
        {"00000000-0000-0000-0000-000000000000", false},
        {"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF", false},
        {"ffffffff-ffff-ffff-ffff-ffffffffffff", false},
        {"", false},
        {"not a uuid", false},
        {"4C4C4544-0042-3510-8051-B7C04F4B4D32", true},
        {"4c4c4544-0042-3510-8051-b7c04f4b4d32", true},
        {"03000200-0400-0500-0006-00070008000A", true}, // one digit off the stock one
    };
    for (const Case& c : uuids) {
        EXPECT_EQ(findings::machineUuid(c.uuid).has_value(), c.identifies) << c.uuid;
    }
    const Case serials[] = {
        {"To be filled by O.E.M.", false},
        {"TO BE FILLED BY O.E.M.", false},
        {"  Default string  ", false},
        {"System Serial Number", false},
        {"Chassis Serial Number", false},
        {"Not Specified", false},
        {"0", false},
        {"00000000", false},
        {"", false},
        {"   ", false},
        {"7B5QKM2", true},
        {"PF3ABCDE", true},
        {"Default string 2", true},
        {"0001", true},
    };
    for (const Case& c : serials) {
        EXPECT_EQ(findings::machineSerial(c.uuid).has_value(), c.identifies) << c.uuid;
    }
    EXPECT_EQ(findings::machineUuid(" 4c4c4544-0042-3510-8051-b7c04f4b4d32 "),
              "4C4C4544-0042-3510-8051-B7C04F4B4D32");
}

TEST_F(ReportSearch, ACodeIsFoundHoweverItIsTyped) {
    std::string code = add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", ""}, kNow);
    add({"HP", "EliteBook 840 G5", "5CG8123XYZ", ""}, kNow + 1);
    std::string digits = code.substr(4, 4) + code.substr(9, 4) + code.substr(14, 4);
    std::string lower = digits;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const std::string& typed :
         {code, "zeq" + lower,
          "zeq-" + lower.substr(0, 4) + "-" + lower.substr(4, 4) + "-" + lower.substr(8),
          "ZEQ " + digits.substr(0, 4) + " " + digits.substr(4, 4) + " " + digits.substr(8), digits,
          " " + lower + " "}) {
        ListPage page = reader().list({typed, {}, {}});
        ASSERT_EQ(page.reports.size(), 1u) << typed;
        EXPECT_EQ(page.reports[0].code, code) << typed;
        EXPECT_TRUE(page.foundByCode) << typed;
    }
    EXPECT_TRUE(found("ZEQ-0000-0000-0000").empty());
}

TEST_F(ReportSearch, TextIsFoundInManufacturerModelAndSerialWithNoWildcards) {
    std::string dell = add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", ""}, kNow);
    std::string percent = add({"Acme", "Silent 100% Pro", "AC-1", ""}, kNow + 1);
    std::string underscore = add({"Acme", "Model_X", "AC-2", ""}, kNow + 2);
    std::string quotes = add({"O'Neil \"Systems\"", "Box", "ON-1", ""}, kNow + 3);
    std::string backslash = add({"Acme", "Path\\Box", "AC-3", ""}, kNow + 4);
    std::string hostile = add({"Robert'); DROP TABLE reports;--", "<script>", "X1", ""}, kNow + 5);
    std::string twelveHex = add({"Acme", "Hex", "ABCDEF012345", ""}, kNow + 6);
    std::string all[] = {dell, percent, underscore, quotes, backslash, hostile, twelveHex};

    struct Case {
        std::string search;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {"dell", {dell}},
        {"DELL INC", {dell}},
        {"optiplex", {dell}},
        {"7b5qkm2", {dell}},
        {"QKM", {dell}},
        {"  Dell  ", {dell}},
        {"%", {percent}},
        {"100%", {percent}},
        {"_", {underscore}},
        {"l_X", {underscore}},
        {"'", {quotes, hostile}},
        {"O'Neil", {quotes}},
        {"\"Systems\"", {quotes}},
        {"\\", {backslash}},
        {"h\\B", {backslash}},
        {"'); DROP TABLE reports;--", {hostile}},
        {"<script>", {hostile}},
        {"acme", {percent, underscore, backslash, twelveHex}},
        {"ac-", {percent, underscore, backslash}},
        // Twelve hexadecimal digits that are no stored code: a serial number.
        {"abcdef012345", {twelveHex}},
        {"Lenovo", {}},
        {"%%", {}},
        {"__", {}},
        {"", {all, all + std::size(all)}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(found(c.search), c.expected) << c.search;
    }
    // Still there after all that.
    EXPECT_EQ(reader().list({}).reports.size(), std::size(all));
}

TEST_F(ReportSearch, PagesGoNewestFirstFiftyAtATimeBothWays) {
    std::vector<std::string> codes; // oldest first
    for (int i = 0; i < 120; ++i) {
        // Pairs received in the same second: the code orders them.
        codes.push_back(add({"Acme", "Box", "", ""}, kNow + i / 2));
    }
    std::vector<std::string> newestFirst;
    ListPage page = reader().list({});
    std::vector<ListPage> pages{page};
    EXPECT_FALSE(page.newer);
    while (page.older) {
        page = reader().list({"", page.older, {}});
        pages.push_back(page);
    }
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].reports.size(), 50u);
    EXPECT_EQ(pages[1].reports.size(), 50u);
    EXPECT_EQ(pages[2].reports.size(), 20u);
    for (const ListPage& each : pages) {
        for (const ListedReport& report : each.reports) {
            newestFirst.push_back(report.code);
        }
    }
    ASSERT_EQ(newestFirst.size(), codes.size());
    for (std::size_t i = 1; i < newestFirst.size(); ++i) {
        ListedReport a = *reader().listed(newestFirst[i - 1]), b = *reader().listed(newestFirst[i]);
        EXPECT_TRUE(a.receivedAt > b.receivedAt ||
                    (a.receivedAt == b.receivedAt && a.code > b.code))
            << i;
    }
    EXPECT_EQ(std::set<std::string>(newestFirst.begin(), newestFirst.end()),
              std::set<std::string>(codes.begin(), codes.end()));

    // A report arriving meanwhile does not shift the pages already cut.
    add({"Acme", "Box", "", ""}, kNow + 1000);
    ListPage second = reader().list({"", pages[0].older, {}});
    EXPECT_EQ(second.reports.front().code, pages[1].reports.front().code);
    // Back from the last page: the same pages again.
    ListPage back = reader().list({"", {}, pages[2].newer});
    ASSERT_EQ(back.reports.size(), 50u);
    EXPECT_EQ(back.reports.front().code, pages[1].reports.front().code);
    EXPECT_EQ(back.reports.back().code, pages[1].reports.back().code);
    ASSERT_TRUE(back.older);
    ASSERT_TRUE(back.newer);
}

TEST_F(ReportSearch, ASearchIsPagedToo) {
    for (int i = 0; i < 60; ++i) {
        add({"Dell Inc.", "Latitude", "", ""}, kNow + 2 * i);
        add({"HP", "ProBook", "", ""}, kNow + 2 * i + 1);
    }
    ListPage first = reader().list({"latitude", {}, {}});
    ASSERT_EQ(first.reports.size(), 50u);
    ASSERT_TRUE(first.older);
    ListPage second = reader().list({"latitude", first.older, {}});
    EXPECT_EQ(second.reports.size(), 10u);
    EXPECT_FALSE(second.older);
    for (const ListPage* page : {&first, &second}) {
        for (const ListedReport& report : page->reports) {
            EXPECT_EQ(report.model, "Latitude");
        }
    }
}

TEST_F(ReportSearch, OtherReportsOfTheSameMachineAndOnlyThose) {
    const char* uuid = "4C4C4544-0042-3510-8051-B7C04F4B4D32";
    std::string office1 = add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", uuid}, kNow);
    std::string office2 = add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", uuid}, kNow + 1);
    // The same serial from another UUID is another machine.
    std::string clash =
        add({"Dell Inc.", "OptiPlex 7050", "7B5QKM2", "4C4C4544-0042-3510-8051-B7C04F4B4D33"},
            kNow + 2);
    // The same UUID in lower case, the serial left out by the firmware: the same machine.
    std::string office3 = add(
        {"Dell Inc.", "OptiPlex 7050", "Default string", "4c4c4544-0042-3510-8051-b7c04f4b4d32"},
        kNow + 3);
    // Budget boards sharing every placeholder are not one machine.
    std::string budget1 = add({"To be filled by O.E.M.", "To be filled by O.E.M.", "Default string",
                               "03000200-0400-0500-0006-000700080009"},
                              kNow + 4);
    std::string budget2 = add({"To be filled by O.E.M.", "To be filled by O.E.M.", "Default string",
                               "03000200-0400-0500-0006-000700080009"},
                              kNow + 5);
    std::string zeros1 = add({"System manufacturer", "System Product Name", "System Serial Number",
                              "00000000-0000-0000-0000-000000000000"},
                             kNow + 6);
    std::string zeros2 = add(
        {"System manufacturer", "System Product Name", "0", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
        kNow + 7);
    // A placeholder UUID with a real serial: found by the serial.
    std::string serialOnly1 =
        add({"Acme", "Box", "SN-42", "03000200-0400-0500-0006-000700080009"}, kNow + 8);
    std::string serialOnly2 =
        add({"Acme", "Box", "SN-42", "00000000-0000-0000-0000-000000000000"}, kNow + 9);

    EXPECT_EQ(others(office1), (std::set<std::string>{office2, office3}));
    EXPECT_EQ(others(office3), (std::set<std::string>{office1, office2}));
    EXPECT_TRUE(others(clash).empty());
    EXPECT_TRUE(others(budget1).empty());
    EXPECT_TRUE(others(budget2).empty());
    EXPECT_TRUE(others(zeros1).empty());
    EXPECT_TRUE(others(zeros2).empty());
    EXPECT_EQ(others(serialOnly1), (std::set<std::string>{serialOnly2}));
    EXPECT_TRUE(others("ZEQ-0000-0000-0000").empty());
    // Newest first.
    std::vector<ListedReport> same = reader().sameMachine(office1);
    ASSERT_EQ(same.size(), 2u);
    EXPECT_EQ(same[0].code, office3);
}

TEST(ReportReaderOpening, NeedsAnExistingDatabaseAndCreatesNone) {
    test::TempDir empty;
    EXPECT_THROW(ReportReader(empty.file("missing.db")), StoreError);
    EXPECT_FALSE(std::ifstream(empty.file("missing.db")).good());
}

} // namespace
} // namespace zeq
