#pragma once

#include <windows.h>
#include <winhttp.h>

// Counts the WinHTTP handles that code in this executable opens and closes.
// WinHTTP handles are not kernel handles: GetProcessHandleCount does not see a
// session left open. The spy takes the executable's own imports of WinHttpOpen,
// WinHttpConnect, WinHttpOpenRequest and WinHttpCloseHandle (and of the calls
// it can be told to refuse), so every call made from this executable, the tool's
// code included, goes through it. It stays in place for the rest of the process.
bool EnsureWinHttpHandleSpy();

// The calls the spy can refuse, once each time it is told to, as WinHTTP
// refuses them: null or FALSE with ERROR_WINHTTP_INTERNAL_ERROR.
enum WinHttpRefusal {
    REFUSE_NOTHING,
    REFUSE_OPEN,
    REFUSE_SECURE_PROTOCOLS_OPTION, // WinHttpSetOption(WINHTTP_OPTION_SECURE_PROTOCOLS)
    REFUSE_CONNECT,
    REFUSE_OPEN_REQUEST,
    REFUSE_REDIRECT_POLICY_OPTION, // WinHttpSetOption(WINHTTP_OPTION_REDIRECT_POLICY)
    REFUSE_READ_DATA,
};

struct WinHttpSpyState {
    int openHandles;   // opened through the spy and not yet closed
    int handlesOpened; // since the last ResetWinHttpSpyCounts
    int unknownCloses; // closes of handles the spy did not see opened, or closed twice
    WinHttpRefusal refusal;
    int refusals; // calls refused since the last ResetWinHttpSpyCounts
};

extern WinHttpSpyState winHttpSpy;

// Clears handlesOpened, unknownCloses, refusals and a refusal not yet used;
// handles still open stay counted.
void ResetWinHttpSpyCounts();
