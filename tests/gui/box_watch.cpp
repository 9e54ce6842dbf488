#include "box_watch.h"

namespace {

const DWORD kPollMs = 10;

struct BoxSearch {
    HWND owner;    // match boxes owned by this window, or
    DWORD process; // by this process when owner is null
    HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM parameter) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    WCHAR className[16] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    if (lstrcmpW(className, L"#32770") != 0 || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (search->owner != nullptr) {
        if (GetWindow(window, GW_OWNER) != search->owner) {
            return TRUE;
        }
    } else {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != search->process) {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

HWND WaitForBox(BoxSearch search, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || GetTickCount() - start > timeoutMs) {
            return search.found;
        }
        Sleep(kPollMs);
    }
}

DWORD WINAPI AnswerBox(LPVOID parameter) {
    BoxAnswer* answer = static_cast<BoxAnswer*>(parameter);
    HWND box = WaitForOwnedBox(answer->owner, answer->timeoutMs);
    if (box != nullptr) {
        answer->seen = true;
        ReadBox(box, &answer->content);
        ClickBoxButton(box, answer->buttonId);
        WaitForWindowGone(box, answer->timeoutMs);
    }
    return 0;
}

} // namespace

HWND WaitForOwnedBox(HWND owner, DWORD timeoutMs) {
    return WaitForBox({owner, 0, nullptr}, timeoutMs);
}

HWND WaitForProcessBox(DWORD processId, DWORD timeoutMs) {
    return WaitForBox({nullptr, processId, nullptr}, timeoutMs);
}

void ReadBox(HWND box, BoxContent* content) {
    ZeroMemory(content, sizeof(*content));
    GetWindowTextW(box, content->caption, ARRAYSIZE(content->caption));
    GetDlgItemTextW(box, 0xFFFF, content->text, ARRAYSIZE(content->text));
    content->hasOk = GetDlgItem(box, IDOK) != nullptr;
    content->hasYes = GetDlgItem(box, IDYES) != nullptr;
    content->hasNo = GetDlgItem(box, IDNO) != nullptr;
    content->hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
}

bool ClickBoxButton(HWND box, int buttonId) {
    HWND button = GetDlgItem(box, buttonId);
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0);
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

void StartBoxAnswer(BoxAnswer* answer, HWND owner, int buttonId, DWORD timeoutMs) {
    ZeroMemory(answer, sizeof(*answer));
    answer->owner = owner;
    answer->buttonId = buttonId;
    answer->timeoutMs = timeoutMs;
    answer->thread = CreateThread(nullptr, 0, AnswerBox, answer, 0, nullptr);
}

void FinishBoxAnswer(BoxAnswer* answer) {
    if (answer->thread != nullptr) {
        WaitForSingleObject(answer->thread, INFINITE);
        CloseHandle(answer->thread);
        answer->thread = nullptr;
    }
}
