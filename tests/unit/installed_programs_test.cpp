// The installed-programs section against the real registry of the test Wine
// prefix (64-bit, so the 32-bit and 64-bit views hold separate Uninstall keys).
// Fixture entries are named ZEQTest-*, and so are their display names: the
// checks look only at that subsequence of rows, whatever else the prefix holds.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report/installed_programs.h"
#include "shared/app_state.h"
#include "support/compact_json.h"
#include "support/test_heap.h"

namespace {

const WCHAR kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kFixturePrefix = L"ZEQTest-";
const REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

const char kCompleteNote[] =
    "Inventario HKLM: puede incluir duplicados entre vistas. No incluye todos los programas por "
    "usuario ni todas las apps de Microsoft Store.";
const char kPartialNote[] =
    "Listado parcial. Se consultan programas del equipo (HKLM); no aplicaciones de otros usuarios "
    "ni todas las apps de Microsoft Store.";

using Row = std::vector<std::pair<std::string, std::string>>;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, NULL, NULL);
    return out;
}

// ---------------------------------------------------------------------------
// Fixture entries in the registry.

struct RegValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> bytes;
};

RegValue Text(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
    const BYTE* first = (const BYTE*)text.c_str();
    return {name, type, std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(WCHAR))};
}

// REG_SZ data stored without its terminating zero.
RegValue Unterminated(const std::wstring& name, const std::wstring& text) {
    const BYTE* first = (const BYTE*)text.data();
    return {name, REG_SZ, std::vector<BYTE>(first, first + text.size() * sizeof(WCHAR))};
}

RegValue Dword(const std::wstring& name, DWORD value) {
    const BYTE* first = (const BYTE*)&value;
    return {name, REG_DWORD, std::vector<BYTE>(first, first + sizeof(value))};
}

// A text of `units` units that starts with `head`, then a repeating a..z pattern.
std::wstring Filled(const std::wstring& head, size_t units) {
    std::wstring text = head;
    while (text.size() < units) {
        text.push_back((WCHAR)(L'a' + text.size() % 26));
    }
    return text;
}

HKEY OpenView(REGSAM view) {
    HKEY key = NULL;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, NULL, 0,
                                     KEY_ALL_ACCESS | view, NULL, &key, NULL);
    EXPECT_EQ(ERROR_SUCCESS, status) << "cannot open the Uninstall key for writing";
    return key;
}

// The subkey names of a view in the registry's own enumeration order.
std::vector<std::wstring> SubkeyNames(REGSAM view) {
    std::vector<std::wstring> names;
    HKEY key = OpenView(view);
    WCHAR name[512];
    for (DWORD index = 0;; ++index) {
        DWORD length = 512;
        if (RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void RemoveFixtures() {
    for (REGSAM view : kViews) {
        HKEY key = OpenView(view);
        for (const std::wstring& name : SubkeyNames(view)) {
            if (name.compare(0, kFixturePrefix.size(), kFixturePrefix) == 0) {
                ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyExW(key, name.c_str(), view, 0));
            }
        }
        RegCloseKey(key);
    }
}

void CreateEntries(REGSAM view, const std::vector<std::wstring>& keys,
                   const std::vector<RegValue>& values) {
    HKEY viewKey = OpenView(view);
    for (const std::wstring& name : keys) {
        HKEY entry = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(viewKey, name.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &entry, NULL));
        for (const RegValue& value : values) {
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(entry, value.name.c_str(), 0, value.type,
                                                    value.bytes.data(), (DWORD)value.bytes.size()));
        }
        RegCloseKey(entry);
    }
    RegCloseKey(viewKey);
}

void CreateEntry(REGSAM view, const std::wstring& key, const std::vector<RegValue>& values) {
    CreateEntries(view, {key}, values);
}

