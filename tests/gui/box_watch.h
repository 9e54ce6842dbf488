#pragma once

#include <windows.h>

// Message boxes (dialog class "#32770") as a person sees them: found by their
// owner window, read through their text child, answered by clicking a button.

// Returns the first visible "#32770" window owned by owner, waiting up to timeoutMs.
HWND WaitForOwnedBox(HWND owner, DWORD timeoutMs);

// Returns the first visible "#32770" window of the given process, waiting up to timeoutMs.
HWND WaitForProcessBox(DWORD processId, DWORD timeoutMs);

// The box's caption and message text (the static child 0xFFFF).
struct BoxContent {
    WCHAR caption[256];
    WCHAR text[512];
    bool hasOk;
    bool hasYes;
    bool hasNo;
    bool hasCancel;
};
void ReadBox(HWND box, BoxContent* content);

// Clicks a button of the box by identifier (IDOK, IDYES, ...), posted so that a
// modal loop behind the click cannot block the caller.
bool ClickBoxButton(HWND box, int buttonId);

// Waits until the window is gone; false on timeout.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

// Answers the first box owned by owner from a helper thread, so that a test can
// send the message that opens it. The box's content is recorded.
struct BoxAnswer {
    HWND owner;
    int buttonId;
    DWORD timeoutMs;
    bool seen;
    BoxContent content;
    HANDLE thread;
};
void StartBoxAnswer(BoxAnswer* answer, HWND owner, int buttonId, DWORD timeoutMs);
void FinishBoxAnswer(BoxAnswer* answer);
