#include "window_flow.h"

#include <gtest/gtest.h>

#include "box_watch.h"

namespace {

const int kIdConsent = 101;
const int kIdCopy = 103;
const int kIdSave = 104;

BOOL CALLBACK MatchFileNameBox(HWND child, LPARAM parameter) {
    WCHAR className[32] = {};
    GetClassNameW(child, className, ARRAYSIZE(className));
    if (lstrcmpiW(className, L"Edit") == 0 && IsWindowVisible(child) && IsWindowEnabled(child)) {
        *reinterpret_cast<HWND*>(parameter) = child;
        return FALSE;
    }
    return TRUE;
}

// The save dialog's file-name box: its first visible, enabled edit control.
HWND FileNameBox(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(dialog, MatchFileNameBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

std::string Utf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    }
    return utf8;
}

HWND StatusLine(HWND window) {
    return ChildByRow(window, kRowStatus);
}

HWND CodeBox(HWND window) {
    return ChildByRow(window, kRowCode);
}

void TickConsent(HWND window) {
    HWND consent = ChildById(window, kIdConsent);
    Click(consent);
    DWORD start = GetTickCount();
    while (SendMessageW(consent, BM_GETCHECK, 0, 0) != BST_CHECKED &&
           GetTickCount() - start < 5000) {
        Sleep(5);
    }
    ASSERT_EQ(SendMessageW(consent, BM_GETCHECK, 0, 0), BST_CHECKED);
}

std::vector<std::wstring> WatchStatusUntilOutcome(HWND window, const std::wstring& before) {
    std::vector<std::wstring> seen;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kRunTimeoutMs) {
        std::wstring text = ReadText(StatusLine(window));
        bool clickPending = seen.empty() && text == before;
        if (!clickPending && (seen.empty() || seen.back() != text)) {
            seen.push_back(text);
        }
        // Before the click takes effect the line may still show an earlier outcome.
        if (!clickPending &&
            (text == kReceivedText || text == kNotConfirmedText || text == kInvalidText)) {
            break;
        }
        Sleep(2);
    }
    // The outcome's controls are set before its text; give the last message time to finish.
    Sleep(100);
    return seen;
}

std::wstring CopyThroughButton(HWND window) {
    // The clipboard is watched through its sequence number: opening it here while the
    // program copies would make the program's copy fail, silently as it should.
    if (!SetClipboardText(L"contenido anterior")) {
        ADD_FAILURE() << "the clipboard cannot be set";
        return std::wstring();
    }
    DWORD sequence = GetClipboardSequenceNumber();
    Click(ChildById(window, kIdCopy));
    DWORD start = GetTickCount();
    while (GetClipboardSequenceNumber() == sequence && GetTickCount() - start < 5000) {
        Sleep(20);
    }
    Sleep(100);
    return ClipboardText();
}

std::wstring SaveThroughDialog(HWND window, const std::wstring& path, int overwriteAnswer,
                               bool* overwriteAsked) {
    *overwriteAsked = false;
    Click(ChildById(window, kIdSave));
    HWND dialog = WaitForOwnedBox(window, kBoxTimeoutMs);
    if (dialog == nullptr) {
        ADD_FAILURE() << "no save dialog";
        return std::wstring();
    }
    HWND fileName = FileNameBox(dialog);
    if (fileName == nullptr) {
        ADD_FAILURE() << "no file-name box in the save dialog";
        return std::wstring();
    }
    EXPECT_EQ(ReadText(fileName), L"ZEQ-informe.json");
    // Select what is there and type over it, one character at a time.
    SendMessageW(fileName, EM_SETSEL, 0, -1);
    for (WCHAR unit : path) {
        SendMessageW(fileName, WM_CHAR, unit, 1);
    }
    EXPECT_EQ(ReadText(fileName), path);
    ClickBoxButton(dialog, IDOK);

    // Either the overwrite question (owned by the dialog) or the result box (owned by the window).
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kBoxTimeoutMs) {
        HWND question = IsWindow(dialog) ? WaitForOwnedBox(dialog, 50) : nullptr;
        if (question != nullptr) {
            *overwriteAsked = true;
            ClickBoxButton(question, overwriteAnswer);
            WaitForWindowGone(question, kBoxTimeoutMs);
            if (overwriteAnswer != IDYES) {
                ClickBoxButton(dialog, IDCANCEL);
                WaitForWindowGone(dialog, kBoxTimeoutMs);
                return std::wstring();
            }
            continue;
        }
        if (!IsWindow(dialog)) {
            HWND result = WaitForOwnedBox(window, kBoxTimeoutMs);
            if (result == nullptr) {
                ADD_FAILURE() << "no message after saving";
                return std::wstring();
            }
            BoxContent content;
            ReadBox(result, &content);
            EXPECT_STREQ(content.caption, L"Guardar informe");
            EXPECT_TRUE(content.hasOk);
            EXPECT_FALSE(content.hasCancel);
            ClickBoxButton(result, IDOK);
            WaitForWindowGone(result, kBoxTimeoutMs);
            return content.text;
        }
        Sleep(20);
    }
    ADD_FAILURE() << "the save dialog did not close";
    return std::wstring();
}

void CloseWhenIdle(AppSession* app) {
    BoxAnswer answer;
    StartBoxAnswer(&answer, app->window, IDNO, kNoBoxWaitMs);
    RequestClose(*app);
    FinishBoxAnswer(&answer);
    EXPECT_FALSE(answer.seen) << "no question when idle";
    DWORD exitCode = 12345;
    ASSERT_TRUE(WaitForExit(app, kExitTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}
