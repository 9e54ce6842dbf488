#include "report/report_builder.h"

#include <objbase.h>
#include <shlobj.h>

#include "report/installed_programs.h"
#include "report/section_catalogue.h"
#include "report/wmi_section.h"

namespace {

const WCHAR kEventsTitle[] = L"Eventos del sistema (\u00faltimos 7 d\u00edas, m\u00e1ximo 80)";
const WCHAR kEventsNamespace[] = L"ROOT\\CIMV2";
const INT32 kEventsMaxRows = 80;
const WCHAR kEventsQueryTemplate[] =
    L"SELECT EventCode,SourceName,TimeGenerated,Type FROM Win32_NTLogEvent WHERE "
    L"Logfile='System' AND (EventType=1 OR EventType=2) AND "
    L"TimeGenerated>='%04d%02d%02d000000.000000+000'";

// Seven days in FILETIME units (100 ns).
const UINT64 kSevenDays = 7ULL * 86400ULL * 10000000ULL;

const int kGuidTextUnits = 40;
const int kTimeTextUnits = 40;

// Appends everything from the opening brace to the closing "]}".
void AppendDocument(ReportBuffer* buffer, const GUID* reportId) {
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": keep the 36 units between the braces.
    WCHAR guidText[kGuidTextUnits];
    StringFromGUID2(*reportId, guidText, kGuidTextUnits);
    guidText[37] = 0;

    SYSTEMTIME now;
    reportClock->systemTime(&now);
    WCHAR collectedAt[kTimeTextUnits];
    wsprintfW(collectedAt, L"%04d-%02d-%02dT%02d:%02d:%02dZ", now.wYear, now.wMonth, now.wDay,
              now.wHour, now.wMinute, now.wSecond);

    AppendLiteral(
        buffer,
        "{\"schema_version\":1,\"client_version\":\"1.0.0\",\"consent\":true,\"report_id\":");
    AppendJsonString(buffer, guidText + 1);
    AppendLiteral(buffer, ",\"collected_at\":");
    AppendJsonString(buffer, collectedAt);
    AppendLiteral(buffer, ",\"elevated\":");
    AppendLiteral(buffer, administratorTest() ? "true" : "false");
    AppendLiteral(buffer, ",\"sections\":[");

    for (int row = 0; row < kSectionCatalogueRows; ++row) {
        const SectionSpec* section = &SectionCatalogue[row];
        if (row > 0) {
            AppendBytes(buffer, ",", 1);
        }
        CollectWmiSection(buffer, section->title, section->wmiNamespace, section->query,
                          section->maxRows);
    }

    FILETIME fileTimeNow;
    reportClock->systemTimeAsFileTime(&fileTimeNow);
    WCHAR eventsQuery[kEventsQueryUnits];
    FormatSystemEventsQuery(&fileTimeNow, eventsQuery);
    AppendBytes(buffer, ",", 1);
    CollectWmiSection(buffer, kEventsTitle, kEventsNamespace, eventsQuery, kEventsMaxRows);

    AppendBytes(buffer, ",", 1);
    CollectInstalledPrograms(buffer);

    AppendBytes(buffer, "]}", 2);
}

} // namespace

const ReportClock kSystemClock = {GetSystemTime, GetSystemTimeAsFileTime};
const ReportClock* reportClock = &kSystemClock;
BOOL(WINAPI* administratorTest)() = IsUserAnAdmin;

bool IsSectionTitle(const WCHAR* text) {
    for (const SectionSpec& section : SectionCatalogue) {
        if (text == section.title) {
            return true;
        }
    }
    return text == kEventsTitle || text == kInstalledProgramsTitle;
}

void FormatSystemEventsQuery(const FILETIME* now, WCHAR query[kEventsQueryUnits]) {
    ULARGE_INTEGER time;
    time.LowPart = now->dwLowDateTime;
    time.HighPart = now->dwHighDateTime;
    time.QuadPart -= kSevenDays;
    FILETIME weekAgo;
    weekAgo.dwLowDateTime = time.LowPart;
    weekAgo.dwHighDateTime = time.HighPart;
    // Zeroed first: a time the conversion refuses still gives a well-formed query.
    SYSTEMTIME date = {};
    FileTimeToSystemTime(&weekAgo, &date);
    wsprintfW(query, kEventsQueryTemplate, date.wYear, date.wMonth, date.wDay);
}

void BuildReport(ReportBuffer* buffer) {
    if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) {
        buffer->failed = true;
        return;
    }
    // Result ignored on purpose: a later build in the same process finds the
    // security already set and goes on with it.
    CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE, NULL);

    GUID reportId;
    if (SUCCEEDED(CoCreateGuid(&reportId))) {
        AppendDocument(buffer, &reportId);
    } else {
        buffer->failed = true;
    }

    CoUninitialize();
}