// Entries named prefix0000, prefix0001, ... each with a DisplayName naming it.
void CreateNumberedEntries(REGSAM view, const std::wstring& prefix, int count, bool eligible) {
    HKEY viewKey = OpenView(view);
    for (int i = 0; i < count; ++i) {
        WCHAR number[8];
        wsprintfW(number, L"%04d", i);
        HKEY entry = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(viewKey, (prefix + number).c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &entry, NULL));
        if (eligible) {
            RegValue name = Text(L"DisplayName", prefix + number);
            RegSetValueExW(entry, name.name.c_str(), 0, REG_SZ, name.bytes.data(),
                           (DWORD)name.bytes.size());
        }
        RegCloseKey(entry);
    }
    RegCloseKey(viewKey);
}

// ---------------------------------------------------------------------------
// Running the collector and reading its output.

struct Section {
    std::string raw;
    std::vector<Row> rows;
    std::string note;
};

Section Collect() {
    ReportBuffer buffer = {};
    CollectInstalledPrograms(&buffer);
    Section section;
    EXPECT_FALSE(buffer.failed);
    if (buffer.data != NULL) {
        section.raw.assign(buffer.data, buffer.length);
    }
    ResetBuffer(&buffer);

    JsonValue object;
    std::string error;
    if (!ParseCompactJson(section.raw.data(), section.raw.size(), &object, &error)) {
        ADD_FAILURE() << "not compact JSON: " << error;
        return section;
    }
    EXPECT_EQ(std::vector<std::string>({"name", "rows", "error"}), object.Keys());
    const JsonValue* name = object.Find("name");
    const JsonValue* rows = object.Find("rows");
    const JsonValue* note = object.Find("error");
    if (name == nullptr || rows == nullptr || note == nullptr || rows->kind != JsonValue::Array ||
        note->kind != JsonValue::String) {
        ADD_FAILURE() << "section members missing or of the wrong type";
        return section;
    }
    EXPECT_EQ("Programas instalados", name->text);
    section.note = note->text;
    for (const JsonValue& item : rows->items) {
        Row row;
        EXPECT_EQ(JsonValue::Object, item.kind);
        for (const auto& member : item.members) {
            EXPECT_EQ(JsonValue::String, member.second.kind) << member.first;
            row.push_back({member.first, member.second.text});
        }
        EXPECT_FALSE(row.empty());
        if (!row.empty()) {
            EXPECT_EQ("Name", row[0].first);
        }
        section.rows.push_back(row);
    }
    return section;
}

bool IsFixtureRow(const Row& row) {
    return !row.empty() && row[0].second.compare(0, 8, "ZEQTest-") == 0;
}

std::vector<Row> FixtureRows(const Section& section) {
    std::vector<Row> rows;
    for (const Row& row : section.rows) {
        if (IsFixtureRow(row)) {
            rows.push_back(row);
        }
    }
    return rows;
}

// ---------------------------------------------------------------------------
// A registry that counts every key it hands out and can be told to fail.

struct RegistryFaults {
    REGSAM missingView;        // the Uninstall key is not found in these views
    REGSAM deniedView;         // opens of the Uninstall key in these views are refused
    const WCHAR* overlongName; // enumerating this subkey fails as a name too long would
    const WCHAR* lockedName;   // opening this subkey is refused
    bool bareQuery;            // text comes back without a terminator appended
};

RegistryFaults faults;
std::vector<HKEY> openKeys;
// Every open asked for, as "<Uninstall or entry> options <n> access <mask>".
std::vector<std::string> opensAsked;
int closesOfUnknownKeys;
DWORD highestIndex;
int uninstallOpens[2];

