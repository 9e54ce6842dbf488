// The run controller's handling of the window's private messages and of the
// commands that need no worker, with the window created inside the test process.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/main_window.h"
#include "report/installed_programs.h"
#include "report/section_catalogue.h"
#include "shared/app_state.h"
#include "box_watch.h"
#include "clipboard.h"
#include "window_fixture.h"

namespace {

// Stands for the thread id of a run's worker, the one sender whose outcome counts.
const DWORD kRunWorker = 0x1234;

class RunControllerTest : public MainWindowTest {
  protected:
    // The state a run leaves before its outcome arrives.
    void EnterRun() {
        AppState.busy = true;
        AppState.runWorker = kRunWorker;
        HWND actions[] = {AppState.startButton, AppState.consentCheck, AppState.retryButton,
                          AppState.saveButton, AppState.copyButton};
        for (HWND control : actions) {
            EnableWindow(control, FALSE);
        }
        SendMessageW(AppState.progressBar, PBM_SETMARQUEE, TRUE, 30);
    }

    // Shows the window and makes it the active one, so that it has a keyboard focus.
    void Activate() {
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        SetActiveWindow(window);
        PumpMessages();
        ASSERT_EQ(GetActiveWindow(), window);
    }
};

const WCHAR kSampleCode[] = L"ZEQ-0A1B-2C3D-4E5F";
const WCHAR kSampleFailure[] = L"texto final de prueba";
const WCHAR kPreviousCode[] = L"c\u00f3digo anterior";
const WCHAR kNotConfirmed[] =
    L"No se ha confirmado el env\u00edo. Comprueba Internet y reintenta, o guarda el JSON para tu "
    L"t\u00e9cnico. En Windows 7 puede faltar TLS 1.2 o certificados actualizados.";

struct OutcomeCase {
    const char* name;
    WPARAM outcome;
    bool copyEnabled;
    bool saveEnabled;
    bool retryEnabled;
    bool codeAvailable;
    const WCHAR* status;
    const WCHAR* code;
};

const OutcomeCase kOutcomeCases[] = {
    {"not confirmed", OUTCOME_NOT_CONFIRMED, false, true, true, false, kSampleFailure,
     kPreviousCode},
    {"received", OUTCOME_RECEIVED, true, true, false, true,
     L"Informe recibido. Comparte este c\u00f3digo con tu t\u00e9cnico. Puedes cerrar el "
     L"programa.",
     kSampleCode},
    {"report invalid", OUTCOME_REPORT_INVALID, false, false, false, false, kSampleFailure,
     kPreviousCode},
    // Not one of the worker's outcomes: ends like an unconfirmed upload, never stays busy.
    {"unknown outcome", 3, false, true, true, false, kNotConfirmed, kPreviousCode},
    {"outcome far outside the table", ~WPARAM(0), false, true, true, false, kNotConfirmed,
     kPreviousCode},
};

TEST_F(RunControllerTest, FinishedMessageSetsTheOutcomeState) {
    for (const OutcomeCase& outcomeCase : kOutcomeCases) {
        SCOPED_TRACE(outcomeCase.name);
        EnterRun();
        AppState.codeAvailable = !outcomeCase.codeAvailable;
        lstrcpyW(AppState.receiptCode, kSampleCode);
        lstrcpyW(AppState.finalMessage, kSampleFailure);
        SetWindowTextW(AppState.codeEdit, kPreviousCode);

        PostMessageW(window, WM_APP_FINISHED, outcomeCase.outcome, kRunWorker);
        PumpMessages();

        EXPECT_FALSE(AppState.busy);
        EXPECT_EQ(AppState.codeAvailable, outcomeCase.codeAvailable);
        EXPECT_FALSE(MarqueeRunning());
        EXPECT_EQ(IsWindowEnabled(AppState.copyButton) != FALSE, outcomeCase.copyEnabled);
        EXPECT_EQ(IsWindowEnabled(AppState.saveButton) != FALSE, outcomeCase.saveEnabled);
        EXPECT_EQ(IsWindowEnabled(AppState.retryButton) != FALSE, outcomeCase.retryEnabled);
        EXPECT_FALSE(IsWindowEnabled(AppState.startButton));
        EXPECT_FALSE(IsWindowEnabled(AppState.consentCheck));
        EXPECT_TRUE(IsWindowEnabled(Child(3))); // privacy
        EXPECT_EQ(TextOf(AppState.statusLabel), outcomeCase.status);
        EXPECT_EQ(TextOf(AppState.codeEdit), outcomeCase.code);
    }
}

// Any program on the desktop can post the window's private messages. A status
// text that is not one of the tool's own constants is never read (the pointer
// may lead anywhere), and an outcome counts only from the running run's worker.
TEST_F(RunControllerTest, PostsFromAnyoneButTheRunChangeNothing) {
    static const WCHAR kCopiedTitle[] = L"Equipo";
    const WCHAR kShownBefore[] = L"estado anterior";
    struct PostCase {
        const char* name;
        bool busy;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const WCHAR* shown; // null: nothing changes
    };
    const PostCase cases[] = {
        {"a section title of the catalogue", true, WM_APP_STATUS, 0,
         reinterpret_cast<LPARAM>(SectionCatalogue[3].title), SectionCatalogue[3].title},
        {"the installed-programs title", true, WM_APP_STATUS, 0,
         reinterpret_cast<LPARAM>(kInstalledProgramsTitle), kInstalledProgramsTitle},
        {"the same text at another address", true, WM_APP_STATUS, 0,
         reinterpret_cast<LPARAM>(kCopiedTitle), nullptr},
        {"a pointer to nowhere", true, WM_APP_STATUS, 0, 0x10, nullptr},
        {"a section title with no run", false, WM_APP_STATUS, 0,
         reinterpret_cast<LPARAM>(SectionCatalogue[0].title), nullptr},
        {"an outcome from another sender", true, WM_APP_FINISHED, OUTCOME_RECEIVED, kRunWorker + 4,
         nullptr},
        {"an outcome without a sender", true, WM_APP_FINISHED, OUTCOME_NOT_CONFIRMED, 0, nullptr},
        {"the worker's outcome with no run", false, WM_APP_FINISHED, OUTCOME_NOT_CONFIRMED,
         kRunWorker, nullptr},
    };
    for (const PostCase& post : cases) {
        SCOPED_TRACE(post.name);
        EnterRun();
        AppState.busy = post.busy;
        SetWindowTextW(AppState.statusLabel, kShownBefore);

        PostMessageW(window, post.message, post.wParam, post.lParam);
        PumpMessages();

        EXPECT_EQ(TextOf(AppState.statusLabel), post.shown != nullptr ? post.shown : kShownBefore);
        EXPECT_EQ(AppState.busy, post.busy);
        EXPECT_TRUE(MarqueeRunning());
        EXPECT_FALSE(IsWindowEnabled(AppState.saveButton));
        EXPECT_FALSE(IsWindowEnabled(AppState.retryButton));
        EXPECT_FALSE(IsWindowEnabled(AppState.copyButton));
    }
}

// Disabling the control that has the focus would leave Tab nowhere to go: the
// focus moves on to the next enabled control in tab order (privacy, consent,
// start, copy, save, retry, and round again).
TEST_F(RunControllerTest, FocusMovesToTheNextEnabledControlAfterEachOutcome) {
    Activate();
    struct FocusCase {
        const char* name;
        bool focusOnPrivacy; // else on the window itself
        WPARAM outcome;
        int focused;
    };
    const FocusCase cases[] = {
        {"received", true, OUTCOME_RECEIVED, IDC_COPY_CODE},
        {"not confirmed", true, OUTCOME_NOT_CONFIRMED, IDC_SAVE_JSON},
        {"report invalid", true, OUTCOME_REPORT_INVALID, IDC_PRIVACY},
        {"received, focus on no control", false, OUTCOME_RECEIVED, IDC_COPY_CODE},
        {"not confirmed, focus on no control", false, OUTCOME_NOT_CONFIRMED, IDC_SAVE_JSON},
    };
    for (const FocusCase& focusCase : cases) {
        SCOPED_TRACE(focusCase.name);
        EnterRun();
        SetFocus(focusCase.focusOnPrivacy ? GetDlgItem(window, IDC_PRIVACY) : window);
        PostMessageW(window, WM_APP_FINISHED, focusCase.outcome, kRunWorker);
        PumpMessages();
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), focusCase.focused);
    }
}

