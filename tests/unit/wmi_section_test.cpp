#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "report/wmi_section.h"
#include "shared/app_state.h"
#include "support/fake_wmi.h"
#include "support/task_memory_spy.h"
#include "support/test_heap.h"
#include "support/wmi_section_texts.h"

namespace {

std::string Section(const std::string& rows, const std::string& tail = "",
                    const std::string& name = "Discos") {
    return "{\"name\":\"" + name + "\",\"rows\":[" + rows + "]" + tail + "}";
}

// Rows {"N":"first"},...,{"N":"last"} as FakeWmi::DeliverNumbered scripts them.
std::string NumberedRows(int first, int last) {
    std::string rows;
    for (int i = first; i <= last; ++i) {
        rows += (i == first ? "" : ",") + std::string("{\"N\":\"") + std::to_string(i) + "\"}";
    }
    return rows;
}

std::string Join(const std::vector<std::string>& items) {
    std::string all;
    for (const auto& item : items) {
        all += item + " ";
    }
    return all;
}

// The calls of the WMI sequence, without the reference-count traffic.
std::vector<std::string> Steps(const std::vector<std::string>& calls) {
    std::vector<std::string> steps;
    for (const auto& call : calls) {
        if (call.compare(0, 8, "release ") != 0) {
            steps.push_back(call);
        }
    }
    return steps;
}

std::vector<std::string> LastCalls(const std::vector<std::string>& calls, size_t count) {
    return std::vector<std::string>(calls.end() - (ptrdiff_t)std::min(count, calls.size()),
                                    calls.end());
}

class WmiSectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NewWorld();
        savedCreate = createWbemLocator;
        savedTick = wmiTickCount;
        createWbemLocator = CreateFakeWbemLocator;
        wmiTickCount = FakeWmiTickCount;
        AppState.mainWindow = NULL;
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED)));
        ASSERT_TRUE(EnsureTaskMemorySpy());
    }

    void TearDown() override {
        ExpectWorldLeftClean();
        createWbemLocator = savedCreate;
        wmiTickCount = savedTick;
        AppState.mainWindow = NULL;
        fakeWmi = NULL;
        world.reset();
        CoUninitialize();
    }

    // Every reference handed out came back, nothing was called out of turn, and
    // no instance was kept while the next was fetched.
    void ExpectWorldLeftClean() {
        EXPECT_EQ("", world->Unreleased());
        EXPECT_EQ("", Join(world->unexpected));
        EXPECT_EQ(0, world->enumerator.mostInstancesHeldAtFetch)
            << "an instance was still held when the next one was fetched";
    }

    // A fresh world for the next case of a table.
    void NewWorld() {
        world = std::make_unique<FakeWmi>();
        fakeWmi = world.get();
    }

    // Runs the collector into a fresh buffer and returns the bytes it wrote.
    // Every BSTR and variant the collector received must be freed by then.
    std::string Collect(INT32 maxRows = 100, const WCHAR* title = L"Discos") {
        ReportBuffer buffer = {};
        long before = LiveTaskAllocations();
        CollectWmiSection(&buffer, title, L"ROOT\\CIMV2", L"SELECT * FROM Win32_DiskDrive",
                          maxRows);
        EXPECT_EQ(before, LiveTaskAllocations()) << "a BSTR or variant was not freed";
        EXPECT_FALSE(buffer.failed);
        std::string bytes(buffer.data == NULL ? "" : buffer.data, buffer.length);
        ResetBuffer(&buffer);
        return bytes;
    }

    FakeUnknown embedded; // outlives the world, whose values may refer to it
    std::unique_ptr<FakeWmi> world;
    HRESULT (*savedCreate)(IWbemLocator**) = NULL;
    DWORD (*savedTick)() = NULL;
};

// ---- the failure text ------------------------------------------------------------------------