LSTATUS WINAPI TestOpenKey(HKEY parent, LPCWSTR subKey, DWORD options, REGSAM access,
                           PHKEY result) {
    bool uninstallKey = parent == HKEY_LOCAL_MACHINE && lstrcmpiW(subKey, kUninstall) == 0;
    char asked[64];
    wsprintfA(asked, "%s options %lu access 0x%lx", uninstallKey ? "Uninstall" : "entry", options,
              (unsigned long)access);
    opensAsked.push_back(asked);
    if (uninstallKey) {
        ++uninstallOpens[(access & KEY_WOW64_64KEY) != 0 ? 1 : 0];
        if ((access & faults.missingView) != 0) {
            return ERROR_FILE_NOT_FOUND;
        }
        if ((access & faults.deniedView) != 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    if (faults.lockedName != NULL && lstrcmpW(subKey, faults.lockedName) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    LSTATUS status = RegOpenKeyExW(parent, subKey, options, access, result);
    if (status == ERROR_SUCCESS) {
        openKeys.push_back(*result);
    }
    return status;
}

LSTATUS WINAPI TestEnumKey(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                           LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    highestIndex = std::max(highestIndex, index);
    LSTATUS status = RegEnumKeyExW(key, index, name, nameLength, reserved, className, classLength,
                                   lastWriteTime);
    if (status == ERROR_SUCCESS && faults.overlongName != NULL &&
        lstrcmpW(name, faults.overlongName) == 0) {
        return ERROR_MORE_DATA;
    }
    return status;
}

// Windows hands back exactly the stored bytes: a REG_SZ stored without its
// terminator stays unterminated and the rest of the buffer keeps what it held.
// Wine appends a terminator when there is room, so this reads through a copy.
LSTATUS WINAPI TestQueryValue(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                              LPBYTE data, LPDWORD dataSize) {
    if (!faults.bareQuery || data == NULL) {
        return RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
    }
    std::vector<BYTE> copy(*dataSize);
    LSTATUS status = RegQueryValueExW(key, valueName, reserved, type, copy.data(), dataSize);
    if (status == ERROR_SUCCESS) {
        memcpy(data, copy.data(), *dataSize);
    }
    return status;
}

LSTATUS WINAPI TestCloseKey(HKEY key) {
    auto found = std::find(openKeys.begin(), openKeys.end(), key);
    if (found == openKeys.end()) {
        ++closesOfUnknownKeys;
    } else {
        openKeys.erase(found);
    }
    return RegCloseKey(key);
}

const ProgramsRegistry kTestRegistry = {TestOpenKey, TestEnumKey, TestQueryValue, TestCloseKey};

class InstalledProgramsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveFixtures();
    }

    void TearDown() override {
        programsRegistry = &kSystemRegistry;
        reportHeap = &kProcessHeap;
        AppState.mainWindow = NULL;
        if (usingTestRegistry_) {
            EXPECT_TRUE(openKeys.empty()) << openKeys.size() << " keys left open";
            EXPECT_EQ(0, closesOfUnknownKeys) << "a key was closed twice or never opened";
        }
        RemoveFixtures();
    }

    void UseTestRegistry(const RegistryFaults& injected = RegistryFaults()) {
        usingTestRegistry_ = true;
        faults = injected;
        openKeys.clear();
        opensAsked.clear();
        closesOfUnknownKeys = 0;
        highestIndex = 0;
        uninstallOpens[0] = uninstallOpens[1] = 0;
        programsRegistry = &kTestRegistry;
    }

  private:
    bool usingTestRegistry_ = false;
};

// ---------------------------------------------------------------------------
// Eligibility, members and order, from a table of entries in both views.

struct EntryCase {
    REGSAM view;
    std::wstring key;
    std::vector<RegValue> values;
    bool hasRow;
    Row row;
};

std::vector<EntryCase> EntryCases() {
    const std::wstring longName = Filled(L"ZEQTest-Nombre largo ", 300);
    const std::wstring exactName = Filled(L"ZEQTest-Exacto ", 2048);
    const std::wstring tooLong = Filled(L"ZEQTest-Demasiado ", 2048);
    const std::wstring bigPublisher = Filled(L"Editorial ", 2048);
    return {
        // Values created out of order: the row's member order is fixed.
        {KEY_WOW64_32KEY,
         L"ZEQTest-Full",
         {Text(L"InstallDate", L"20240131"),
          Text(L"Publisher", L"Compa\u00f1\u00eda \"Q\" \\ S.A.\t\n\x01"),
          Text(L"DisplayVersion", L"2.1.0"),
          Text(L"DisplayName", L"ZEQTest-Editor \u00d1and\u00fa")},
         true,
         {{"Name", "ZEQTest-Editor Ñandú"},
          {"DisplayVersion", "2.1.0"},
          {"Publisher", "Compañía \"Q\" \\ S.A.\t\n\x01"},
          {"InstallDate", "20240131"}}},
        {KEY_WOW64_32KEY,
         L"ZEQTest-NameOnly",
         {Text(L"DisplayName", L"ZEQTest-Solo nombre")},
         true,
         {{"Name", "ZEQTest-Solo nombre"}}},
        {KEY_WOW64_32KEY,
         L"ZEQTest-ExpandName",
         {Text(L"DisplayName", L"ZEQTest-%ProgramFiles%", REG_EXPAND_SZ)},
         false,
         {}},
        {KEY_WOW64_32KEY,
         L"ZEQTest-EmptyName",
         {Text(L"DisplayName", L""), Text(L"DisplayVersion", L"1")},
         false,
         {}},
        {KEY_WOW64_32KEY, L"ZEQTest-NoName", {Text(L"DisplayVersion", L"1")}, false, {}},
        {KEY_WOW64_32KEY, L"ZEQTest-DwordName", {Dword(L"DisplayName", 7)}, false, {}},
        // Short unterminated texts read right after a longer one.
        {KEY_WOW64_32KEY,
         L"ZEQTest-Unterminated",
         {Text(L"DisplayName", longName), Unterminated(L"DisplayVersion", L"1.0"),
          Unterminated(L"Publisher", L"Ed")},
         true,
         {{"Name", Utf8(longName)}, {"DisplayVersion", "1.0"}, {"Publisher", "Ed"}}},
        {KEY_WOW64_32KEY,
         L"ZEQTest-Twice",
         {Text(L"DisplayName", L"ZEQTest-En ambas vistas")},
         true,
         {{"Name", "ZEQTest-En ambas vistas"}}},
        // The longest subkey name the registry accepts fits the name buffer.
        {KEY_WOW64_32KEY,
         Filled(L"ZEQTest-Clave ", 256),
         {Text(L"DisplayName", L"ZEQTest-Clave larga")},
         true,
         {{"Name", "ZEQTest-Clave larga"}}},
        {KEY_WOW64_64KEY,
         L"ZEQTest-EmptyVersion",
         {Text(L"DisplayName", L"ZEQTest-Versi\u00f3n vac\u00eda"), Text(L"DisplayVersion", L"")},
         true,
         {{"Name", "ZEQTest-Versión vacía"}, {"DisplayVersion", ""}}},
        {KEY_WOW64_64KEY,
         L"ZEQTest-DwordDate",
         {Text(L"DisplayName", L"ZEQTest-Fecha num\u00e9rica"), Dword(L"InstallDate", 20240101),
          Text(L"Publisher", L"Editorial")},
         true,
         {{"Name", "ZEQTest-Fecha numérica"}, {"Publisher", "Editorial"}}},
        // 2048 units and a terminator: 4098 bytes, one unit more than the buffer.
        {KEY_WOW64_64KEY,
         L"ZEQTest-BigPublisher",
         {Text(L"DisplayName", L"ZEQTest-Editor enorme"), Text(L"Publisher", bigPublisher),
          Text(L"DisplayVersion", L"3")},
         true,
         {{"Name", "ZEQTest-Editor enorme"}, {"DisplayVersion", "3"}}},
        {KEY_WOW64_64KEY, L"ZEQTest-BigName", {Text(L"DisplayName", tooLong)}, false, {}},
        // Exactly 4096 bytes without a terminator: cut to 2047 units.
        {KEY_WOW64_64KEY,
         L"ZEQTest-ExactName",
         {Unterminated(L"DisplayName", exactName)},
         true,
         {{"Name", Utf8(exactName.substr(0, 2047))}}},
        // Enumerated right after ExactName, whose text still fills the buffer.
        {KEY_WOW64_64KEY,
         L"ZEQTest-ExactNameNext",
         {Unterminated(L"DisplayName", L"ZEQTest-Siguiente")},
         true,
         {{"Name", "ZEQTest-Siguiente"}}},
        {KEY_WOW64_64KEY,
         L"ZEQTest-Twice",
         {Text(L"DisplayName", L"ZEQTest-En ambas vistas")},
         true,
         {{"Name", "ZEQTest-En ambas vistas"}}},
    };
}

// Creates the table's entries and gives the rows expected from them, in the
// registry's enumeration order, the 32-bit view first.
std::vector<Row> CreateEntryCases() {
    std::vector<EntryCase> cases = EntryCases();
    for (const EntryCase& entry : cases) {
        CreateEntry(entry.view, entry.key, entry.values);
    }
    std::vector<Row> expected;
    for (REGSAM view : kViews) {
        for (const std::wstring& name : SubkeyNames(view)) {
            for (const EntryCase& entry : cases) {
                if (entry.view == view && entry.key == name && entry.hasRow) {
                    expected.push_back(entry.row);
                }
            }
        }
    }
    return expected;
}

TEST_F(InstalledProgramsTest, EligibleEntriesOfBothViewsBecomeRowsInEnumerationOrder) {
    std::vector<Row> expected = CreateEntryCases();
    ASSERT_EQ(11u, expected.size());

    Section section = Collect();

    EXPECT_EQ(expected, FixtureRows(section));
    EXPECT_EQ(kCompleteNote, section.note);
    // Quote, backslash and control characters escaped as the report writer does.
    EXPECT_NE(
        std::string::npos,
        section.raw.find(
            "\"Publisher\":\"Compañía \\\"Q\\\" \\\\ S.A.\\u0009\\u000a\\u0001\",\"InstallDate\""));
}

TEST_F(InstalledProgramsTest, TextReadWithoutTerminatorEndsWhereItsDataEnds) {
    std::vector<Row> expected = CreateEntryCases();
    RegistryFaults bare = {};
    bare.bareQuery = true;
    UseTestRegistry(bare);

    Section section = Collect();

    EXPECT_EQ(expected, FixtureRows(section));
    EXPECT_EQ(kCompleteNote, section.note);
}

// ---------------------------------------------------------------------------
// Status message.

TEST_F(InstalledProgramsTest, PostsItsTitleOnlyWhenTheMainWindowExists) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleW(NULL), NULL);
    ASSERT_TRUE(window != NULL);
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
    }

    AppState.mainWindow = window;
    Collect();
    ASSERT_TRUE(PeekMessageW(&message, window, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE));
    EXPECT_EQ(0u, message.wParam);
    EXPECT_STREQ(L"Programas instalados", (const WCHAR*)message.lParam);
    EXPECT_FALSE(PeekMessageW(&message, window, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE))
        << "one status message per section";

    AppState.mainWindow = NULL;
    Collect();
    EXPECT_FALSE(PeekMessageW(&message, NULL, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE));

    DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// The limit of 500 rows over both views.

