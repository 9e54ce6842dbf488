#include "app/run_controller.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include "app/main_window.h"
#include "app/report_file.h"
#include "app/report_validity.h"
#include "net/server_host.h"
#include "net/submission.h"
#include "report/report_builder.h"
#include "shared/app_state.h"

namespace {

const WCHAR kConsentMissingText[] =
    L"Marca la autorización después de revisar los datos que se enviarán.";
const WCHAR kConsentMissingCaption[] = L"Tu autorización";
const WCHAR kCollectingText[] =
    L"Recopilando datos. Puede tardar varios minutos. Puedes cerrar para interrumpir.";
const WCHAR kThreadFailedText[] = L"No se pudo iniciar la recopilación.";
const WCHAR kSendingText[] = L"Enviando por conexión segura…";
const WCHAR kNotConfirmedText[] =
    L"No se ha confirmado el envío. Comprueba Internet y reintenta, o guarda el JSON para tu "
    L"técnico. En Windows 7 puede faltar TLS 1.2 o certificados actualizados.";
const WCHAR kInvalidReportText[] =
    L"No se pudo preparar un informe válido (memoria o tamaño). Cierra y vuelve a intentarlo.";
const WCHAR kReceivedText[] =
    L"Informe recibido. Comparte este código con tu técnico. Puedes cerrar el programa.";

const WCHAR kSaveCaption[] = L"Guardar informe";
const WCHAR kSavedText[] = L"Informe guardado. Puedes enviárselo a tu técnico.";
const WCHAR kSaveFailedText[] = L"No se pudo guardar el archivo. Elige otra carpeta.";
const WCHAR kDefaultFileName[] = L"ZEQ-informe.json";
// One description/pattern pair, then the empty string that ends the list.
const WCHAR kSaveFilter[] = L"Informe JSON\0*.json\0";
const WCHAR kPrivacyAddress[] = L"https://" ZEQ_SERVER_HOST_LITERAL L"/privacy.php";

const int kMarqueeIntervalMs = 30;

// Which controls an outcome leaves usable; indexed by RunOutcome.
struct OutcomeState {
    bool saveEnabled;
    bool retryEnabled;
    bool codeAvailable;
};

const OutcomeState kOutcomeStates[] = {
    {true, true, false},   // OUTCOME_NOT_CONFIRMED
    {true, false, true},   // OUTCOME_RECEIVED
    {false, false, false}, // OUTCOME_REPORT_INVALID
};

void SetMarquee(bool running) {
    SendMessageW(AppState.progressBar, PBM_SETMARQUEE, running ? TRUE : FALSE,
                 running ? kMarqueeIntervalMs : 0);
}

// The control of the main window that has the keyboard focus, or null.
HWND FocusedControl() {
    HWND focus = GetFocus();
    return focus != NULL && GetParent(focus) == AppState.mainWindow ? focus : NULL;
}

// Disabling the control that has the keyboard focus leaves the focus nowhere,
// and then Tab reaches no control at all. Move it on to the next enabled tab
// stop after `from`, as Tab would. Only while the window is active: taking the
// focus would otherwise activate it over whatever the user is working in.
void MoveFocusOn(HWND from) {
    if (GetActiveWindow() != AppState.mainWindow) {
        return;
    }
    HWND next = GetNextDlgTabItem(AppState.mainWindow, from, FALSE);
    if (next != NULL && IsWindowEnabled(next)) {
        SetFocus(next);
    }
}

// Status texts come only from the tool itself: section titles and the sending
// text, all constants. A pointer from anywhere else is never read.
bool IsOwnStatusText(const WCHAR* text) {
    return text == kSendingText || IsSectionTitle(text);
}

void CopyReceiptCode(HWND window) {
    if (!AppState.codeAvailable || !OpenClipboard(window)) {
        return;
    }
    SIZE_T size = (static_cast<SIZE_T>(lstrlenW(AppState.receiptCode)) + 1) * sizeof(WCHAR);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block != NULL) {
        void* target = GlobalLock(block);
        if (target == NULL) {
            GlobalFree(block);
        } else {
            CopyMemory(target, AppState.receiptCode, size);
            GlobalUnlock(block);
            // Emptied only now, so a failed allocation keeps the former content.
            EmptyClipboard();
            if (SetClipboardData(CF_UNICODETEXT, block) == NULL) {
                GlobalFree(block);
            }
        }
    }
    CloseClipboard();
}

void SaveReport(HWND window) {
    if (AppState.busy || AppState.report.length == 0) {
        return;
    }
    WCHAR path[MAX_PATH] = {};
    lstrcpynW(path, kDefaultFileName, MAX_PATH);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.lpstrFilter = kSaveFilter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"json";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog)) {
        return; // cancelled or failed: nothing to say
    }
    bool saved = SaveReportToFile(path, &AppState.report);
    MessageBoxW(window, saved ? kSavedText : kSaveFailedText, kSaveCaption, MB_OK);
}

void OpenPrivacyPage(HWND window) {
    ShellExecuteW(window, L"open", kPrivacyAddress, NULL, NULL, SW_SHOWNORMAL);
}

} // namespace

