#include "window_fixture.h"

#include <commctrl.h>

#include "app/main_window.h"
#include "shared/app_state.h"

namespace {

const int kOuterWidth = 710;
const int kOuterHeight = 670;
const DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Wine's progress bar animates its marquee with this timer.
const UINT_PTR kMarqueeTimerId = 1;

} // namespace

RECT ChildRect(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool MarqueeRunning() {
    return KillTimer(AppState.progressBar, kMarqueeTimerId) != FALSE;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::wstring TextOf(HWND window) {
    WCHAR text[512] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

void MainWindowTest::SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Registered once per process; later suites find it in place.
    if (!RegisterMainWindowClass()) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    }
}

void MainWindowTest::SetUp() {
    ZeroMemory(&AppState, sizeof(AppState));
    window = CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, kWindowStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, kOuterWidth, kOuterHeight, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
}

void MainWindowTest::TearDown() {
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    PumpMessages();
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    DeleteObject(AppState.bodyFont);
    DeleteObject(AppState.titleFont);
    DeleteObject(AppState.codeFont);
    ZeroMemory(&AppState, sizeof(AppState));
}

HWND MainWindowTest::Child(int row) {
    HWND child = GetWindow(window, GW_CHILD);
    for (int i = 0; i < row && child != nullptr; ++i) {
        child = GetWindow(child, GW_HWNDNEXT);
    }
    return child;
}