std::string Numbered(const char* prefix, int number) {
    char text[32];
    wsprintfA(text, "%s%04d", prefix, number);
    return text;
}

TEST_F(InstalledProgramsTest, FiveHundredRowsOverBothViewsThenThePartialNote) {
    Section baseline = Collect();
    ASSERT_EQ(kCompleteNote, baseline.note);
    const int others = (int)baseline.rows.size();
    ASSERT_LT(others, 400) << "the prefix holds too many programs of its own";

    // Exactly 500 eligible entries: all written, complete.
    CreateNumberedEntries(KEY_WOW64_32KEY, L"ZEQTest-R", 500 - others, true);
    Section exact = Collect();
    EXPECT_EQ(500u, exact.rows.size());
    EXPECT_EQ((size_t)(500 - others), FixtureRows(exact).size());
    EXPECT_EQ(kCompleteNote, exact.note);

    // A 501st in the 64-bit view: the limit is met in the second pass, after
    // every row of the first.
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-Z64", {Text(L"DisplayName", L"ZEQTest-Z64")});
    UseTestRegistry();
    Section overSecond = Collect();
    EXPECT_EQ(500u, overSecond.rows.size());
    EXPECT_EQ(kPartialNote, overSecond.note);
    std::vector<Row> fixtureRows = FixtureRows(overSecond);
    fixtureRows.resize(std::min(fixtureRows.size(), (size_t)(500 - others)));
    EXPECT_EQ(FixtureRows(exact), fixtureRows);

    // 501 in the 32-bit view alone: the limit is met in the first pass; the
    // 64-bit view is still opened but gives nothing.
    RemoveFixtures();
    CreateNumberedEntries(KEY_WOW64_32KEY, L"ZEQTest-R", 501, true);
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-Z64", {Text(L"DisplayName", L"ZEQTest-Z64")});
    UseTestRegistry();
    Section overFirst = Collect();
    EXPECT_EQ(500u, overFirst.rows.size());
    EXPECT_EQ(kPartialNote, overFirst.note);
    EXPECT_EQ(1, uninstallOpens[1]);
    fixtureRows = FixtureRows(overFirst);
    ASSERT_GE(fixtureRows.size(), (size_t)(500 - others));
    ASSERT_LT(fixtureRows.size(), 501u);
    for (size_t i = 0; i < fixtureRows.size(); ++i) {
        EXPECT_EQ(Numbered("ZEQTest-R", (int)i), fixtureRows[i][0].second) << "row " << i;
    }
}

