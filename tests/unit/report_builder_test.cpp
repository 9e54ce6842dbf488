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
#include "report/wmi_section.h"
#include "shared/app_state.h"
#include "support/compact_json.h"
#include "support/fake_wmi.h"

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
// The WMI sections as the report defines them, each asked of a WMI that always
// has one more instance to give: what reaches WMI is the section's namespace and
// query, and the section stops at its row limit with the partial-listing note.

struct CatalogueRow {
    const char* title;
    const char* wmiNamespace;
    const char* query;
    size_t maxRows;
};

const CatalogueRow kCatalogue[] = {
    {"Equipo", "ROOT\\CIMV2",
     "SELECT Manufacturer,Model,SystemType,TotalPhysicalMemory,NumberOfProcessors,"
     "NumberOfLogicalProcessors FROM Win32_ComputerSystem",
     4},
    {"Identificación", "ROOT\\CIMV2",
     "SELECT Vendor,Name,Version,IdentifyingNumber,UUID FROM Win32_ComputerSystemProduct", 4},
    {"Windows", "ROOT\\CIMV2",
     "SELECT Caption,Version,BuildNumber,OSArchitecture,InstallDate,LastBootUpTime,"
     "FreePhysicalMemory,TotalVisibleMemorySize,FreeVirtualMemory,TotalVirtualMemorySize FROM "
     "Win32_OperatingSystem",
     4},
    {"Procesador", "ROOT\\CIMV2",
     "SELECT Name,Manufacturer,NumberOfCores,NumberOfLogicalProcessors,MaxClockSpeed,"
     "CurrentClockSpeed,LoadPercentage,L2CacheSize,L3CacheSize,SocketDesignation,AddressWidth "
     "FROM Win32_Processor",
     8},
    {"Memoria RAM", "ROOT\\CIMV2",
     "SELECT Manufacturer,PartNumber,SerialNumber,Capacity,Speed,MemoryType,FormFactor,"
     "DeviceLocator,BankLabel FROM Win32_PhysicalMemory",
     64},
    {"Bancos de memoria", "ROOT\\CIMV2",
     "SELECT MemoryDevices,MaxCapacity,Location FROM Win32_PhysicalMemoryArray", 16},
    {"Placa base", "ROOT\\CIMV2",
     "SELECT Manufacturer,Product,Version,SerialNumber FROM Win32_BaseBoard", 8},
    {"BIOS", "ROOT\\CIMV2",
     "SELECT Manufacturer,SMBIOSBIOSVersion,ReleaseDate,SerialNumber,Version FROM Win32_BIOS", 8},
    {"Gráfica", "ROOT\\CIMV2",
     "SELECT Name,AdapterRAM,DriverVersion,DriverDate,VideoProcessor,CurrentHorizontalResolution,"
     "CurrentVerticalResolution,CurrentRefreshRate,Status FROM Win32_VideoController",
     16},
    {"Pantallas", "ROOT\\CIMV2",
     "SELECT Name,MonitorManufacturer,MonitorType,ScreenWidth,ScreenHeight,Status FROM "
     "Win32_DesktopMonitor",
     16},
    {"Discos físicos", "ROOT\\CIMV2",
     "SELECT Model,SerialNumber,Size,InterfaceType,MediaType,FirmwareRevision,Status,Partitions,"
     "Index FROM Win32_DiskDrive",
     32},
    {"Volúmenes", "ROOT\\CIMV2",
     "SELECT DeviceID,FileSystem,Size,FreeSpace,Status FROM Win32_LogicalDisk WHERE DriveType=3",
     32},
    {"Particiones", "ROOT\\CIMV2",
     "SELECT DiskIndex,Index,Size,StartingOffset,Type,BootPartition,PrimaryPartition FROM "
     "Win32_DiskPartition",
     64},
    {"SMART", "ROOT\\WMI",
     "SELECT InstanceName,PredictFailure,Reason FROM MSStorageDriver_FailurePredictStatus", 32},
    {"Salud de discos (Windows moderno)", "ROOT\\Microsoft\\Windows\\Storage",
     "SELECT FriendlyName,SerialNumber,MediaType,BusType,Size,HealthStatus FROM MSFT_PhysicalDisk",
     32},
    {"Fiabilidad de discos (Windows moderno)", "ROOT\\Microsoft\\Windows\\Storage",
     "SELECT DeviceId,Temperature,TemperatureMax,Wear,PowerOnHours,ReadErrorsTotal,"
     "WriteErrorsTotal FROM MSFT_StorageReliabilityCounter",
     32},
    {"Batería", "ROOT\\CIMV2",
     "SELECT Name,Status,BatteryStatus,EstimatedChargeRemaining,EstimatedRunTime,DesignCapacity,"
     "FullChargeCapacity,DesignVoltage FROM Win32_Battery",
     8},
    {"Temperatura ACPI (no necesariamente CPU)", "ROOT\\WMI",
     "SELECT InstanceName,CurrentTemperature,CriticalTripPoint FROM MSAcpi_ThermalZoneTemperature",
     16},
    {"Adaptadores de red", "ROOT\\CIMV2",
     "SELECT Name,Manufacturer,AdapterType,Speed,NetConnectionStatus FROM Win32_NetworkAdapter "
     "WHERE PhysicalAdapter=True",
     32},
    {"Sonido", "ROOT\\CIMV2", "SELECT Name,Manufacturer,Status FROM Win32_SoundDevice", 32},
    {"Dispositivos con errores", "ROOT\\CIMV2",
     "SELECT Name,Manufacturer,PNPClass,ConfigManagerErrorCode,Status FROM Win32_PnPEntity WHERE "
     "ConfigManagerErrorCode<>0",
     100},
    {"Controladores", "ROOT\\CIMV2",
     "SELECT DeviceName,DeviceClass,Manufacturer,DriverVersion,DriverDate,IsSigned FROM "
     "Win32_PnPSignedDriver",
     300},
    {"Actualizaciones", "ROOT\\CIMV2",
     "SELECT HotFixID,Description,InstalledOn FROM Win32_QuickFixEngineering", 200},
    {"Seguridad", "ROOT\\SecurityCenter2", "SELECT displayName,productState FROM AntiVirusProduct",
     16},
    // The system events, for a build on 7 March 2024 at 10:00:05 UTC.
    {"Eventos del sistema (últimos 7 días, máximo 80)", "ROOT\\CIMV2",
     "SELECT EventCode,SourceName,TimeGenerated,Type FROM Win32_NTLogEvent WHERE "
     "Logfile='System' AND (EventType=1 OR EventType=2) AND "
     "TimeGenerated>='20240229000000.000000+000'",
     80},
};
const size_t kWmiSections = ARRAYSIZE(kCatalogue);

