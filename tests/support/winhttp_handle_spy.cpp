#include "support/winhttp_handle_spy.h"

#include <algorithm>
#include <vector>

WinHttpSpyState winHttpSpy;

namespace {

std::vector<HINTERNET> liveHandles;

decltype(&WinHttpOpen) realOpen;
decltype(&WinHttpConnect) realConnect;
decltype(&WinHttpOpenRequest) realOpenRequest;
decltype(&WinHttpCloseHandle) realCloseHandle;
decltype(&WinHttpSetOption) realSetOption;
decltype(&WinHttpReadData) realReadData;

// One refusal of the kind asked for; the next such call goes through again.
bool Refuse(WinHttpRefusal kind) {
    if (winHttpSpy.refusal != kind) {
        return false;
    }
    winHttpSpy.refusal = REFUSE_NOTHING;
    ++winHttpSpy.refusals;
    SetLastError(ERROR_WINHTTP_INTERNAL_ERROR);
    return true;
}

HINTERNET Opened(HINTERNET handle) {
    if (handle != NULL) {
        liveHandles.push_back(handle);
        ++winHttpSpy.openHandles;
        ++winHttpSpy.handlesOpened;
    }
    return handle;
}

HINTERNET WINAPI SpyOpen(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    if (Refuse(REFUSE_OPEN)) {
        return NULL;
    }
    return Opened(realOpen(agent, access, proxy, bypass, flags));
}

HINTERNET WINAPI SpyConnect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved) {
    if (Refuse(REFUSE_CONNECT)) {
        return NULL;
    }
    return Opened(realConnect(session, server, port, reserved));
}

HINTERNET WINAPI SpyOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR path, LPCWSTR version,
                                LPCWSTR referrer, LPCWSTR* types, DWORD flags) {
    if (Refuse(REFUSE_OPEN_REQUEST)) {
        return NULL;
    }
    return Opened(realOpenRequest(connection, verb, path, version, referrer, types, flags));
}

BOOL WINAPI SpyCloseHandle(HINTERNET handle) {
    auto found = std::find(liveHandles.begin(), liveHandles.end(), handle);
    if (found == liveHandles.end()) {
        ++winHttpSpy.unknownCloses;
    } else {
        liveHandles.erase(found);
        --winHttpSpy.openHandles;
    }
    return realCloseHandle(handle);
}

BOOL WINAPI SpySetOption(HINTERNET handle, DWORD option, LPVOID value, DWORD length) {
    if ((option == WINHTTP_OPTION_SECURE_PROTOCOLS && Refuse(REFUSE_SECURE_PROTOCOLS_OPTION)) ||
        (option == WINHTTP_OPTION_REDIRECT_POLICY && Refuse(REFUSE_REDIRECT_POLICY_OPTION))) {
        return FALSE;
    }
    return realSetOption(handle, option, value, length);
}

BOOL WINAPI SpyReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
    if (Refuse(REFUSE_READ_DATA)) {
        return FALSE;
    }
    return realReadData(request, buffer, size, read);
}

// Points this executable's import of `real` from winhttp.dll at `spy`.
bool TakeImport(ULONG_PTR real, ULONG_PTR spy) {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool taken = false;
    for (const IMAGE_IMPORT_DESCRIPTOR* dll =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.VirtualAddress != 0 && dll->Name != 0; ++dll) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + dll->Name), "winhttp.dll") != 0) {
            continue;
        }
        for (IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
             slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != real) {
                continue;
            }
            DWORD protection = 0;
            if (VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE,
                               &protection)) {
                slot->u1.Function = spy;
                VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection,
                               &protection);
                taken = true;
            }
        }
    }
    return taken;
}

template <typename Function>
bool Take(HMODULE winhttp, const char* name, Function* real, Function spy) {
    // Through the address as a number: the function types differ from FARPROC's.
    ULONG_PTR address = reinterpret_cast<ULONG_PTR>(GetProcAddress(winhttp, name));
    *real = reinterpret_cast<Function>(address);
    return address != 0 && TakeImport(address, reinterpret_cast<ULONG_PTR>(spy));
}

bool InstallSpy() {
    HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    return winhttp != NULL && Take(winhttp, "WinHttpOpen", &realOpen, SpyOpen) &&
           Take(winhttp, "WinHttpConnect", &realConnect, SpyConnect) &&
           Take(winhttp, "WinHttpOpenRequest", &realOpenRequest, SpyOpenRequest) &&
           Take(winhttp, "WinHttpCloseHandle", &realCloseHandle, SpyCloseHandle) &&
           Take(winhttp, "WinHttpSetOption", &realSetOption, SpySetOption) &&
           Take(winhttp, "WinHttpReadData", &realReadData, SpyReadData);
}

} // namespace

bool EnsureWinHttpHandleSpy() {
    static const bool installed = InstallSpy();
    return installed;
}

void ResetWinHttpSpyCounts() {
    winHttpSpy.handlesOpened = 0;
    winHttpSpy.unknownCloses = 0;
    winHttpSpy.refusals = 0;
    winHttpSpy.refusal = REFUSE_NOTHING;
}
