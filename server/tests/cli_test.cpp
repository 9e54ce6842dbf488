// The technician's commands on the server machine: list, show (and show
// --text), delete, purge.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/clock.h"
#include "store/report_store.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

const std::string kBinary = ZEQ_SERVER_BINARY;

class TechnicianCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ReportStore store(db(), ReportStore::Access::Service);
        std::int64_t now = systemSeconds();
        for (std::int64_t age : {40, 20, 1}) {
            std::string id = test::newReportId();
            // Bytes a terminal would mangle: the command must pass them through.
            std::string body = test::sampleReport(id, 8000) + std::string("\0\xC3\xA9\r\n", 5);
            codes_.push_back(store.store(id, body, now - age * 86400, "203.0.113.7").code);
            bodies_.push_back(body);
            ids_.push_back(id);
        }
    }
    std::string db() const {
        return dir_.file("reports.db");
    }
    int run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
        args.insert(args.begin(), kBinary);
        args.insert(args.end(), {"--db", db()});
        return test::runProgram(args, out, err);
    }

    test::TempDir dir_;
    std::vector<std::string> codes_, bodies_, ids_;
};

TEST_F(TechnicianCommands, ShowWritesTheStoredBytesExactly) {
    std::string out;
    for (std::size_t i = 0; i < codes_.size(); ++i) {
        ASSERT_EQ(run({"show", codes_[i]}, &out), 0);
        EXPECT_TRUE(out == bodies_[i]) << codes_[i];
    }
    std::string lower = codes_[0];
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_EQ(run({"show", lower}, &out), 0);
    EXPECT_TRUE(out == bodies_[0]);
}

TEST_F(TechnicianCommands, ShowRefusesUnknownAndMalformedCodes) {
    std::string out, err;
    EXPECT_EQ(run({"show", "ZEQ-0000-0000-0000"}, &out, &err), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("ZEQ-0000-0000-0000"), std::string::npos);
    EXPECT_EQ(run({"show", "ZEQ-0000"}, &out, &err), 2);
    EXPECT_EQ(run({"show"}, &out, &err), 2);
}

