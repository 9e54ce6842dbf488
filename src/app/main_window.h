#pragma once

#include <windows.h>

extern const WCHAR kMainWindowClass[];
extern const WCHAR kMainWindowTitle[];

// Registers the main window's class for this module; false when registration
// fails (also when the class is already registered).
bool RegisterMainWindowClass();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateChild(const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int width,
                 int height, int id);