TEST(AppendWmiUnavailableTest, WritesTheHresultAsEightUpperCaseHexDigitsInAJsonString) {
    struct Case {
        HRESULT hresult;
        const char* hex;
    } cases[] = {
        {(HRESULT)0x8004100E, "8004100E"}, {(HRESULT)0x800705B4, "800705B4"},
        {(HRESULT)0x80041003, "80041003"}, {(HRESULT)0x00000001, "00000001"},
        {(HRESULT)0x0000ABCD, "0000ABCD"}, {(HRESULT)0xFFFFFFFF, "FFFFFFFF"},
    };
    for (const Case& c : cases) {
        ReportBuffer buffer = {};
        AppendWmiUnavailable(&buffer, c.hresult);
        EXPECT_EQ(std::string("\"No disponible: WMI 0x") + c.hex +
                      ". Puede requerir permisos o un proveedor compatible.\"",
                  std::string(buffer.data, buffer.length));
        ResetBuffer(&buffer);
    }
}

// ---- the leak check itself -------------------------------------------------------------------

TEST_F(WmiSectionTest, LeakCheckSeesABstrThatIsNotFreed) {
    long before = LiveTaskAllocations();
    BSTR text = SysAllocString(L"abc");
    EXPECT_EQ(before + 1, LiveTaskAllocations());
    SysFreeString(text);
    EXPECT_EQ(before, LiveTaskAllocations());
}

// ---- call sequence and arguments -------------------------------------------------------------

TEST_F(WmiSectionTest, MakesTheWmiCallsInOrderWithTheirArguments) {
    const WCHAR* wmiNamespace = L"ROOT\\Microsoft\\Windows\\Storage";
    const WCHAR* query = L"SELECT DeviceId,HealthStatus FROM MSFT_PhysicalDisk";
    FakeClassObject* disk = world->NewInstance();
    disk->Add(L"DeviceId", BstrValue(L"0"));
    world->Deliver(disk);

    ReportBuffer buffer = {};
    long before = LiveTaskAllocations();
    CollectWmiSection(&buffer, L"Estado de discos", wmiNamespace, query, 10);
    EXPECT_EQ(before, LiveTaskAllocations());
    EXPECT_EQ(Section("{\"DeviceId\":\"0\"}", "", "Estado de discos"),
              std::string(buffer.data, buffer.length));
    ResetBuffer(&buffer);

    EXPECT_EQ((std::vector<std::string>{"create", "connect", "blanket", "query", "tick", "fetch",
                                        "tick", "begin", "property", "property", "end", "fetch"}),
              Steps(world->calls));
    // The instance goes back before the next fetch; the rest in reverse order at the end.
    std::vector<std::string> tail = LastCalls(world->calls, 5);
    EXPECT_EQ((std::vector<std::string>{"release instance 1", "fetch", "release enumerator",
                                        "release services", "release locator"}),
              tail);

    const FakeLocator& locator = world->locator;
    EXPECT_EQ(1, world->createCalls);
    EXPECT_EQ(wmiNamespace, locator.resource);
    EXPECT_EQ(wcslen(wmiNamespace), locator.resourceLength) << "not a BSTR";
    EXPECT_TRUE(locator.credentialsNull);
    EXPECT_EQ(0x80, locator.securityFlags);
    EXPECT_TRUE(locator.contextNull);
    EXPECT_EQ(before + 1, locator.liveAllocationsAtConnect);

    const FakeServices& services = world->services;
    EXPECT_EQ(1, services.setBlanketCalls);
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<IWbemServices*>(&world->services)),
              services.blanketProxy);
    EXPECT_EQ(10u, services.authnService);
    EXPECT_EQ(0u, services.authzService);
    EXPECT_TRUE(services.serverPrincipalNull);
    EXPECT_EQ(3u, services.authnLevel);
    EXPECT_EQ(3u, services.impLevel);
    EXPECT_TRUE(services.authInfoNull);
    EXPECT_EQ(0u, services.capabilities);
    EXPECT_EQ(before, services.liveAllocationsAtSetBlanket) << "namespace BSTR kept too long";

    EXPECT_EQ(1, services.execQueryCalls);
    EXPECT_EQ(L"WQL", services.queryLanguage);
    EXPECT_EQ(3u, services.queryLanguageLength);
    EXPECT_EQ(query, services.queryText);
    EXPECT_EQ(wcslen(query), services.queryTextLength);
    EXPECT_EQ(0x30, services.queryFlags);
    EXPECT_TRUE(services.queryContextNull);
    EXPECT_EQ(before + 2, services.liveAllocationsAtExecQuery);

    EXPECT_EQ((std::vector<LONG>{2500, 2500}), world->enumerator.timeouts);
    EXPECT_EQ((std::vector<ULONG>{1, 1}), world->enumerator.counts);
    EXPECT_EQ(std::vector<LONG>{0x40}, disk->beginFlags);
    EXPECT_EQ((std::vector<LONG>{0, 0}), disk->nextFlags);
    EXPECT_FALSE(disk->flavourRequested);
    EXPECT_EQ(1, disk->endCalls);
}

