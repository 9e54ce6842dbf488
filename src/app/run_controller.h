#pragma once

#include <windows.h>

void StartRun(bool resendOnly);
DWORD WINAPI RunWorker(LPVOID resendOnly);

// Handlers called from MainWindowProc on the UI thread.
LRESULT OnRunCommand(HWND window, WORD commandId);
LRESULT OnAppStatus(const WCHAR* text);
LRESULT OnAppFinished(WPARAM outcome, LPARAM sender);