// ---------------------------------------------------------------------------
// A view with more subkeys than the walk examines.

TEST_F(InstalledProgramsTest, SubkeysBeyondTheThousandthMarkTheListPartial) {
    Section baseline = Collect();
    ASSERT_EQ(kCompleteNote, baseline.note);
    const int others = (int)SubkeyNames(KEY_WOW64_32KEY).size();
    ASSERT_LT(others, 900);

    // Exactly 1000 subkeys: every one examined, nothing left out.
    CreateNumberedEntries(KEY_WOW64_32KEY, L"ZEQTest-S", 1000 - others, false);
    ASSERT_EQ(1000u, SubkeyNames(KEY_WOW64_32KEY).size());
    UseTestRegistry();
    EXPECT_EQ(kCompleteNote, Collect().note);

    // The 1001st, eligible and enumerated last, is not examined: partial.
    CreateEntry(KEY_WOW64_32KEY, L"ZEQTest-T", {Text(L"DisplayName", L"ZEQTest-Ultimo")});
    std::vector<std::wstring> names = SubkeyNames(KEY_WOW64_32KEY);
    ASSERT_EQ(1001u, names.size());
    ASSERT_EQ(L"ZEQTest-T", names.back()) << "the prefix's own entries must sort before ZEQTest-";
    UseTestRegistry();
    Section section = Collect();
    EXPECT_EQ(kPartialNote, section.note);
    EXPECT_TRUE(FixtureRows(section).empty());
    EXPECT_EQ(1000u, highestIndex) << "indices 0..999 and one look past the end";
}