// A run started from a focused button moves the focus to the privacy button, the
// only enabled control while it runs, and shows the collecting text until the
// worker's first post (in a resend that post comes at once, too soon for the
// flow tests, which watch from another process, to be sure of seeing the text).
// An empty report ends the run at once, without a request, with the worker's own
// outcome.
TEST_F(RunControllerTest, StartedRunMovesTheFocusOnAndTakesOnlyItsWorkersOutcome) {
    Activate();
    SendMessageW(AppState.consentCheck, BM_SETCHECK, BST_CHECKED, 0);
    const struct {
        const char* name;
        int pressed;
    } cases[] = {{"start", IDC_START}, {"retry", IDC_RETRY}};
    for (const auto& runCase : cases) {
        SCOPED_TRACE(runCase.name);
        AppState.busy = false;
        HWND button = GetDlgItem(window, runCase.pressed);
        EnableWindow(button, TRUE);
        SetFocus(button);
        // Whichever button has the focus, the run is a resend: it keeps the empty
        // report instead of building one.
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_RETRY, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        EXPECT_TRUE(AppState.busy);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_PRIVACY);
        EXPECT_EQ(TextOf(AppState.statusLabel), L"Recopilando datos. Puede tardar varios "
                                                L"minutos. Puedes cerrar para interrumpir.");

        DWORD start = GetTickCount();
        while (AppState.busy && GetTickCount() - start < 10000) {
            PumpMessages();
            Sleep(10);
        }
        EXPECT_FALSE(AppState.busy) << "the worker's outcome was not taken";
        EXPECT_EQ(TextOf(AppState.statusLabel),
                  L"No se pudo preparar un informe válido (memoria o tamaño). Cierra y "
                  L"vuelve a intentarlo.");
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_PRIVACY);
    }
}