TEST_F(WmiSectionTest, WritesTheVolumesExampleByteForByte) {
    FakeClassObject* volume = world->NewInstance();
    volume->Add(L"DeviceID", BstrValue(L"C:"));
    volume->Add(L"FileSystem", BstrValue(L"NTFS"));
    volume->Add(L"FreeSpace", BstrValue(L"52613349376"));
    volume->Add(L"Size", BstrValue(L"255465533440"));
    volume->Add(L"Status", TypedValue(VT_NULL));
    world->Deliver(volume);

    EXPECT_EQ("{\"name\":\"Vol\xC3\xBAmenes\",\"rows\":[{\"DeviceID\":\"C:\",\"FileSystem\":"
              "\"NTFS\",\"FreeSpace\":\"52613349376\",\"Size\":\"255465533440\",\"Status\":null}]}",
              Collect(100, L"Vol\u00famenes"));
}

// ---- failures while connecting ---------------------------------------------------------------

TEST_F(WmiSectionTest, AFailedConnectionStepEndsTheSectionWithItsHresult) {
    struct Case {
        const char* what;
        void (*script)(FakeWmi*);
        const char* hex;
        std::vector<std::string> steps;
        std::vector<std::string> finalReleases;
    } cases[] = {
        {"locator not registered",
         [](FakeWmi* w) { w->createResult = REGDB_E_CLASSNOTREG; },
         "80040154",
         {"create", "tick"},
         {}},
        {"namespace missing",
         [](FakeWmi* w) { w->locator.connectResult = WBEM_E_INVALID_NAMESPACE; },
         "8004100E",
         {"create", "connect", "tick"},
         {"release locator"}},
        {"connection refused",
         [](FakeWmi* w) { w->locator.connectResult = WBEM_E_ACCESS_DENIED; },
         "80041003",
         {"create", "connect", "tick"},
         {"release locator"}},
        {"blanket refused",
         [](FakeWmi* w) { w->services.setBlanketResult = E_ACCESSDENIED; },
         "80070005",
         {"create", "connect", "blanket", "tick"},
         {"release services", "release locator"}},
        {"no client security",
         [](FakeWmi* w) { w->services.answersClientSecurity = false; },
         "80004002",
         {"create", "connect", "tick"},
         {"release services", "release locator"}},
        {"query refused",
         [](FakeWmi* w) { w->services.execQueryResult = WBEM_E_INVALID_QUERY; },
         "80041017",
         {"create", "connect", "blanket", "query", "tick"},
         {"release services", "release locator"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewWorld();
        world->DeliverNumbered(2); // never reached
        c.script(world.get());

        EXPECT_EQ(Section("", Unavailable(c.hex)), Collect());
        EXPECT_EQ(c.steps, Steps(world->calls));
        EXPECT_EQ(c.finalReleases, LastCalls(world->calls, c.finalReleases.size()));
        ExpectWorldLeftClean();
    }
}

TEST_F(WmiSectionTest, WritesTheAccessDeniedExample) {
    world->locator.connectResult = WBEM_E_ACCESS_DENIED;
    EXPECT_EQ("{\"name\":\"SMART\",\"rows\":[],\"error\":\"No disponible: WMI 0x80041003. Puede "
              "requerir permisos o un proveedor compatible.\"}",
              Collect(20, L"SMART"));
}

// ---- how the listing ends --------------------------------------------------------------------

TEST_F(WmiSectionTest, TheLastFetchDecidesTheErrorText) {
    struct Case {
        const char* what;
        int rowsBefore;
        HRESULT end;
        std::string tail;
    } cases[] = {
        {"end of results", 3, WBEM_S_FALSE, ""},
        {"no results at all", 0, WBEM_S_FALSE, ""},
        {"other success code", 2, WBEM_S_NO_MORE_DATA, ""},
        {"S_OK with nothing", 2, WBEM_S_NO_ERROR, ""},
        {"class unknown at first fetch", 0, (HRESULT)WBEM_E_INVALID_CLASS, Unavailable("80041010")},
        {"failure after rows", 2, RPC_E_DISCONNECTED, Unavailable("80010108")},
        {"time-out reported as such", 0, WBEM_S_TIMEDOUT, Unavailable("800705B4")},
        {"time-out after rows", 2, WBEM_S_TIMEDOUT, Unavailable("800705B4")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewWorld();
        world->DeliverNumbered(c.rowsBefore);
        world->EndWith(c.end);

        EXPECT_EQ(Section(NumberedRows(1, c.rowsBefore), c.tail), Collect());
        EXPECT_EQ((size_t)c.rowsBefore + 1, world->enumerator.counts.size());
        ExpectWorldLeftClean();
    }
}

TEST_F(WmiSectionTest, AnInstanceSlowerThanTheFetchTimeOutEndsTheListing) {
    struct Case {
        const char* what;
        int rowsBefore;
        DWORD delay;
        std::string expected;
    } cases[] = {
        {"first instance late", 0, 2501, Section("", Unavailable("800705B4"))},
        {"stall after rows", 2, 4000, Section(NumberedRows(1, 2), Unavailable("800705B4"))},
        {"just in time", 2, 2500, Section(NumberedRows(1, 3))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewWorld();
        world->DeliverNumbered(c.rowsBefore);
        FakeClassObject* late = world->NewInstance();
        late->Add(L"N", I4Value(c.rowsBefore + 1));
        world->Deliver(late, c.delay);

        EXPECT_EQ(c.expected, Collect());
        ExpectWorldLeftClean();
    }
}

// ---- row limit -------------------------------------------------------------------------------

TEST_F(WmiSectionTest, RowLimitIsASignedCountAndTheEnumeratorIsNotDrained) {
    struct Case {
        INT32 maxRows;
        int instances;
        int rowsWritten;
        bool partial;
    } cases[] = {
        {0, 0, 0, false},       {0, 1, 0, true},       {3, 3, 3, false}, {3, 4, 3, true},
        {3, 9, 3, true},        {-1, 0, 0, false},     {-1, 1, 0, true}, {INT32_MIN, 2, 0, true},
        {300, 300, 300, false}, {300, 301, 300, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("maxRows " + std::to_string(c.maxRows) + ", instances " +
                     std::to_string(c.instances));
        NewWorld();
        world->DeliverNumbered(c.instances);

        std::string bytes = Collect(c.maxRows);
        EXPECT_EQ(Section(NumberedRows(1, c.rowsWritten), c.partial ? kPartial : ""), bytes);
        // One fetch per written row, plus the one that ended the listing.
        EXPECT_EQ((size_t)c.rowsWritten + 1, world->enumerator.counts.size());
        ExpectWorldLeftClean();
    }
}

TEST_F(WmiSectionTest, AFailureOutranksThePartialListing) {
    // A provider that hands out an instance together with a failure code.
    world->DeliverNumbered(1);
    FakeClassObject* extra = world->NewInstance();
    extra->Add(L"N", I4Value(2));
    world->enumerator.fetches.push_back(FakeFetch{0, (HRESULT)WBEM_E_FAILED, extra});

    EXPECT_EQ(Section(NumberedRows(1, 1), Unavailable("80041001")), Collect(1));
}

// ---- listing budget --------------------------------------------------------------------------

TEST_F(WmiSectionTest, NoRowIsWrittenOnceMoreThan12000MsHavePassed) {
    struct Case {
        const char* what;
        DWORD startClock;
        std::vector<DWORD> delays; // per instance
        int rowsWritten;
        bool partial;
    } cases[] = {
        {"last row at exactly 12000 ms", 1000, {2000, 2000, 2000, 2000, 2000, 2000}, 6, false},
        {"last row at 12001 ms", 1000, {2000, 2000, 2000, 2000, 2000, 2001}, 5, true},
        {"first row late but within the fetch time-out",
         1000,
         {2400, 2400, 2400, 2400, 2400, 2400},
         5,
         true},
        {"clock wraps, row at 12000 ms",
         0xFFFFFFFF - 4999,
         {2000, 2000, 2000, 2000, 2000, 2000},
         6,
         false},
        {"clock wraps, row at 12001 ms",
         0xFFFFFFFF - 4999,
         {2000, 2000, 2000, 2000, 2000, 2001},
         5,
         true},
        {"clock wraps at the start", 0xFFFFFFFF, {0, 2500, 2500, 2500, 2500, 2000, 1}, 6, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewWorld();
        world->clock = c.startClock;
        int number = 0;
        for (DWORD delay : c.delays) {
            FakeClassObject* instance = world->NewInstance();
            instance->Add(L"N", I4Value(++number));
            world->Deliver(instance, delay);
        }

        EXPECT_EQ(Section(NumberedRows(1, c.rowsWritten), c.partial ? kPartial : ""), Collect());
        ExpectWorldLeftClean();
    }
}

TEST_F(WmiSectionTest, ConnectingAndQueryingAreOutsideTheListingBudget) {
    world->locator.connectDelay = 60000;
    world->services.execQueryDelay = 60000;
    world->DeliverNumbered(2);

    EXPECT_EQ(Section(NumberedRows(1, 2)), Collect());
    std::vector<std::string> steps = Steps(world->calls);
    ASSERT_GE(steps.size(), 6u);
    EXPECT_EQ((std::vector<std::string>{"query", "tick", "fetch"}),
              std::vector<std::string>(steps.begin() + 3, steps.begin() + 6));
}

// ---- properties ------------------------------------------------------------------------------

TEST_F(WmiSectionTest, WritesAtMost65PropertiesButEnumeratesThemAll) {
    struct Case {
        int properties;
        int written;
    } cases[] = {{0, 0}, {1, 1}, {64, 64}, {65, 65}, {66, 65}, {70, 65}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.properties) + " properties");
        NewWorld();
        FakeClassObject* instance = world->NewInstance();
        std::string row = "{";
        for (int i = 1; i <= c.properties; ++i) {
            std::wstring name = L"P" + std::to_wstring(i);
            instance->Add(name.c_str(), I4Value(i));
            if (i <= c.written) {
                row += (i == 1 ? "" : ",") + std::string("\"P") + std::to_string(i) + "\":\"" +
                       std::to_string(i) + "\"";
            }
        }
        row += "}";
        world->Deliver(instance);

        EXPECT_EQ(Section(row), Collect());
        EXPECT_EQ(c.properties, instance->propertiesHandedOut);
        EXPECT_EQ((size_t)c.properties + 1, instance->nextFlags.size());
        ExpectWorldLeftClean();
    }
}

TEST_F(WmiSectionTest, AFailureInsideAnInstanceEndsOnlyThatRow) {
    FakeClassObject* unreadable = world->NewInstance();
    unreadable->Add(L"A", I4Value(1));
    unreadable->beginResult = WBEM_E_FAILED;
    world->Deliver(unreadable);

    FakeClassObject* broken = world->NewInstance();
    broken->Add(L"A", I4Value(1));
    broken->Add(L"B", I4Value(2));
    broken->Add(L"C", I4Value(3));
    broken->failAtProperty = 2;
    broken->failResult = WBEM_E_OUT_OF_MEMORY;
    world->Deliver(broken);

    FakeClassObject* empty = world->NewInstance();
    world->Deliver(empty);

    FakeClassObject* fine = world->NewInstance();
    fine->Add(L"Z", BstrValue(L"ok"));
    world->Deliver(fine);

    EXPECT_EQ(Section("{},{\"A\":\"1\",\"B\":\"2\"},{},{\"Z\":\"ok\"}"), Collect());
    for (FakeClassObject* instance : {unreadable, broken, empty, fine}) {
        EXPECT_EQ(1, instance->endCalls) << instance->name;
    }
}

TEST_F(WmiSectionTest, WritesValuesAsJsonStringsOrNull) {
    struct Case {
        VARIANT value;
        const char* json;
        CIMTYPE cimType;
    } cases[] = {
        {TypedValue(VT_EMPTY), "null", CIM_EMPTY},
        {TypedValue(VT_NULL), "null", CIM_UINT32},
        {StringArrayValue(L"a", L"b"), "null", CIM_STRING | CIM_FLAG_ARRAY},
        {BstrValue(L""), "\"\"", CIM_STRING},
        {I4Value(42), "\"42\"", CIM_UINT32},
        {I4Value(-7), "\"-7\"", CIM_SINT32},
        // Unsigned 32-bit values travel in a VT_I4: 3 GiB of AdapterRAM, not -1 GiB.
        {I4Value((LONG)0xC0000000), "\"3221225472\"", CIM_UINT32},
        {I4Value(-1), "\"4294967295\"", CIM_UINT32},
        {I4Value((LONG)0xC0000000), "\"-1073741824\"", CIM_SINT32},
        {BoolValue(true), "\"True\"", CIM_BOOLEAN},
        {BoolValue(false), "\"False\"", CIM_BOOLEAN},
        {UnknownValue(&embedded), "null", CIM_OBJECT},
        {BstrValue(L"A\u00f1o \"x\" C:\\\t\n\u20ac"),
         "\"A\xC3\xB1o \\\"x\\\" C:\\\\\\u0009\\u000a\xE2\x82\xAC\"", CIM_STRING},
    };
    std::string rows;
    for (Case& c : cases) {
        FakeClassObject* instance = world->NewInstance();
        instance->Add(L"V", c.value, c.cimType);
        world->Deliver(instance);
        rows += (rows.empty() ? "" : ",") + std::string("{\"V\":") + c.json + "}";
    }

    EXPECT_EQ(Section(rows), Collect());
    // Only the world's own copy of the embedded object is left.
    EXPECT_EQ(2, embedded.refs);
}

TEST_F(WmiSectionTest, EscapesTitlesAndPropertyNames) {
    FakeClassObject* instance = world->NewInstance();
    instance->Add(L"Tama\u00f1o \"real\"", BstrValue(L"1"));
    instance->Add(L"a\\b\x01", BstrValue(L"2"));
    world->Deliver(instance);

    EXPECT_EQ("{\"name\":\"Red \\\"LAN\\\" \\\\ a\xC3\xB1o\\u001f\",\"rows\":[{\"Tama\xC3\xB1o "
              "\\\"real\\\"\":\"1\",\"a\\\\b\\u0001\":\"2\"}]}",
              Collect(100, L"Red \"LAN\" \\ a\u00f1o\x1f"));
}

// ---- status message --------------------------------------------------------------------------

bool statusQueuedAtCreate = false;

HRESULT CreateLocatorAfterLookingForStatus(IWbemLocator** locator) {
    MSG message;
    statusQueuedAtCreate =
        PeekMessageW(&message, NULL, WM_APP_STATUS, WM_APP_STATUS, PM_NOREMOVE) != FALSE;
    return CreateFakeWbemLocator(locator);
}

const char kOneDiskSection[] = "{\"name\":\"Discos\",\"rows\":[{\"N\":\"1\"}]}";

TEST_F(WmiSectionTest, PostsNoStatusWithoutAWindow) {
    createWbemLocator = CreateLocatorAfterLookingForStatus;
    world->DeliverNumbered(1);

    EXPECT_EQ(kOneDiskSection, Collect());
    MSG message;
    // A null window would have made it a thread message: look for those too.
    EXPECT_FALSE(PeekMessageW(&message, NULL, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE));
    EXPECT_FALSE(statusQueuedAtCreate);
}

TEST_F(WmiSectionTest, PostsTheTitleToTheWindowBeforeAnythingElse) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleW(NULL), NULL);
    ASSERT_NE((HWND)NULL, window);
    AppState.mainWindow = window;
    createWbemLocator = CreateLocatorAfterLookingForStatus;
    world->DeliverNumbered(1);
    static const WCHAR title[] = L"Discos";

    EXPECT_EQ(kOneDiskSection, Collect(100, title));
    EXPECT_TRUE(statusQueuedAtCreate);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, NULL, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE));
    EXPECT_EQ(window, message.hwnd);
    EXPECT_EQ(0u, message.wParam);
    EXPECT_EQ((LPARAM)title, message.lParam) << "the title itself, not a copy";
    EXPECT_FALSE(PeekMessageW(&message, NULL, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE));
    DestroyWindow(window);
}

