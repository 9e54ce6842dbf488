// Linked only into ZEQHealthNoWindow.exe: the main window's class name is taken
// before the entry routine runs, by a class whose windows refuse to be created,
// so creating the main window fails as it would on a desktop out of resources.
#include <windows.h>

#include "app/main_window.h"

namespace {

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        return FALSE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterRefusingClass() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RefuseCreation;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassW(&windowClass) != 0;
}

const bool kRegistered = RegisterRefusingClass();

} // namespace
