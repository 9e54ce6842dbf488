// The whole report, built with real WMI and the real registry under Wine.
// A full build runs 25 WMI queries, so the suite makes two builds once and the
// tests look at them; the events query is checked through its formatter.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/report_builder.h"
#include "report/section_catalogue.h"
#include "shared/app_state.h"
#include "support/compact_json.h"

namespace {

std::string Utf8(const WCHAR* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, NULL, NULL);
    out.resize(size - 1);
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = (char)(c - 'A' + 'a');
        }
    }
    return text;
}

// ---------------------------------------------------------------------------
// The events query: seven days back, from midnight UTC of that date.

SYSTEMTIME fixedTime;

void WINAPI FixedSystemTime(LPSYSTEMTIME time) {
    *time = fixedTime;
}

void WINAPI FixedFileTime(LPFILETIME time) {
    SystemTimeToFileTime(&fixedTime, time);
}

const ReportClock kFixedClock = {FixedSystemTime, FixedFileTime};

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = 987;
    return time;
}

TEST(SystemEventsQueryTest, AsksForTheSystemLogSinceMidnightUtcSevenDaysBefore) {
    struct Case {
        SYSTEMTIME now;
        const char* since;
    };
    const Case cases[] = {
        {Utc(2024, 3, 7, 10, 0, 0), "20240229"},   // back over a leap day
        {Utc(2026, 3, 8, 0, 30, 0), "20260301"},   // February of a common year
        {Utc(2025, 1, 3, 12, 0, 0), "20241227"},   // back over a year boundary
        {Utc(2024, 3, 8, 0, 0, 0), "20240301"},    // exactly seven days
        {Utc(2024, 3, 7, 23, 59, 59), "20240229"}, // the whole UTC day counts
        {Utc(2024, 10, 9, 8, 0, 0), "20241002"},   // two-digit month, one-digit day
    };
    for (const Case& c : cases) {
        FILETIME now;
        ASSERT_TRUE(SystemTimeToFileTime(&c.now, &now));
        WCHAR query[kEventsQueryUnits];
        FormatSystemEventsQuery(&now, query);
        std::string expected =
            std::string("SELECT EventCode,SourceName,TimeGenerated,Type FROM Win32_NTLogEvent "
                        "WHERE Logfile='System' AND (EventType=1 OR EventType=2) AND "
                        "TimeGenerated>='") +
            c.since + "000000.000000+000'";
        EXPECT_EQ(expected, Utf8(query)) << c.since;
    }
}

// ---------------------------------------------------------------------------
// COM in the wrong apartment.

DWORD WINAPI BuildInSingleThreadedApartment(void* parameter) {
    HRESULT* laterInit = (HRESULT*)parameter;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    ReportBuffer buffer = {};
    BuildReport(&buffer);
    bool untouched = buffer.failed && buffer.length == 0 && buffer.data == NULL;
    // S_FALSE: the thread's own initialisation is still in place.
    *laterInit = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    CoUninitialize();
    CoUninitialize();
    return untouched ? 1 : 0;
}

TEST(ReportBuilderTest, ThreadInAnotherApartmentFailsWithoutAppendingOrUninitialising) {
    HRESULT laterInit = E_FAIL;
    HANDLE thread = CreateThread(NULL, 0, BuildInSingleThreadedApartment, &laterInit, 0, NULL);
    ASSERT_TRUE(thread != NULL);
    WaitForSingleObject(thread, INFINITE);
    DWORD untouched = 0;
    GetExitCodeThread(thread, &untouched);
    CloseHandle(thread);
    EXPECT_EQ(1u, untouched) << "failed must be set and nothing appended";
    EXPECT_EQ(S_FALSE, laterInit);
}

// ---------------------------------------------------------------------------
// Two full builds: one on the fixed clock into a buffer that already holds
// data and with a main window to post to, one on the real clock.

const char kEarlierData[] = "earlier data|";

