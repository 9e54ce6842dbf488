// Process entry: the headless command-line mode (--collect FILE) or the main
// window with its message loop. Every path ends in ExitProcess.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/main_window.h"
#include "app/report_file.h"
#include "app/report_validity.h"
#include "report/report_builder.h"
#include "shared/app_state.h"

namespace {

const UINT kExitSuccess = 0;
const UINT kExitFailure = 1;

// Outer size of the main window, caption and borders included.
const int kMainWindowWidth = 710;
const int kMainWindowHeight = 670;
const DWORD kMainWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Builds the report on this thread and writes it to path; no window, no network.
[[noreturn]] void RunCommandLineMode(const WCHAR* path) {
    BuildReport(&AppState.report);
    if (!ReportIsValid(&AppState.report)) {
        ExitProcess(kExitFailure);
    }
    ExitProcess(SaveReportToFile(path, &AppState.report) ? kExitSuccess : kExitFailure);
}

[[noreturn]] void RunInteractiveMode() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls); // a failure shows up as a missing progress bar only

    RegisterMainWindowClass(); // if this fails, CreateWindowExW fails below

    HWND window = CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, kMainWindowStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, kMainWindowWidth, kMainWindowHeight,
                                  NULL, NULL, GetModuleHandleW(NULL), NULL);
    if (window == NULL) {
        ExitProcess(kExitFailure);
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    // GetMessageW returns -1 on error: that ends the loop like the quit message.
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    ExitProcess(kExitSuccess);
}

[[noreturn]] void RunEntry() {
    int count = 0;
    WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv != NULL && count == 3 && lstrcmpW(argv[1], L"--collect") == 0) {
        RunCommandLineMode(argv[2]); // argv lives until the process ends
    }
    if (argv != NULL) {
        LocalFree(argv);
    }
    RunInteractiveMode();
}

} // namespace

// mingw's C runtime start-up stays in front of the entry (about 13 KiB): it runs
// the static initialisers, TLS callbacks and pseudo-relocations that the static
// runtime libraries expect. Its arguments are not used: the entry splits the
// process's full command line itself.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RunEntry();
}