const char kPartialListing[] = "Listado parcial: límite de registros o tiempo alcanzado.";

BOOL WINAPI StandardUser() {
    return FALSE;
}

// Any non-zero answer means an administrator.
BOOL WINAPI Administrator() {
    return 2;
}

// A whole report built against the fake WMI, on the fixed clock unless another
// is given; its bytes.
std::string BuildWithFakeWmi(FakeWmi* world, BOOL(WINAPI* adminTest)(),
                             const ReportClock* clock = &kFixedClock) {
    FakeClassObject* instance = world->NewInstance();
    instance->Add(L"N", I4Value(1));
    size_t fetches = 0;
    for (const CatalogueRow& row : kCatalogue) {
        fetches += row.maxRows + 1;
    }
    for (size_t i = 0; i < fetches; ++i) {
        world->Deliver(instance);
    }
    HRESULT (*systemLocator)(IWbemLocator**) = createWbemLocator;
    DWORD (*systemTickCount)() = wmiTickCount;
    fakeWmi = world;
    createWbemLocator = CreateFakeWbemLocator;
    wmiTickCount = FakeWmiTickCount;
    administratorTest = adminTest;
    reportClock = clock;
    fixedTime = Utc(2024, 3, 7, 10, 0, 5);

    ReportBuffer buffer = {};
    BuildReport(&buffer);

    reportClock = &kSystemClock;
    administratorTest = IsUserAnAdmin;
    createWbemLocator = systemLocator;
    wmiTickCount = systemTickCount;
    fakeWmi = NULL;
    EXPECT_FALSE(buffer.failed);
    std::string bytes = buffer.data == NULL ? "" : std::string(buffer.data, buffer.length);
    ResetBuffer(&buffer);
    EXPECT_EQ("", world->Unreleased());
    EXPECT_TRUE(world->unexpected.empty());
    return bytes;
}

