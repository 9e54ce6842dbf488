// Test driver, run under Wine: starts ZEQHealth.exe with a given command line
// and reports on one stdout line whether that process showed its main window
// and how it ended. A window found is described and closed with WM_CLOSE, as
// the user's close button would. With --hold FILE, the driver keeps FILE open
// while the program runs, so that it cannot be replaced.
//
// Usage: launch_probe.exe [--hold FILE] EXE [ARGS...]
// Output: "window style=0x<hex> width=<n> height=<n> exit=<n> title=<UTF-8>"
//     or: "nowindow exit=<n>"; exit code 0, or 2 if the program did not end.
#include <windows.h>
#include <stdio.h>

static const DWORD kPollMilliseconds = 100;
static const DWORD kRunLimitMilliseconds = 300000;
static const DWORD kCloseLimitMilliseconds = 20000;

struct WindowSearch {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    WCHAR className[64];
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && GetClassNameW(window, className, 64) > 0 &&
        lstrcmpW(className, L"ZEQHealthWindow") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Appends one argument, quoted, to the command line (the arguments used here hold no quotes).
static void AppendArgument(WCHAR* commandLine, const WCHAR* argument) {
    if (commandLine[0] != 0) {
        lstrcatW(commandLine, L" ");
    }
    lstrcatW(commandLine, L"\"");
    lstrcatW(commandLine, argument);
    lstrcatW(commandLine, L"\"");
}

static void PrintUtf8(const WCHAR* text) {
    char bytes[1024];
    int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    if (count > 0) {
        fwrite(bytes, 1, count - 1, stdout);
    }
}

static DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

int wmain(int argc, WCHAR** argv) {
    int first = 1;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc > 3 && lstrcmpW(argv[1], L"--hold") == 0) {
        held =
            CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            printf("cannot hold the file: error %lu\n", GetLastError());
            return 2;
        }
        first = 3;
    }
    if (argc <= first) {
        printf("usage: launch_probe.exe [--hold FILE] EXE [ARGS...]\n");
        return 2;
    }
    static WCHAR commandLine[8192];
    for (int i = first; i < argc; ++i) {
        AppendArgument(commandLine, argv[i]);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[first], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        printf("cannot start the program: error %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);

    WindowSearch search = {process.dwProcessId, nullptr};
    DWORD waited = 0;
    while (WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_TIMEOUT) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            break;
        }
        waited += kPollMilliseconds;
        if (waited >= kRunLimitMilliseconds) {
            TerminateProcess(process.hProcess, 3);
            printf("timeout\n");
            return 2;
        }
    }

    int result = 0;
    if (search.found == nullptr) {
        printf("nowindow exit=%lu\n", ExitCodeOf(process.hProcess));
    } else {
        WCHAR title[256] = {};
        RECT rect = {};
        GetWindowTextW(search.found, title, 256);
        GetWindowRect(search.found, &rect);
        LONG style = GetWindowLongW(search.found, GWL_STYLE);
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, kCloseLimitMilliseconds) == WAIT_OBJECT_0) {
            exitCode = ExitCodeOf(process.hProcess);
        } else {
            TerminateProcess(process.hProcess, 3);
            result = 2;
        }
        printf("window style=0x%08lx width=%ld height=%ld %s=%lu title=",
               static_cast<unsigned long>(style), rect.right - rect.left, rect.bottom - rect.top,
               result == 0 ? "exit" : "still-running", exitCode);
        PrintUtf8(title);
        printf("\n");
    }
    CloseHandle(process.hProcess);
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    fflush(stdout);
    return result;
}
