#include "report/installed_programs.h"

#include "shared/app_state.h"

namespace {

const char kSectionOpening[] = "{\"name\":\"Programas instalados\",\"rows\":[";

const WCHAR kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The 32-bit view first, then the 64-bit view.
const REGSAM kViewAccess[] = {
    KEY_READ | KEY_WOW64_32KEY, // 0x20219
    KEY_READ | KEY_WOW64_64KEY, // 0x20119
};

const WCHAR* const kOptionalValues[] = {L"DisplayVersion", L"Publisher", L"InstallDate"};

const WCHAR kCompleteNote[] =
    L"Inventario HKLM: puede incluir duplicados entre vistas. No incluye todos los programas "
    L"por usuario ni todas las apps de Microsoft Store.";
const WCHAR kPartialNote[] =
    L"Listado parcial. Se consultan programas del equipo (HKLM); no aplicaciones de otros "
    L"usuarios ni todas las apps de Microsoft Store.";

const DWORD kMaxIndicesPerView = 1000;
const INT32 kMaxRows = 500;
const DWORD kNameUnits = 300;
const DWORD kValueBytes = 4096;
const DWORD kValueUnits = kValueBytes / sizeof(WCHAR);

// What one call carries from entry to entry and from view to view.
struct InventoryWalk {
    INT32 rowCount;
    bool partial;
    WCHAR name[kNameUnits];
    WCHAR value[kValueUnits];
};

// Reads one value into walk->value; true when it is a REG_SZ that fitted.
// Registry text need not carry its terminating zero, and the buffer still
// holds whatever an earlier, longer value left there: the text ends where the
// returned data ends, and never past the buffer's last unit.
bool ReadTextValue(HKEY entryKey, const WCHAR* valueName, InventoryWalk* walk) {
    walk->value[0] = 0;
    DWORD type = 0;
    DWORD size = kValueBytes;
    LSTATUS status =
        programsRegistry->queryValue(entryKey, valueName, NULL, &type, (BYTE*)walk->value, &size);
    if (status == ERROR_SUCCESS && size / sizeof(WCHAR) < kValueUnits) {
        walk->value[size / sizeof(WCHAR)] = 0;
    }
    walk->value[kValueUnits - 1] = 0;
    return status == ERROR_SUCCESS && type == REG_SZ;
}

void AppendRow(ReportBuffer* buffer, HKEY entryKey, InventoryWalk* walk) {
    if (walk->rowCount > 0) {
        AppendBytes(buffer, ",", 1);
    }
    ++walk->rowCount;
    AppendLiteral(buffer, "{\"Name\":");
    AppendJsonString(buffer, walk->value);
    for (const WCHAR* valueName : kOptionalValues) {
        if (ReadTextValue(entryKey, valueName, walk)) {
            AppendBytes(buffer, ",", 1);
            AppendJsonString(buffer, valueName);
            AppendBytes(buffer, ":", 1);
            AppendJsonString(buffer, walk->value);
        }
    }
    AppendBytes(buffer, "}", 1);
}

enum EntryResult {
    ENTRY_NEXT,        // go on with the next index
    ENTRY_END_OF_VIEW, // no more subkeys
    ENTRY_ROW_LIMIT,   // an eligible entry beyond the row limit
};

// Names the view's subkey at index in walk->name.
LSTATUS EnumSubkey(HKEY viewKey, DWORD index, InventoryWalk* walk) {
    DWORD nameLength = kNameUnits;
    return programsRegistry->enumKey(viewKey, index, walk->name, &nameLength, NULL, NULL, NULL,
                                     NULL);
}

EntryResult CollectEntry(ReportBuffer* buffer, HKEY viewKey, DWORD index, InventoryWalk* walk) {
    LSTATUS status = EnumSubkey(viewKey, index, walk);
    if (status == ERROR_NO_MORE_ITEMS) {
        return ENTRY_END_OF_VIEW;
    }
    if (status != ERROR_SUCCESS) {
        walk->partial = true;
        return ENTRY_NEXT;
    }
    HKEY entryKey = NULL;
    if (programsRegistry->openKey(viewKey, walk->name, 0, KEY_READ, &entryKey) != ERROR_SUCCESS) {
        walk->partial = true;
        return ENTRY_NEXT;
    }
    EntryResult result = ENTRY_NEXT;
    bool eligible = ReadTextValue(entryKey, L"DisplayName", walk) && walk->value[0] != 0;
    if (eligible && walk->rowCount >= kMaxRows) {
        walk->partial = true;
        result = ENTRY_ROW_LIMIT;
    } else if (eligible) {
        AppendRow(buffer, entryKey, walk);
    }
    programsRegistry->closeKey(entryKey);
    return result;
}

void CollectView(ReportBuffer* buffer, REGSAM access, InventoryWalk* walk) {
    HKEY viewKey = NULL;
    LSTATUS status =
        programsRegistry->openKey(HKEY_LOCAL_MACHINE, kUninstallPath, 0, access, &viewKey);
    if (status != ERROR_SUCCESS) {
        // A view without the key simply has no programs.
        if (status != ERROR_FILE_NOT_FOUND) {
            walk->partial = true;
        }
        return;
    }
    DWORD index = 0;
    while (index < kMaxIndicesPerView && CollectEntry(buffer, viewKey, index, walk) == ENTRY_NEXT) {
        ++index;
    }
    // Subkeys beyond the last index examined are left out: say so.
    if (index == kMaxIndicesPerView && EnumSubkey(viewKey, index, walk) != ERROR_NO_MORE_ITEMS) {
        walk->partial = true;
    }
    programsRegistry->closeKey(viewKey);
}

} // namespace

const WCHAR kInstalledProgramsTitle[] = L"Programas instalados";

const ProgramsRegistry kSystemRegistry = {RegOpenKeyExW, RegEnumKeyExW, RegQueryValueExW,
                                          RegCloseKey};
const ProgramsRegistry* programsRegistry = &kSystemRegistry;

void CollectInstalledPrograms(ReportBuffer* buffer) {
    PostSectionStatus(kInstalledProgramsTitle);
    AppendLiteral(buffer, kSectionOpening);

    InventoryWalk walk;
    walk.rowCount = 0;
    walk.partial = false;
    for (REGSAM access : kViewAccess) {
        CollectView(buffer, access, &walk);
    }

    AppendLiteral(buffer, "],\"error\":");
    AppendJsonString(buffer, walk.partial ? kPartialNote : kCompleteNote);
    AppendBytes(buffer, "}", 1);
}