// ---------------------------------------------------------------------------
// Registry failures the test system cannot produce by itself.

struct FailureCase {
    const char* what;
    RegistryFaults faults;
    std::vector<std::string> names; // fixture rows expected, in order
    const char* note;
};

TEST_F(InstalledProgramsTest, RegistryFailuresLeaveOutWhatFailedAndMarkTheListPartial) {
    const FailureCase cases[] = {
        {"no failure", {}, {"ZEQTest-A", "ZEQTest-B", "ZEQTest-C", "ZEQTest-D"}, kCompleteNote},
        {"64-bit view refused",
         {0, KEY_WOW64_64KEY, NULL, NULL, false},
         {"ZEQTest-A", "ZEQTest-B"},
         kPartialNote},
        {"32-bit view refused",
         {0, KEY_WOW64_32KEY, NULL, NULL, false},
         {"ZEQTest-C", "ZEQTest-D"},
         kPartialNote},
        // The first row then comes from the second pass: no separator before it.
        {"32-bit view missing",
         {KEY_WOW64_32KEY, 0, NULL, NULL, false},
         {"ZEQTest-C", "ZEQTest-D"},
         kCompleteNote},
        {"subkey name too long",
         {0, 0, L"ZEQTest-B32", NULL, false},
         {"ZEQTest-A", "ZEQTest-C", "ZEQTest-D"},
         kPartialNote},
        {"subkey cannot be opened",
         {0, 0, NULL, L"ZEQTest-C64", false},
         {"ZEQTest-A", "ZEQTest-B", "ZEQTest-D"},
         kPartialNote},
    };
    CreateEntry(KEY_WOW64_32KEY, L"ZEQTest-A32", {Text(L"DisplayName", L"ZEQTest-A")});
    CreateEntry(KEY_WOW64_32KEY, L"ZEQTest-B32", {Text(L"DisplayName", L"ZEQTest-B")});
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-C64", {Text(L"DisplayName", L"ZEQTest-C")});
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-D64", {Text(L"DisplayName", L"ZEQTest-D")});

    for (const FailureCase& failure : cases) {
        SCOPED_TRACE(failure.what);
        UseTestRegistry(failure.faults);
        Section section = Collect();
        std::vector<std::string> names;
        for (const Row& row : FixtureRows(section)) {
            names.push_back(row[0].second);
        }
        EXPECT_EQ(failure.names, names);
        EXPECT_EQ(failure.note, section.note);
        EXPECT_TRUE(openKeys.empty());
        EXPECT_EQ(0, closesOfUnknownKeys);
    }
}

