#pragma once

#include <windows.h>

extern const WCHAR kMainWindowClass[];
extern const WCHAR kMainWindowTitle[];

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateChild(const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int width,
                 int height, int id);