TEST_F(TechnicianCommands, ListShowsEveryReportOldestFirst) {
    std::string out;
    ASSERT_EQ(run({"list"}, &out), 0);
    std::size_t header = out.find("RECIBO");
    std::size_t a = out.find(codes_[0]), b = out.find(codes_[1]), c = out.find(codes_[2]);
    ASSERT_NE(header, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(header, a);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(out.find(ids_[1]), std::string::npos);
    EXPECT_NE(out.find("203.0.113.7"), std::string::npos);
    EXPECT_NE(out.find(std::to_string(bodies_[2].size())), std::string::npos);
}

TEST_F(TechnicianCommands, PurgeDeletesReportsOlderThanTheDaysGiven) {
    std::string out;
    ASSERT_EQ(run({"purge", "--older-than", "30"}, &out), 0);
    EXPECT_NE(out.find("Borrados 1 informes"), std::string::npos) << out;
    ASSERT_EQ(run({"purge", "--older-than=10"}, &out), 0);
    EXPECT_NE(out.find("Borrados 1 informes"), std::string::npos) << out;
    EXPECT_FALSE(test::findListed(db(), codes_[0]));
    EXPECT_FALSE(test::findListed(db(), codes_[1]));
    EXPECT_TRUE(test::findListed(db(), codes_[2]));
    EXPECT_EQ(run({"purge"}), 2);
    EXPECT_EQ(run({"purge", "--older-than", "-1"}), 2);
    EXPECT_EQ(run({"purge", "--older-than", "diez"}), 2);
    for (const char* days : {"", "+1", " 1", "1 ", "36501", "99999999999999999999999", "0x10"}) {
        std::string err;
        EXPECT_EQ(run({"purge", "--older-than", days}, nullptr, &err), 2) << days;
        EXPECT_NE(err.find("entre 0 y 36500"), std::string::npos) << err;
    }
    EXPECT_EQ(test::storedReports(db()), 1);
    ASSERT_EQ(run({"purge", "--older-than", "36500"}, &out), 0);
    EXPECT_NE(out.find("Borrados 0 informes"), std::string::npos) << out;
}

TEST_F(TechnicianCommands, DeleteRemovesOneReport) {
    EXPECT_EQ(run({"delete", codes_[1]}), 0);
    EXPECT_EQ(run({"delete", codes_[1]}), 1);
    EXPECT_EQ(test::storedReports(db()), 2);
    EXPECT_FALSE(test::findListed(db(), codes_[1]));
}

TEST_F(TechnicianCommands, AMissingDatabaseIsNotCreated) {
    std::string err;
    std::string missing = dir_.file("missing.db");
    EXPECT_EQ(test::runProgram({kBinary, "list", "--db", missing}, nullptr, &err), 1);
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(TechnicianCommands, UsageMistakesExitWithTwo) {
    std::string out, err;
    EXPECT_EQ(test::runProgram({kBinary}, &out, &err), 2);
    EXPECT_EQ(test::runProgram({kBinary, "frobnicate"}, &out, &err), 2);
    EXPECT_NE(err.find("orden desconocida"), std::string::npos);
    EXPECT_EQ(test::runProgram({kBinary, "list", "extra"}, &out, &err), 2);
    EXPECT_EQ(test::runProgram({kBinary, "list", "--port", "1"}, &out, &err), 2);
    EXPECT_EQ(test::runProgram({kBinary, "--help"}, &out, &err), 0);
    EXPECT_NE(out.find("purge --older-than"), std::string::npos);
}

// A fixture's report stored as the tool writes it (one line), its receipt code.
std::string storeFixture(const std::string& db, const std::string& fixture,
                         const std::string& extra = "") {
    nlohmann::json report = nlohmann::json::parse(test::fixtureText(fixture));
    if (!extra.empty()) {
        report["sections"][0]["rows"][0]["Model"] = extra;
    }
    ReportStore store(db, ReportStore::Access::Service);
    return store
        .store(report["report_id"].get<std::string>(), report.dump(), systemSeconds(),
               "198.51.100.4")
        .code;
}

TEST_F(TechnicianCommands, ShowTextGivesFindingsThenSectionsInReadableUnits) {
    std::string code = storeFixture(db(), "windows11_budget_laptop.json");
    std::string out;
    ASSERT_EQ(run({"show", code, "--text"}, &out), 0);
    std::size_t findings = out.find("HALLAZGOS: 3 críticos, 3 avisos, 2 informativos");
    std::size_t first = out.find("[crítico] Espacio libre crítico en C:, quedan 1,4 GiB");
    std::size_t sections = out.find("SECCIONES");
    ASSERT_NE(findings, std::string::npos) << out;
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_NE(sections, std::string::npos);
    EXPECT_LT(findings, first);
    EXPECT_LT(first, sections);
    EXPECT_EQ(out.find("Informe " + code), 0u);
    EXPECT_NE(out.find("    Volúmenes, fila 1, FreeSpace: 1,4 GiB (1,2 %)"), std::string::npos);
    EXPECT_NE(out.find("  Qué hacer: "), std::string::npos);
    // Sections in readable units: bytes, tenths of a kelvin, DMTF dates,
    // productState, sí/no, enumerations.
    for (const char* line : {
             "== 12. Volúmenes ==",
             "    Size: 126,9 GB (118,2 GiB)",
             "    CurrentTemperature: 55,05 °C",
             "    LastBootUpTime: 15/09/2026 08:57 (UTC+02:00)",
             "    productState: activado, firmas al día [266240]",
             "    PredictFailure: no",
             "    BusType: NVMe [17]",
             "    InstalledOn: 09/09/2026",
             "    UUID: 03000200-0400-0500-0006-000700080009",
             "== 26. Programas instalados ==",
             "  Nota: Inventario HKLM",
         }) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
}

TEST_F(TechnicianCommands, ShowTextLetsNoControlCharacterReachTheTerminal) {
    std::string code = storeFixture(db(), "windows10_office_desktop.json",
                                    "\x1b]0;pwned\x07\x1b[2J<b>OptiPlex</b>");
    std::string out;
    ASSERT_EQ(run({"show", code, "--text"}, &out), 0);
    for (char c : out) {
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
    }
    EXPECT_NE(out.find("<b>OptiPlex</b>"), std::string::npos);
    EXPECT_NE(out.find("== 14. SMART ==\n  Nota: No disponible: WMI 0x80041003."),
              std::string::npos);
}

TEST_F(TechnicianCommands, ShowTextOfBytesThatAreNotAReport) {
    std::string code;
    {
        ReportStore store(db(), ReportStore::Access::Service);
        code = store.store(test::newReportId(), "{\"sections\": [\x1b[2J", systemSeconds(), "::1")
                   .code;
    }
    std::string out, err;
    ASSERT_EQ(run({"show", code, "--text"}, &out), 0);
    EXPECT_NE(out.find("[info] El informe guardado no se puede leer como JSON"), std::string::npos)
        << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run({"show", code, "--text=1"}, &out, &err), 2);
    EXPECT_NE(err.find("--text no lleva valor"), std::string::npos);
    EXPECT_EQ(run({"show", code, "--text", "--text"}, &out, &err), 2);
    EXPECT_EQ(run({"list", "--text"}, &out, &err), 2);
}

} // namespace
} // namespace zeq
