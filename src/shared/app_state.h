#pragma once

// What the whole tool shares: the process-wide state record, the window's
// private messages and the status post of the collectors.

#include <windows.h>

#include "shared/report_buffer_record.h"

// Private window messages; always posted, never sent.
const UINT WM_APP_STATUS = WM_APP + 1;   // wParam 0, lParam: constant wide text
const UINT WM_APP_FINISHED = WM_APP + 2; // wParam: RunOutcome, lParam: the worker's thread id

enum RunOutcome {
    OUTCOME_NOT_CONFIRMED = 0,
    OUTCOME_RECEIVED = 1,
    OUTCOME_REPORT_INVALID = 2,
};

// The one process-wide state record: zero at start-up, never freed.
struct ApplicationState {
    HWND mainWindow;
    HWND statusLabel;
    HWND startButton;
    HWND consentCheck;
    HWND saveButton;
    HWND retryButton;
    HWND codeEdit;
    HWND copyButton;
    HWND progressBar;
    HFONT bodyFont;
    HFONT titleFont;
    HFONT codeFont;
    ReportBuffer report;
    bool busy;
    bool codeAvailable;
    // Thread id of the running run's worker (UI thread only): the one sender
    // whose WM_APP_FINISHED the window accepts.
    DWORD runWorker;
    WCHAR receiptCode[64];
    WCHAR finalMessage[400];
};

extern ApplicationState AppState;

// Tells the window, if there is one, which section is being collected. Posted,
// not sent: the collector never waits for the window; the title must outlive
// the message (all titles are constants).
inline void PostSectionStatus(const WCHAR* title) {
    if (AppState.mainWindow != NULL) {
        PostMessageW(AppState.mainWindow, WM_APP_STATUS, 0, (LPARAM)title);
    }
}