const char* const kEventsTitle = "Eventos del sistema (últimos 7 días, máximo 80)";

struct Build {
    std::string bytes;
    bool failed;
    JsonValue document;
    bool parsed;
    std::string parseError;
    std::vector<std::string> statusTitles;
    DWORD milliseconds;
};

Build fixedBuild;
Build realBuild;
SYSTEMTIME realBefore;
SYSTEMTIME realAfter;

void RunBuild(ReportBuffer* buffer, size_t skip, Build* build) {
    DWORD start = GetTickCount();
    BuildReport(buffer);
    build->milliseconds = GetTickCount() - start;
    build->failed = buffer->failed;
    if (buffer->data != NULL) {
        build->bytes.assign(buffer->data, buffer->length);
    }
    ResetBuffer(buffer);
    build->parsed = build->bytes.size() >= skip &&
                    ParseCompactJson(build->bytes.data() + skip, build->bytes.size() - skip,
                                     &build->document, &build->parseError);
}

class FullBuildTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                      GetModuleHandleW(NULL), NULL);
        AppState.mainWindow = window;
        reportClock = &kFixedClock;
        fixedTime = Utc(2024, 3, 7, 10, 0, 5);
        ReportBuffer buffer = {};
        AppendLiteral(&buffer, kEarlierData);
        RunBuild(&buffer, strlen(kEarlierData), &fixedBuild);
        reportClock = &kSystemClock;
        AppState.mainWindow = NULL;
        MSG message;
        while (PeekMessageW(&message, window, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE)) {
            fixedBuild.statusTitles.push_back(Utf8((const WCHAR*)message.lParam));
        }
        DestroyWindow(window);

        GetSystemTime(&realBefore);
        RunBuild(&buffer, 0, &realBuild);
        GetSystemTime(&realAfter);

        printf("[ timing   ] full build: %lu ms with a window, %lu ms without\n",
               fixedBuild.milliseconds, realBuild.milliseconds);
    }

    static const JsonValue* Member(const Build& build, const char* key) {
        return build.document.Find(key);
    }

    static std::string ReportId(const Build& build) {
        const JsonValue* id = Member(build, "report_id");
        return id == nullptr ? std::string() : id->text;
    }

    static std::string Timestamp(const SYSTEMTIME& time) {
        char text[32];
        wsprintfA(text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond);
        return text;
    }
};

TEST_F(FullBuildTest, EnvelopeIsExactUpToTheSections) {
    ASSERT_FALSE(fixedBuild.failed);
    ASSERT_TRUE(fixedBuild.parsed) << fixedBuild.parseError;
    std::string id = ReportId(fixedBuild);
    std::string expected = std::string(kEarlierData) +
                           "{\"schema_version\":1,\"client_version\":\"1.0.0\",\"consent\":true,"
                           "\"report_id\":\"" +
                           id + "\",\"collected_at\":\"2024-03-07T10:00:05Z\",\"elevated\":" +
                           (IsUserAnAdmin() ? "true" : "false") + ",\"sections\":[{\"name\":";
    EXPECT_EQ(expected, fixedBuild.bytes.substr(0, expected.size()));
    EXPECT_EQ("]}", fixedBuild.bytes.substr(fixedBuild.bytes.size() - 2));
    EXPECT_EQ(std::vector<std::string>({"schema_version", "client_version", "consent", "report_id",
                                        "collected_at", "elevated", "sections"}),
              fixedBuild.document.Keys());
    EXPECT_EQ(JsonValue::Boolean, Member(fixedBuild, "elevated")->kind);
}

TEST_F(FullBuildTest, ReportIdIsTheBareUpperCaseGuidAndNewForEachBuild) {
    for (const Build* build : {&fixedBuild, &realBuild}) {
        std::string id = ReportId(*build);
        ASSERT_EQ(36u, id.size()) << id;
        for (size_t i = 0; i < id.size(); ++i) {
            if (i == 8 || i == 13 || i == 18 || i == 23) {
                EXPECT_EQ('-', id[i]) << id;
            } else {
                EXPECT_TRUE(strchr("0123456789ABCDEF", id[i]) != NULL && id[i] != '\0') << id;
            }
        }
    }
    EXPECT_NE(ReportId(fixedBuild), ReportId(realBuild));
}