void StartRun(bool resendOnly) {
    if (AppState.busy) {
        return;
    }
    if (!resendOnly && SendMessageW(AppState.consentCheck, BM_GETCHECK, 0, 0) != BST_CHECKED) {
        MessageBoxW(AppState.mainWindow, kConsentMissingText, kConsentMissingCaption,
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    AppState.busy = true;
    HWND focused = FocusedControl();
    EnableWindow(AppState.startButton, FALSE);
    EnableWindow(AppState.consentCheck, FALSE);
    EnableWindow(AppState.retryButton, FALSE);
    EnableWindow(AppState.saveButton, FALSE);
    EnableWindow(AppState.copyButton, FALSE);
    if (focused == NULL || !IsWindowEnabled(focused)) {
        MoveFocusOn(focused);
    }
    SetWindowTextW(AppState.statusLabel, kCollectingText);
    SetMarquee(true);

    // The worker's id is how its outcome is told from a post by anyone else.
    DWORD workerId = 0;
    HANDLE worker = CreateThread(
        NULL, 0, RunWorker, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(resendOnly ? 1 : 0)), 0,
        &workerId);
    if (worker != NULL) {
        AppState.runWorker = workerId;
        CloseHandle(worker); // never joined; the thread ends by itself or with the process
        return;
    }
    AppState.busy = false;
    SetWindowTextW(AppState.statusLabel, kThreadFailedText);
    EnableWindow(AppState.startButton, TRUE);
    EnableWindow(AppState.consentCheck, TRUE);
    SetMarquee(false);
}

DWORD WINAPI RunWorker(LPVOID resendOnly) {
    // The worker only posts; every control belongs to the UI thread.
    if (resendOnly == NULL) {
        ResetBuffer(&AppState.report);
        BuildReport(&AppState.report);
    }
    RunOutcome outcome = OUTCOME_REPORT_INVALID;
    if (ReportIsValid(&AppState.report)) {
        PostMessageW(AppState.mainWindow, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(kSendingText));
        if (SubmitReport()) {
            outcome = OUTCOME_RECEIVED;
        } else {
            lstrcpynW(AppState.finalMessage, kNotConfirmedText, ARRAYSIZE(AppState.finalMessage));
            outcome = OUTCOME_NOT_CONFIRMED;
        }
    } else {
        lstrcpynW(AppState.finalMessage, kInvalidReportText, ARRAYSIZE(AppState.finalMessage));
    }
    PostMessageW(AppState.mainWindow, WM_APP_FINISHED, outcome, GetCurrentThreadId());
    return 0;
}

LRESULT OnRunCommand(HWND window, WORD commandId) {
    switch (commandId) {
    case IDC_START:
        StartRun(false);
        break;
    case IDC_COPY_CODE:
        CopyReceiptCode(window);
        break;
    case IDC_SAVE_JSON:
        SaveReport(window);
        break;
    case IDC_RETRY:
        StartRun(true);
        break;
    case IDC_PRIVACY:
        OpenPrivacyPage(window);
        break;
    default:
        break; // the consent box toggles itself
    }
    return 0;
}

LRESULT OnAppStatus(const WCHAR* text) {
    // Any program on the desktop can post to the window: only a run's own texts count.
    if (AppState.busy && IsOwnStatusText(text)) {
        SetWindowTextW(AppState.statusLabel, text);
    }
    return 0;
}

LRESULT OnAppFinished(WPARAM outcome, LPARAM sender) {
    // Only the running run's worker ends the run: a post from anywhere else must
    // not let the save command read a report that the worker is still writing.
    if (!AppState.busy || static_cast<DWORD>(sender) != AppState.runWorker) {
        return 0;
    }
    // An outcome outside the table would leave the window busy for good: it ends
    // like an unconfirmed upload.
    const WCHAR* failureText = AppState.finalMessage;
    if (outcome >= ARRAYSIZE(kOutcomeStates)) {
        outcome = OUTCOME_NOT_CONFIRMED;
        failureText = kNotConfirmedText;
    }
    const OutcomeState& state = kOutcomeStates[outcome];
    AppState.busy = false;
    SetMarquee(false);
    EnableWindow(AppState.saveButton, state.saveEnabled ? TRUE : FALSE);
    EnableWindow(AppState.retryButton, state.retryEnabled ? TRUE : FALSE);
    AppState.codeAvailable = state.codeAvailable;
    EnableWindow(AppState.copyButton, AppState.codeAvailable ? TRUE : FALSE);
    // During a run the privacy button is the only enabled tab stop: the focus is
    // there or on no control at all, and the controls the outcome enabled follow it.
    HWND focused = FocusedControl();
    MoveFocusOn(focused != NULL ? focused : GetDlgItem(AppState.mainWindow, IDC_PRIVACY));
    if (AppState.codeAvailable) {
        SetWindowTextW(AppState.codeEdit, AppState.receiptCode);
        SetWindowTextW(AppState.statusLabel, kReceivedText);
    } else {
        SetWindowTextW(AppState.statusLabel, failureText);
    }
    return 0;
}
