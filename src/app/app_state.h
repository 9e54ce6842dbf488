#pragma once

#include <windows.h>

#include "report/report_buffer.h"

// Private window messages; always posted, never sent.
const UINT WM_APP_STATUS = WM_APP + 1;   // wParam 0, lParam: constant wide text
const UINT WM_APP_FINISHED = WM_APP + 2; // wParam: RunOutcome, lParam 0

enum RunOutcome {
    OUTCOME_NOT_CONFIRMED = 0,
    OUTCOME_RECEIVED = 1,
    OUTCOME_REPORT_INVALID = 2,
};

enum ControlId {
    IDC_CONSENT = 101,
    IDC_START = 102,
    IDC_COPY_CODE = 103,
    IDC_SAVE_JSON = 104,
    IDC_RETRY = 105,
    IDC_PRIVACY = 106,
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

// Largest report that may be saved from the command line or sent: 2 MiB, inclusive.
const UINT32 kMaxReportBytes = 0x200000;

// A report fit to be written or sent: built without a failure and within the size limit.
inline bool ReportIsValid(const ReportBuffer* report) {
    return !report->failed && report->length <= kMaxReportBytes;
}