TEST_F(RunControllerTest, CopyPutsExactlyTheCodeOnTheClipboardOnlyWhenAvailable) {
    const WCHAR kSentinel[] = L"contenido anterior";
    lstrcpyW(AppState.receiptCode, kSampleCode);

    ASSERT_TRUE(SetClipboardText(kSentinel, window));
    AppState.codeAvailable = false;
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_COPY_CODE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(AppState.copyButton));
    EXPECT_EQ(ClipboardText(window), kSentinel);

    AppState.codeAvailable = true;
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_COPY_CODE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(AppState.copyButton));
    EXPECT_EQ(ClipboardText(window), kSampleCode);
}

TEST_F(RunControllerTest, SaveDoesNothingWhileBusyOrWithoutAReport) {
    // A dialog opening here would be answered by the watcher and recorded.
    char oneByte[] = "{";
    struct {
        const char* name;
        bool busy;
        UINT32 length;
    } cases[] = {{"busy", true, 1}, {"no report", false, 0}};
    for (const auto& saveCase : cases) {
        SCOPED_TRACE(saveCase.name);
        AppState.busy = saveCase.busy;
        AppState.report.data = saveCase.length != 0 ? oneByte : nullptr;
        AppState.report.length = saveCase.length;
        BoxAnswer answer;
        StartBoxAnswer(&answer, window, IDCANCEL, kNoBoxWaitMs);
        SendMessageW(window, WM_COMMAND, IDC_SAVE_JSON, 0);
        FinishBoxAnswer(&answer);
        EXPECT_FALSE(answer.seen);
    }
    AppState.report.data = nullptr;
    AppState.report.length = 0;
}

// Reserves the free address space in blocks no smaller than a thread's stack, so
// that the platform cannot reserve the stack of a new thread until it is released.
class AddressSpaceHog {
  public:
    AddressSpaceHog() {
        const IMAGE_DOS_HEADER* image =
            reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleW(nullptr));
        const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            reinterpret_cast<const BYTE*>(image) + image->e_lfanew);
        SIZE_T stack = headers->OptionalHeader.SizeOfStackReserve;
        for (SIZE_T size = SIZE_T(1) << 30; size > stack; size /= 2) {
            Reserve(size);
        }
        Reserve(stack);
    }

    ~AddressSpaceHog() {
        for (void* block : blocks) {
            VirtualFree(block, 0, MEM_RELEASE);
        }
    }

  private:
    void Reserve(SIZE_T size) {
        while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
            blocks.push_back(block);
        }
    }

    std::vector<void*> blocks;
};

TEST_F(RunControllerTest, FailedThreadStartOnRetryGivesBackStartAndConsent) {
    // The state after an unconfirmed upload: consent ticked but disabled, retry offered.
    SendMessageW(AppState.consentCheck, BM_SETCHECK, BST_CHECKED, 0);
    EnableWindow(AppState.startButton, FALSE);
    EnableWindow(AppState.consentCheck, FALSE);
    AppState.busy = true;
    AppState.runWorker = kRunWorker;
    lstrcpyW(AppState.finalMessage, kSampleFailure);
    SendMessageW(window, WM_APP_FINISHED, OUTCOME_NOT_CONFIRMED, kRunWorker);
    ASSERT_TRUE(IsWindowEnabled(AppState.retryButton));

    {
        AddressSpaceHog hog;
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_RETRY, BN_CLICKED),
                     reinterpret_cast<LPARAM>(AppState.retryButton));
    }

    EXPECT_FALSE(AppState.busy);
    EXPECT_EQ(TextOf(AppState.statusLabel), L"No se pudo iniciar la recopilaci\u00f3n.");
    EXPECT_TRUE(IsWindowEnabled(AppState.startButton));
    EXPECT_TRUE(IsWindowEnabled(AppState.consentCheck));
    EXPECT_EQ(SendMessageW(AppState.consentCheck, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(AppState.retryButton));
    EXPECT_FALSE(IsWindowEnabled(AppState.saveButton));
    EXPECT_FALSE(IsWindowEnabled(AppState.copyButton));
    EXPECT_FALSE(MarqueeRunning());
}

} // namespace
