#pragma once

#include <windows.h>
#include <wbemidl.h>

#include "report/report_buffer.h"

// Runs one WQL query and appends one section object
// {"name":...,"rows":[...][,"error":...]} to the buffer. Never fails as a whole.
void CollectWmiSection(ReportBuffer* buffer, const WCHAR* title, const WCHAR* wmiNamespace,
                       const WCHAR* query, INT32 maxRows);

// Appends the Spanish "not available" text for hresult as a JSON string.
void AppendWmiUnavailable(ReportBuffer* buffer, HRESULT hresult);

// Seams: how the locator is created and where ticks come from. Production
// uses CoCreateInstance(CLSID_WbemLocator, ...) and GetTickCount.
extern HRESULT (*createWbemLocator)(IWbemLocator** locator);
extern DWORD (*wmiTickCount)();
