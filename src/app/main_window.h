#pragma once

#include <windows.h>

enum ControlId {
    IDC_CONSENT = 101,
    IDC_START = 102,
    IDC_COPY_CODE = 103,
    IDC_SAVE_JSON = 104,
    IDC_RETRY = 105,
    IDC_PRIVACY = 106,
};

extern const WCHAR kMainWindowClass[];
extern const WCHAR kMainWindowTitle[];

// Registers the main window's class for this module; false when registration
// fails (also when the class is already registered).
bool RegisterMainWindowClass();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateChild(const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int width,
                 int height, int id);
