#include "report/wmi_section.h"

#include "shared/app_state.h"

namespace {

const LONG kFetchTimeoutMs = 2500;
const DWORD kListingBudgetMs = 12000;
const int kMaxPropertiesPerRow = 65;
// WBEM_S_TIMEDOUT says "nothing yet"; the section reports it as a Win32 time-out.
const HRESULT kFetchTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT); // 0x800705B4

// Appended in one piece; the two bytes C3 AD are the í of "límite".
const char kPartialListing[] = ",\"error\":\"Listado parcial: l\xC3\xAD"
                               "mite de registros o tiempo alcanzado.\"";
static_assert(sizeof(kPartialListing) - 1 == 68, "the partial-listing literal is 68 bytes");

HRESULT CoCreateWbemLocator(IWbemLocator** locator) {
    return CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                            (void**)locator);
}

DWORD SystemTickCount() {
    return GetTickCount();
}

HRESULT ConnectToNamespace(IWbemLocator* locator, const WCHAR* wmiNamespace,
                           IWbemServices** services) {
    BSTR resource = SysAllocString(wmiNamespace);
    if (resource == NULL) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = locator->ConnectServer(resource, NULL, NULL, NULL, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                        NULL, NULL, services);
    SysFreeString(resource);
    return hr;
}

HRESULT RunQuery(IWbemServices* services, const WCHAR* query, IEnumWbemClassObject** enumerator) {
    HRESULT hr = E_OUTOFMEMORY;
    BSTR language = SysAllocString(L"WQL");
    BSTR text = SysAllocString(query);
    if (language != NULL && text != NULL) {
        hr = services->ExecQuery(language, text,
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL,
                                 enumerator);
    }
    SysFreeString(text);
    SysFreeString(language);
    return hr;
}

// Writes {name:value,...} for the instance's non-system properties, at most 65 of
// them. A property enumeration that cannot start or breaks off just ends the row.
void WriteRow(ReportBuffer* buffer, IWbemClassObject* instance) {
    BSTR name = NULL;
    VARIANT value;
    CIMTYPE type = CIM_EMPTY;
    int written = 0;

    AppendBytes(buffer, "{", 1);
    instance->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY); // a failure shows as Next failing
    VariantInit(&value);
    while (instance->Next(0, &name, &value, &type, NULL) == WBEM_S_NO_ERROR) {
        // WMI carries unsigned 32-bit properties (AdapterRAM, for one) in a VT_I4;
        // read as signed, a value of 2 GiB or more would come out negative.
        if (type == CIM_UINT32 && value.vt == VT_I4) {
            value.vt = VT_UI4;
        }
        if (written < kMaxPropertiesPerRow) {
            if (written > 0) {
                AppendBytes(buffer, ",", 1);
            }
            AppendJsonString(buffer, name);
            AppendBytes(buffer, ":", 1);
            AppendJsonVariant(buffer, &value);
            ++written;
        }
        SysFreeString(name);
        name = NULL;
        VariantClear(&value);
    }
    // Whatever a final, unsuccessful Next may have left behind.
    SysFreeString(name);
    VariantClear(&value);
    instance->EndEnumeration();
    AppendBytes(buffer, "}", 1);
}

// Fetches and writes rows until the results end, a fetch fails or times out, or a
// limit is reached. Returns the last fetch's HRESULT with a time-out made negative.
HRESULT ListRows(ReportBuffer* buffer, IEnumWbemClassObject* enumerator, INT32 maxRows,
                 DWORD startTick, bool* partial) {
    INT32 rows = 0;
    for (;;) {
        IWbemClassObject* instance = NULL;
        ULONG returned = 0;
        HRESULT hr = enumerator->Next(kFetchTimeoutMs, 1, &instance, &returned);
        if (returned == 0 || instance == NULL) {
            if (instance != NULL) {
                instance->Release();
            }
            return hr == WBEM_S_TIMEDOUT ? kFetchTimedOut : hr;
        }
        // Unsigned subtraction keeps the budget right across the tick counter's wrap.
        if (rows >= maxRows || wmiTickCount() - startTick > kListingBudgetMs) {
            instance->Release();
            *partial = true;
            return hr;
        }
        if (rows > 0) {
            AppendBytes(buffer, ",", 1);
        }
        ++rows;
        WriteRow(buffer, instance);
        instance->Release();
    }
}

} // namespace

HRESULT (*createWbemLocator)(IWbemLocator** locator) = CoCreateWbemLocator;
DWORD (*wmiTickCount)() = SystemTickCount;

void AppendWmiUnavailable(ReportBuffer* buffer, HRESULT hresult) {
    WCHAR text[256];
    wsprintfW(text,
              L"No disponible: WMI 0x%08X. Puede requerir permisos o un proveedor compatible.",
              (DWORD)hresult);
    AppendJsonString(buffer, text);
}

void CollectWmiSection(ReportBuffer* buffer, const WCHAR* title, const WCHAR* wmiNamespace,
                       const WCHAR* query, INT32 maxRows) {
    IWbemLocator* locator = NULL;
    IWbemServices* services = NULL;
    IEnumWbemClassObject* enumerator = NULL;
    bool partial = false;
    DWORD startTick;
    HRESULT hr;

    PostSectionStatus(title);
    AppendLiteral(buffer, "{\"name\":");
    AppendJsonString(buffer, title);
    AppendLiteral(buffer, ",\"rows\":[");

    hr = createWbemLocator(&locator);
    if (SUCCEEDED(hr)) {
        hr = ConnectToNamespace(locator, wmiNamespace, &services);
    }
    if (SUCCEEDED(hr)) {
        hr =
            CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, NULL,
                              RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE);
    }
    if (SUCCEEDED(hr)) {
        hr = RunQuery(services, query, &enumerator);
    }

    // The listing budget starts here: connecting and issuing the query are outside it.
    startTick = wmiTickCount();
    if (SUCCEEDED(hr)) {
        hr = ListRows(buffer, enumerator, maxRows, startTick, &partial);
    }

    AppendBytes(buffer, "]", 1);
    if (FAILED(hr)) {
        AppendLiteral(buffer, ",\"error\":");
        AppendWmiUnavailable(buffer, hr);
    } else if (partial) {
        AppendBytes(buffer, kPartialListing, sizeof(kPartialListing) - 1);
    }
    AppendBytes(buffer, "}", 1);

    if (enumerator != NULL) {
        enumerator->Release();
    }
    if (services != NULL) {
        services->Release();
    }
    if (locator != NULL) {
        locator->Release();
    }
}
