// The main window created inside the test process, as the entry routine
// creates it: layout, fonts, initial states, painting, the close rule, and the
// run controller's handling of its private messages and the copy command.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "box_watch.h"
#include "net/server_host.h"

namespace {

const int kOuterWidth = 710;
const int kOuterHeight = 670;
const DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Wine's progress bar animates its marquee with this timer.
const UINT_PTR kMarqueeTimerId = 1;

const DWORD kBoxTimeoutMs = 5000;
const DWORD kNoBoxWaitMs = 1500;

enum FontKind { BODY_FONT, TITLE_FONT, CODE_FONT };

struct ExpectedChild {
    const WCHAR* className;
    const WCHAR* text; // null: the consent caption composed from the server host
    DWORD style;       // without WS_CHILD | WS_VISIBLE
    RECT rect;         // left, top, right, bottom in the main window's client area
    int id;
    FontKind font;
    HWND ApplicationState::*keptIn;
    bool enabled;
};

const ExpectedChild kExpectedChildren[] = {
    {L"Static", L"ZEQ Health", 0x0, {30, 22, 650, 66}, 0, TITLE_FONT, nullptr, true},
    {L"Static",
     L"Un informe para tu t\u00e9cnico. Sin instalar nada.",
     0x0,
     {32, 73, 652, 101},
     0,
     BODY_FONT,
     nullptr,
     true},
    {L"Static",
     L"Recopila hardware y n\u00fameros de serie, Windows, discos, controladores,\nprogramas "
     L"instalados y eventos t\u00e9cnicos. No lee documentos, contrase\u00f1as\nni historial. No "
     L"permite controlar tu ordenador a distancia.",
     0x0,
     {32, 116, 662, 194},
     0,
     BODY_FONT,
     nullptr,
     true},
    {L"Button",
     L"Ver privacidad y alcance",
     0x00010000,
     {32, 202, 262, 234},
     106,
     BODY_FONT,
     nullptr,
     true},
    {L"Button",
     nullptr,
     0x00012003,
     {32, 249, 662, 302},
     101,
     BODY_FONT,
     &ApplicationState::consentCheck,
     true},
    {L"Button",
     L"Comenzar",
     0x00010001,
     {32, 323, 222, 367},
     102,
     BODY_FONT,
     &ApplicationState::startButton,
     true},
    {L"msctls_progress32",
     L"",
     0x08,
     {240, 336, 660, 350},
     0,
     BODY_FONT,
     &ApplicationState::progressBar,
     true},
    {L"Static",
     L"Listo. Revisa la informaci\u00f3n y autoriza el env\u00edo para comenzar.",
     0x0,
     {32, 389, 662, 459},
     0,
     BODY_FONT,
     &ApplicationState::statusLabel,
     true},
    {L"Edit", L"", 0x0801, {32, 467, 662, 507}, 0, CODE_FONT, &ApplicationState::codeEdit, true},
    {L"Button",
     L"Copiar c\u00f3digo",
     0x00010000,
     {32, 528, 212, 564},
     103,
     BODY_FONT,
     &ApplicationState::copyButton,
     false},
    {L"Button",
     L"Guardar JSON",
     0x00010000,
     {225, 528, 405, 564},
     104,
     BODY_FONT,
     &ApplicationState::saveButton,
     false},
    {L"Button",
     L"Reintentar env\u00edo",
     0x00010000,
     {418, 528, 658, 564},
     105,
     BODY_FONT,
     &ApplicationState::retryButton,
     false},
    {L"Static",
     L"Cierra el programa al terminar. No queda ejecut\u00e1ndose en segundo plano.",
     0x0,
     {32, 585, 662, 615},
     0,
     BODY_FONT,
     nullptr,
     true},
};
const int kChildCount = ARRAYSIZE(kExpectedChildren);

struct ExpectedFont {
    HFONT ApplicationState::*field;
    const WCHAR* face;
    LONG height;
    LONG weight;
};

const ExpectedFont kExpectedFonts[] = {
    {&ApplicationState::bodyFont, L"Segoe UI", -17, 400},
    {&ApplicationState::titleFont, L"Segoe UI", -32, 600},
    {&ApplicationState::codeFont, L"Consolas", -26, 600},
};

void ComposeConsentCaption(WCHAR* caption, int units) {
    lstrcpynW(caption, L"Autorizo recopilar y enviar el informe t\u00e9cnico a\n", units);
    lstrcatW(caption, serverHost);
    lstrcatW(caption, L" para su revisi\u00f3n por mi t\u00e9cnico.");
}

HFONT FontOf(FontKind kind) {
    switch (kind) {
    case TITLE_FONT:
        return AppState.titleFont;
    case CODE_FONT:
        return AppState.codeFont;
    default:
        return AppState.bodyFont;
    }
}

RECT ChildRect(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Probes Wine's marquee timer; a running marquee is stopped by the probe.
bool MarqueeRunning() {
    return KillTimer(AppState.progressBar, kMarqueeTimerId) != FALSE;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::wstring TextOf(HWND window) {
    WCHAR text[512] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kMainWindowClass;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }

    void SetUp() override {
        ZeroMemory(&AppState, sizeof(AppState));
        window = CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, kWindowStyle, CW_USEDEFAULT,
                                 CW_USEDEFAULT, kOuterWidth, kOuterHeight, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
    }

    void TearDown() override {
        if (IsWindow(window)) {
            DestroyWindow(window);
        }
        PumpMessages();
        MSG quit;
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        DeleteObject(AppState.bodyFont);
        DeleteObject(AppState.titleFont);
        DeleteObject(AppState.codeFont);
        ZeroMemory(&AppState, sizeof(AppState));
    }

    HWND Child(int row) {
        HWND child = GetWindow(window, GW_CHILD);
        for (int i = 0; i < row && child != nullptr; ++i) {
            child = GetWindow(child, GW_HWNDNEXT);
        }
        return child;
    }

    HWND window = nullptr;
};

TEST_F(MainWindowTest, CreationStoresTheWindowHandleFirst) {
    EXPECT_EQ(AppState.mainWindow, window);
}

TEST_F(MainWindowTest, FontsAreCreatedWithTheirFaceHeightAndWeight) {
    for (const ExpectedFont& expected : kExpectedFonts) {
        SCOPED_TRACE(testing::Message() << "font " << &expected - kExpectedFonts);
        HFONT font = AppState.*expected.field;
        ASSERT_NE(font, nullptr);
        LOGFONTW logFont = {};
        ASSERT_EQ(GetObjectW(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
        EXPECT_STREQ(logFont.lfFaceName, expected.face);
        EXPECT_EQ(logFont.lfHeight, expected.height);
        EXPECT_EQ(logFont.lfWeight, expected.weight);
        EXPECT_EQ(logFont.lfWidth, 0);
        EXPECT_EQ(logFont.lfEscapement, 0);
        EXPECT_EQ(logFont.lfOrientation, 0);
        EXPECT_FALSE(logFont.lfItalic);
        EXPECT_FALSE(logFont.lfUnderline);
        EXPECT_FALSE(logFont.lfStrikeOut);
        EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(logFont.lfOutPrecision, OUT_DEFAULT_PRECIS);
        EXPECT_EQ(logFont.lfClipPrecision, CLIP_DEFAULT_PRECIS);
        EXPECT_EQ(logFont.lfQuality, CLEARTYPE_QUALITY);
        EXPECT_EQ(logFont.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);
    }
    EXPECT_NE(AppState.bodyFont, AppState.titleFont);
    EXPECT_NE(AppState.bodyFont, AppState.codeFont);
    EXPECT_NE(AppState.titleFont, AppState.codeFont);
}

TEST_F(MainWindowTest, ChildrenFollowTheLayoutInCreationOrder) {
    WCHAR consentCaption[256];
    ComposeConsentCaption(consentCaption, ARRAYSIZE(consentCaption));
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ++count;
    }
    ASSERT_EQ(count, kChildCount);

    for (int row = 0; row < kChildCount; ++row) {
        const ExpectedChild& expected = kExpectedChildren[row];
        SCOPED_TRACE(testing::Message() << "row " << row + 1);
        HWND child = Child(row);
        ASSERT_NE(child, nullptr);

        WCHAR className[64] = {};
        GetClassNameW(child, className, ARRAYSIZE(className));
        EXPECT_EQ(lstrcmpiW(className, expected.className), 0);
        EXPECT_EQ(TextOf(child), expected.text != nullptr ? expected.text : consentCaption);

        DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        DWORD expectedStyle =
            expected.style | WS_CHILD | WS_VISIBLE | (expected.enabled ? 0 : WS_DISABLED);
        EXPECT_EQ(style, expectedStyle) << std::hex << style << " vs " << expectedStyle;
        EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE), 0);

        RECT rect = ChildRect(child);
        EXPECT_EQ(rect.left, expected.rect.left);
        EXPECT_EQ(rect.top, expected.rect.top);
        EXPECT_EQ(rect.right, expected.rect.right);
        EXPECT_EQ(rect.bottom, expected.rect.bottom);
        EXPECT_EQ(GetDlgCtrlID(child), expected.id);

        HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        EXPECT_EQ(font, FontOf(expected.font));
        LOGFONTW logFont = {};
        ASSERT_EQ(GetObjectW(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
        const ExpectedFont& expectedFont = kExpectedFonts[expected.font];
        EXPECT_STREQ(logFont.lfFaceName, expectedFont.face);
        EXPECT_EQ(logFont.lfHeight, expectedFont.height);
        EXPECT_EQ(logFont.lfWeight, expectedFont.weight);

        EXPECT_EQ(IsWindowEnabled(child) != FALSE, expected.enabled);
        if (expected.keptIn != nullptr) {
            EXPECT_EQ(AppState.*expected.keptIn, child);
        }
    }
}

TEST_F(MainWindowTest, InitialStateIsReadyAndIdle) {
    EXPECT_EQ(SendMessageW(AppState.consentCheck, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(TextOf(AppState.codeEdit), L"");
    EXPECT_FALSE(MarqueeRunning());
    EXPECT_FALSE(AppState.busy);
    EXPECT_FALSE(AppState.codeAvailable);
    EXPECT_EQ(AppState.report.length, 0u);
}

TEST_F(MainWindowTest, ControlColourMessageAnswersWhite) {
    HDC screen = GetDC(nullptr);
    HDC context = CreateCompatibleDC(screen);
    for (int row = 0; row < kChildCount; ++row) {
        SCOPED_TRACE(testing::Message() << "row " << row + 1);
        SetBkColor(context, RGB(200, 10, 10));
        LRESULT brush = SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                                     reinterpret_cast<LPARAM>(Child(row)));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)));
        EXPECT_EQ(GetBkColor(context), RGB(255, 255, 255));
    }
    DeleteDC(context);
    ReleaseDC(nullptr, screen);
}

// Paints a child into a bitmap as the platform would and reads its bottom-right pixel,
// which no text reaches.
COLORREF PaintedCornerColour(HWND child) {
    RECT client = {};
    GetClientRect(child, &client);
    HDC screen = GetDC(nullptr);
    HDC context = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ previous = SelectObject(context, bitmap);
    RECT fill = client;
    FillRect(context, &fill, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SendMessageW(child, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(context),
                 PRF_CLIENT | PRF_ERASEBKGND);
    COLORREF colour = GetPixel(context, client.right - 2, client.bottom - 2);
    SelectObject(context, previous);
    DeleteObject(bitmap);
    DeleteDC(context);
    ReleaseDC(nullptr, screen);
    return colour;
}

TEST_F(MainWindowTest, LabelsAndCodeBoxPaintOnWhite) {
    SetWindowTextW(AppState.codeEdit, L"ZEQ-1A2B-3C4D-5E6F");
    const int whiteRows[] = {0, 1, 2, 7, 8, 12};
    for (int row : whiteRows) {
        SCOPED_TRACE(testing::Message() << "row " << row + 1);
        EXPECT_EQ(PaintedCornerColour(Child(row)), RGB(255, 255, 255));
    }
}

struct CloseCase {
    const char* name;
    bool busy;
    int answer; // button clicked if the question appears
    bool questionExpected;
    bool windowRemains;
};

const CloseCase kCloseCases[] = {
    {"idle closes without a question", false, IDNO, false, false},
    {"busy and No keeps the window", true, IDNO, true, true},
    {"busy and Yes destroys the window", true, IDYES, true, false},
};

TEST_F(MainWindowTest, CloseRule) {
    for (const CloseCase& closeCase : kCloseCases) {
        SCOPED_TRACE(closeCase.name);
        if (!IsWindow(window)) {
            TearDown();
            SetUp();
        }
        AppState.busy = closeCase.busy;
        BoxAnswer answer;
        StartBoxAnswer(&answer, window, closeCase.answer,
                       closeCase.questionExpected ? kBoxTimeoutMs : kNoBoxWaitMs);
        EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
        FinishBoxAnswer(&answer);
        EXPECT_EQ(answer.seen, closeCase.questionExpected);
        if (closeCase.questionExpected) {
            EXPECT_STREQ(answer.content.caption, L"Cerrar diagn\u00f3stico");
            EXPECT_STREQ(answer.content.text,
                         L"\u00bfInterrumpir y cerrar? Si el servidor ya recibi\u00f3 el informe, "
                         L"podr\u00e1 conservarlo. No se guardar\u00e1 una copia local "
                         L"autom\u00e1ticamente.");
            EXPECT_TRUE(answer.content.hasYes);
            EXPECT_TRUE(answer.content.hasNo);
            EXPECT_FALSE(answer.content.hasOk);
            EXPECT_FALSE(answer.content.hasCancel);
        }
        EXPECT_EQ(IsWindow(window) != FALSE, closeCase.windowRemains);
        MSG quit = {};
        bool quitPosted = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        EXPECT_EQ(quitPosted, !closeCase.windowRemains);
        if (quitPosted) {
            EXPECT_EQ(quit.wParam, 0u);
        }
    }
}

const WCHAR kSampleCode[] = L"ZEQ-0A1B-2C3D-4E5F";
const WCHAR kSampleFailure[] = L"texto final de prueba";
const WCHAR kPreviousCode[] = L"c\u00f3digo anterior";

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
};

TEST_F(MainWindowTest, FinishedMessageSetsTheOutcomeState) {
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

TEST_F(MainWindowTest, FinishedMessageWithUnknownOutcomeChangesNothing) {
    AppState.busy = true;
    PostMessageW(window, WM_APP_FINISHED, 3, 0);
    PumpMessages();
    EXPECT_TRUE(AppState.busy);
    EXPECT_FALSE(IsWindowEnabled(AppState.saveButton));
    EXPECT_EQ(TextOf(AppState.statusLabel),
              L"Listo. Revisa la informaci\u00f3n y autoriza el env\u00edo para comenzar.");
}

TEST_F(MainWindowTest, StatusMessageShowsItsText) {
    static const WCHAR kTitles[][40] = {L"Equipo", L"Procesador", L"Programas instalados"};
    for (const WCHAR* title : kTitles) {
        PostMessageW(window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(title));
        PumpMessages();
        EXPECT_EQ(TextOf(AppState.statusLabel), title);
    }
}

std::wstring ClipboardText(HWND owner) {
    std::wstring text;
    if (!OpenClipboard(owner)) {
        return L"<clipboard not opened>";
    }
    HANDLE block = GetClipboardData(CF_UNICODETEXT);
    if (block != nullptr) {
        const WCHAR* data = static_cast<const WCHAR*>(GlobalLock(block));
        if (data != nullptr) {
            text = data;
            GlobalUnlock(block);
        }
    }
    CloseClipboard();
    return text;
}

void PutClipboardText(HWND owner, const WCHAR* text) {
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    SIZE_T size = (lstrlenW(text) + 1) * sizeof(WCHAR);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    CopyMemory(GlobalLock(block), text, size);
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

TEST_F(MainWindowTest, CopyPutsExactlyTheCodeOnTheClipboardOnlyWhenAvailable) {
    const WCHAR kSentinel[] = L"contenido anterior";
    lstrcpyW(AppState.receiptCode, kSampleCode);

    PutClipboardText(window, kSentinel);
    AppState.codeAvailable = false;
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_COPY_CODE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(AppState.copyButton));
    EXPECT_EQ(ClipboardText(window), kSentinel);

    AppState.codeAvailable = true;
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_COPY_CODE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(AppState.copyButton));
    EXPECT_EQ(ClipboardText(window), kSampleCode);
}

TEST_F(MainWindowTest, SaveDoesNothingWhileBusyOrWithoutAReport) {
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

} // namespace
