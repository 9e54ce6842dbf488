// The run controller's handling of the window's private messages and of the
// commands that need no worker, with the window created inside the test process.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "box_watch.h"
#include "clipboard.h"
#include "window_fixture.h"

namespace {

class RunControllerTest : public MainWindowTest {};

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
        // The state a run leaves before its outcome arrives.
        AppState.busy = true;
        AppState.codeAvailable = !outcomeCase.codeAvailable;
        lstrcpyW(AppState.receiptCode, kSampleCode);
        lstrcpyW(AppState.finalMessage, kSampleFailure);
        SetWindowTextW(AppState.codeEdit, kPreviousCode);
        HWND actions[] = {AppState.startButton, AppState.consentCheck, AppState.retryButton,
                          AppState.saveButton, AppState.copyButton};
        for (HWND control : actions) {
            EnableWindow(control, FALSE);
        }
        SendMessageW(AppState.progressBar, PBM_SETMARQUEE, TRUE, 30);

        PostMessageW(window, WM_APP_FINISHED, outcomeCase.outcome, 0);
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

TEST_F(RunControllerTest, StatusMessageShowsItsText) {
    static const WCHAR kTitles[][40] = {L"Equipo", L"Procesador", L"Programas instalados"};
    for (const WCHAR* title : kTitles) {
        PostMessageW(window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(title));
        PumpMessages();
        EXPECT_EQ(TextOf(AppState.statusLabel), title);
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
    lstrcpyW(AppState.finalMessage, kSampleFailure);
    SendMessageW(window, WM_APP_FINISHED, OUTCOME_NOT_CONFIRMED, 0);
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