TEST_F(FullBuildTest, CollectedAtIsTheUtcTimeOfTheBuild) {
    ASSERT_TRUE(realBuild.parsed) << realBuild.parseError;
    ASSERT_FALSE(realBuild.failed);
    std::string collectedAt = Member(realBuild, "collected_at")->text;
    EXPECT_EQ(20u, collectedAt.size());
    // Same fixed-width format: text order is time order.
    EXPECT_LE(Timestamp(realBefore), collectedAt);
    EXPECT_GE(Timestamp(realAfter), collectedAt);
    EXPECT_EQ(0u, realBuild.bytes.find("{\"schema_version\":1,"));
}

TEST_F(FullBuildTest, HoldsTheTwentySixSectionsInOrder) {
    std::vector<std::string> expected;
    for (const SectionSpec& section : SectionCatalogue) {
        expected.push_back(Utf8(section.title));
    }
    expected.push_back(kEventsTitle);
    expected.push_back("Programas instalados");
    ASSERT_EQ(26u, expected.size());

    for (const Build* build : {&fixedBuild, &realBuild}) {
        ASSERT_TRUE(build->parsed) << build->parseError;
        const JsonValue* sections = Member(*build, "sections");
        ASSERT_TRUE(sections != nullptr && sections->kind == JsonValue::Array);
        std::vector<std::string> names;
        for (const JsonValue& section : sections->items) {
            const JsonValue* name = section.Find("name");
            names.push_back(name == nullptr ? "(no name)" : name->text);
            std::vector<std::string> keys = section.Keys();
            EXPECT_TRUE(keys == std::vector<std::string>({"name", "rows"}) ||
                        keys == std::vector<std::string>({"name", "rows", "error"}))
                << names.back();
        }
        EXPECT_EQ(expected, names);
        const JsonValue* note = sections->items.back().Find("error");
        EXPECT_TRUE(note != nullptr && note->kind == JsonValue::String);
    }
    // Each collector announces its own section; the build announces nothing more.
    EXPECT_EQ(expected, fixedBuild.statusTitles);
}

// The catalogue's select lists reach WMI: rows of the sections Wine answers
// carry only selected properties (WMI spells some names its own way, and Wine
// leaves out the properties it does not know).
TEST_F(FullBuildTest, RowsCarryOnlyTheSelectedProperties) {
    ASSERT_TRUE(realBuild.parsed) << realBuild.parseError;
    const JsonValue* sections = Member(realBuild, "sections");
    ASSERT_TRUE(sections != nullptr && sections->items.size() == 26u);
    int sectionsWithRows = 0;
    for (int i = 0; i < kSectionCatalogueRows; ++i) {
        std::string query = Lower(Utf8(SectionCatalogue[i].query));
        ASSERT_EQ(0u, query.find("select "));
        std::string selected = "," + query.substr(7, query.find(" from ") - 7) + ",";
        const JsonValue* rows = sections->items[i].Find("rows");
        ASSERT_TRUE(rows != nullptr);
        if (!rows->items.empty()) {
            ++sectionsWithRows;
        }
        for (const JsonValue& row : rows->items) {
            EXPECT_FALSE(row.members.empty());
            for (const std::string& key : row.Keys()) {
                EXPECT_NE(std::string::npos, selected.find("," + Lower(key) + ","))
                    << Utf8(SectionCatalogue[i].title) << ": " << key;
            }
        }
    }
    // Wine answers at least Win32_ComputerSystem, Win32_OperatingSystem and Win32_Processor.
    EXPECT_GE(sectionsWithRows, 3);
}

} // namespace