TEST(SectionCatalogueTest, EachWmiSectionAsksItsNamespaceAndQueryAndStopsAtItsRowLimit) {
    FakeWmi world;
    std::string bytes = BuildWithFakeWmi(&world, StandardUser);

    JsonValue document;
    std::string error;
    ASSERT_TRUE(ParseCompactJson(bytes.data(), bytes.size(), &document, &error)) << error;
    const JsonValue* sections = document.Find("sections");
    ASSERT_TRUE(sections != nullptr && sections->items.size() == kWmiSections + 1);
    ASSERT_EQ(kWmiSections, world.locator.resources.size());
    ASSERT_EQ(kWmiSections, world.services.queryTexts.size());
    for (size_t i = 0; i < kWmiSections; ++i) {
        const CatalogueRow& expected = kCatalogue[i];
        SCOPED_TRACE(expected.title);
        const JsonValue& section = sections->items[i];
        const JsonValue* name = section.Find("name");
        const JsonValue* rows = section.Find("rows");
        const JsonValue* note = section.Find("error");
        ASSERT_TRUE(name != nullptr && rows != nullptr && note != nullptr);
        EXPECT_EQ(expected.title, name->text);
        EXPECT_EQ(expected.wmiNamespace, Utf8(world.locator.resources[i].c_str()));
        EXPECT_EQ(expected.query, Utf8(world.services.queryTexts[i].c_str()));
        EXPECT_EQ(expected.maxRows, rows->items.size());
        EXPECT_EQ(kPartialListing, note->text);
    }
    EXPECT_EQ("Programas instalados", sections->items.back().Find("name")->text);
}

// Wine answers the shell's administrator test with yes for every program.
TEST(SectionCatalogueTest, ElevatedIsTheBareAnswerOfTheAdministratorTest) {
    const struct {
        BOOL(WINAPI* adminTest)();
        const char* elevated;
    } cases[] = {{StandardUser, "false"}, {Administrator, "true"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elevated);
        FakeWmi world;
        std::string bytes = BuildWithFakeWmi(&world, c.adminTest);
        const std::string head =
            "{\"schema_version\":1,\"client_version\":\"1.0.0\",\"consent\":true,\"report_id\":\"";
        const std::string tail =
            "\",\"collected_at\":\"2024-03-07T10:00:05Z\",\"elevated\":" + std::string(c.elevated) +
            ",\"sections\":[{\"name\":\"Equipo\"";
        ASSERT_EQ(head, bytes.substr(0, head.size()));
        // The 36 characters of the report identifier lie between the two.
        EXPECT_EQ(tail, bytes.substr(head.size() + 36, tail.size()));
    }
}

// On the real clock the events date is the UTC date seven days back, whatever the
// local zone. The suite runs once 14 hours east of UTC and once 11 hours west of
// it (tests/CMakeLists.txt): at any hour of the day one of the two local dates
// differs from the UTC date, so a date read from local time fails one of them.
// (collected_at, which carries the hour, is checked on the real clock below.)
TEST(ReportClockTest, EventsDateIsTheUtcDateSevenDaysBack) {
    TIME_ZONE_INFORMATION zone = {};
    GetTimeZoneInformation(&zone);
    ASSERT_NE(0, zone.Bias) << "the suite must run in a local zone other than UTC (TZ)";

    SYSTEMTIME before;
    GetSystemTime(&before);
    FakeWmi world;
    BuildWithFakeWmi(&world, StandardUser, &kSystemClock);
    SYSTEMTIME after;
    GetSystemTime(&after);

    ASSERT_EQ(kWmiSections, world.services.queryTexts.size());
    std::string query = Utf8(world.services.queryTexts.back().c_str());
    const std::string lead = "TimeGenerated>='";
    size_t at = query.find(lead);
    ASSERT_NE(std::string::npos, at) << query;
    std::string date = query.substr(at + lead.size(), 8);
    std::vector<std::string> expected;
    for (const SYSTEMTIME& now : {before, after}) {
        FILETIME time;
        SystemTimeToFileTime(&now, &time);
        ULARGE_INTEGER units = {{time.dwLowDateTime, time.dwHighDateTime}};
        units.QuadPart -= 7ULL * 24 * 3600 * 10000000;
        time.dwLowDateTime = units.LowPart;
        time.dwHighDateTime = units.HighPart;
        SYSTEMTIME weekAgo;
        FileTimeToSystemTime(&time, &weekAgo);
        char text[16];
        wsprintfA(text, "%04d%02d%02d", weekAgo.wYear, weekAgo.wMonth, weekAgo.wDay);
        expected.push_back(text);
    }
    EXPECT_TRUE(date == expected[0] || date == expected[1])
        << date << " is not the UTC date " << expected[0];
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
    for (const CatalogueRow& section : kCatalogue) {
        expected.push_back(section.title);
    }
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
    for (size_t i = 0; i < kWmiSections - 1; ++i) {
        std::string query = Lower(kCatalogue[i].query);
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
                    << kCatalogue[i].title << ": " << key;
            }
        }
    }
    // Wine answers at least Win32_ComputerSystem, Win32_OperatingSystem and Win32_Processor.
    EXPECT_GE(sectionsWithRows, 3);
}

} // namespace
