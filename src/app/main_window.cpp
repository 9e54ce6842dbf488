#include "app/main_window.h"

#include <commctrl.h>

#include "app/run_controller.h"
#include "net/server_host.h"
#include "shared/app_state.h"

const WCHAR kMainWindowClass[] = L"ZEQHealthWindow";
const WCHAR kMainWindowTitle[] = L"ZEQ Health · Diagnóstico del equipo";

namespace {

struct FontSpec {
    HFONT* field;
    const WCHAR* face;
    int height; // negative: character height in pixels, internal leading excluded
    int weight;
};

// Created in this order; the body font must exist before the first child.
const FontSpec kFonts[] = {
    {&AppState.bodyFont, L"Segoe UI", -17, FW_NORMAL},
    {&AppState.titleFont, L"Segoe UI", -32, FW_SEMIBOLD},
    {&AppState.codeFont, L"Consolas", -26, FW_SEMIBOLD},
};

struct ChildSpec {
    const WCHAR* className;
    const WCHAR* text;
    DWORD style; // WS_CHILD | WS_VISIBLE are added by CreateChild
    int x;
    int y;
    int width;
    int height;
    int id;
    HWND* keptIn; // null: the handle is not needed later
    HFONT* font;  // null: the body font only
    bool startsDisabled;
};

// The host is a build constant, so the caption is composed by the compiler.
// clang-format off
const WCHAR kConsentCaption[] =
    L"Autorizo recopilar y enviar el informe técnico a\n" ZEQ_SERVER_HOST_LITERAL
    L" para su revisión por mi técnico.";
// clang-format on

const DWORD kTabButton = BS_PUSHBUTTON | WS_TABSTOP;

const ChildSpec kChildren[] = {
    {L"STATIC", L"ZEQ Health", SS_LEFT, 30, 22, 620, 44, 0, NULL, &AppState.titleFont, false},
    {L"STATIC", L"Un informe para tu técnico. Sin instalar nada.", SS_LEFT, 32, 73, 620, 28, 0,
     NULL, NULL, false},
    {L"STATIC",
     L"Recopila hardware y números de serie, Windows, discos, controladores,\n"
     L"programas instalados y eventos técnicos. No lee documentos, contraseñas\n"
     L"ni historial. No permite controlar tu ordenador a distancia.",
     SS_LEFT, 32, 116, 630, 78, 0, NULL, NULL, false},
    {L"BUTTON", L"Ver privacidad y alcance", kTabButton, 32, 202, 230, 32, IDC_PRIVACY, NULL, NULL,
     false},
    {L"BUTTON", kConsentCaption, BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP, 32, 249, 630, 53,
     IDC_CONSENT, &AppState.consentCheck, NULL, false},
    {L"BUTTON", L"Comenzar", BS_DEFPUSHBUTTON | WS_TABSTOP, 32, 323, 190, 44, IDC_START,
     &AppState.startButton, NULL, false},
    {PROGRESS_CLASSW, L"", PBS_MARQUEE, 240, 336, 420, 14, 0, &AppState.progressBar, NULL, false},
    {L"STATIC", L"Listo. Revisa la información y autoriza el envío para comenzar.", SS_LEFT, 32,
     389, 630, 70, 0, &AppState.statusLabel, NULL, false},
    {L"EDIT", L"", ES_CENTER | ES_READONLY, 32, 467, 630, 40, 0, &AppState.codeEdit,
     &AppState.codeFont, false},
    {L"BUTTON", L"Copiar código", kTabButton, 32, 528, 180, 36, IDC_COPY_CODE, &AppState.copyButton,
     NULL, true},
    {L"BUTTON", L"Guardar JSON", kTabButton, 225, 528, 180, 36, IDC_SAVE_JSON, &AppState.saveButton,
     NULL, true},
    {L"BUTTON", L"Reintentar envío", kTabButton, 418, 528, 240, 36, IDC_RETRY,
     &AppState.retryButton, NULL, true},
    {L"STATIC", L"Cierra el programa al terminar. No queda ejecutándose en segundo plano.", SS_LEFT,
     32, 585, 630, 30, 0, NULL, NULL, false},
};

// The action buttons are disabled once all of them exist, before the footer.
const int kFooterRow = 12;

const WCHAR kCloseQuestion[] = L"¿Interrumpir y cerrar? Si el servidor ya recibió el informe, "
                               L"podrá conservarlo. No se guardará una copia local "
                               L"automáticamente.";
const WCHAR kCloseCaption[] = L"Cerrar diagnóstico";

void CreateRows(int first, int end) {
    for (int row = first; row < end; ++row) {
        const ChildSpec& layout = kChildren[row];
        HWND child = CreateChild(layout.className, layout.text, layout.style, layout.x, layout.y,
                                 layout.width, layout.height, layout.id);
        if (layout.font != NULL) {
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(*layout.font), TRUE);
        }
        if (layout.keptIn != NULL) {
            *layout.keptIn = child;
        }
    }
}

LRESULT OnCreate(HWND window) {
    // First: CreateChild and the collectors' status posts take the window from here.
    AppState.mainWindow = window;
    for (const FontSpec& font : kFonts) {
        *font.field = CreateFontW(font.height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.face);
    }
    CreateRows(0, kFooterRow);
    for (int row = 0; row < kFooterRow; ++row) {
        if (kChildren[row].startsDisabled) {
            EnableWindow(*kChildren[row].keptIn, FALSE);
        }
    }
    CreateRows(kFooterRow, ARRAYSIZE(kChildren));
    return 0;
}

LRESULT OnClose(HWND window) {
    // A run in progress is only abandoned after an explicit yes.
    if (AppState.busy &&
        MessageBoxW(window, kCloseQuestion, kCloseCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return 0;
    }
    DestroyWindow(window);
    return 0;
}

LRESULT OnCtlColorStatic(HDC deviceContext) {
    SetBkColor(deviceContext, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

} // namespace

HWND CreateChild(const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int width,
                 int height, int id) {
    HWND child = CreateWindowExW(
        0, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width, height, AppState.mainWindow,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(NULL), NULL);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(AppState.bodyFont), TRUE);
    return child;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        return OnClose(window);
    case WM_COMMAND:
        return OnRunCommand(window, LOWORD(wParam));
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam));
    case WM_APP_STATUS:
        return OnAppStatus(reinterpret_cast<const WCHAR*>(lParam));
    case WM_APP_FINISHED:
        return OnAppFinished(wParam, lParam);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterMainWindowClass() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hIcon = LoadIconW(NULL, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassW(&windowClass) != 0;
}