// ---- failed buffers --------------------------------------------------------------------------

TEST_F(WmiSectionTest, AFailedBufferStaysUnchangedAndEverythingIsReleased) {
    world->DeliverNumbered(3);
    ReportBuffer buffer = {};
    AppendLiteral(&buffer, "[1,");
    buffer.failed = true;
    char* data = buffer.data;
    UINT32 capacity = buffer.capacity;
    long before = LiveTaskAllocations();

    CollectWmiSection(&buffer, L"Discos", L"ROOT\\CIMV2", L"SELECT * FROM Win32_DiskDrive", 10);

    EXPECT_EQ(before, LiveTaskAllocations());
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(data, buffer.data);
    EXPECT_EQ(capacity, buffer.capacity);
    EXPECT_EQ("[1,", std::string(buffer.data, buffer.length));
    EXPECT_EQ(4u, world->enumerator.counts.size()) << "the query still runs to its end";
    ResetBuffer(&buffer);
}

TEST_F(WmiSectionTest, ABufferThatFailsMidSectionStillReleasesEverything) {
    // The first block holds about 8 KiB; growing it is refused.
    testHeap = TestHeapState();
    testHeap.refuseReAlloc = true;
    reportHeap = &kTestHeap;
    std::wstring longText(6000, L'x');
    for (int i = 0; i < 4; ++i) {
        FakeClassObject* instance = world->NewInstance();
        instance->Add(L"Text", BstrValue(longText.c_str()));
        world->Deliver(instance);
    }
    ReportBuffer buffer = {};
    long before = LiveTaskAllocations();

    CollectWmiSection(&buffer, L"Discos", L"ROOT\\CIMV2", L"SELECT * FROM Win32_DiskDrive", 10);

    reportHeap = &kProcessHeap;
    EXPECT_EQ(before, LiveTaskAllocations());
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(5u, world->enumerator.counts.size());
    ResetBuffer(&buffer);
}

} // namespace