// Read access and nothing more, in the view of each pass. Wine runs everything as
// an administrator, who may open the keys with any mask; a standard user is
// refused anything beyond reading.
TEST_F(InstalledProgramsTest, OpensEveryKeyForReadingInTheViewOfItsPass) {
    CreateEntry(KEY_WOW64_32KEY, L"ZEQTest-A32", {Text(L"DisplayName", L"ZEQTest-A")});
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-C64", {Text(L"DisplayName", L"ZEQTest-C")});
    UseTestRegistry();

    Collect();

    // Runs of the same open, each written once: KEY_READ | KEY_WOW64_32KEY for the
    // first view, KEY_READ | KEY_WOW64_64KEY for the second, KEY_READ for entries.
    const std::vector<std::string> expected = {
        "Uninstall options 0 access 0x20219",
        "entry options 0 access 0x20019",
        "Uninstall options 0 access 0x20119",
        "entry options 0 access 0x20019",
    };
    std::vector<std::string> runs;
    for (const std::string& open : opensAsked) {
        if (runs.empty() || runs.back() != open) {
            runs.push_back(open);
        }
    }
    EXPECT_EQ(expected, runs);
}

TEST_F(InstalledProgramsTest, NeitherViewPresentGivesNoRowsAndTheCompleteNote) {
    RegistryFaults missing = {};
    missing.missingView = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
    UseTestRegistry(missing);

    Section section = Collect();

    EXPECT_EQ(std::string("{\"name\":\"Programas instalados\",\"rows\":[],\"error\":\"") +
                  kCompleteNote + "\"}",
              section.raw);
    EXPECT_EQ(1, uninstallOpens[0]);
    EXPECT_EQ(1, uninstallOpens[1]);
}

TEST_F(InstalledProgramsTest, RefusedMemoryFailsTheBufferAndStillClosesEveryKey) {
    CreateEntry(KEY_WOW64_32KEY, L"ZEQTest-A32", {Text(L"DisplayName", L"ZEQTest-A")});
    CreateEntry(KEY_WOW64_64KEY, L"ZEQTest-C64", {Text(L"DisplayName", L"ZEQTest-C")});
    UseTestRegistry();
    testHeap = TestHeapState();
    testHeap.refuseAlloc = true;
    testHeap.refuseReAlloc = true;
    reportHeap = &kTestHeap;

    ReportBuffer buffer = {};
    CollectInstalledPrograms(&buffer);

    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(0u, buffer.length);
    EXPECT_EQ(1, uninstallOpens[0]);
    EXPECT_EQ(1, uninstallOpens[1]);
    reportHeap = &kProcessHeap;
    ResetBuffer(&buffer);
}

} // namespace
