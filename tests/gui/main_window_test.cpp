// The main window created inside the test process: layout, fonts, initial
// state, painting on white and the close rule.
#include <windows.h>

#include <gtest/gtest.h>

#include "box_watch.h"
#include "net/server_host.h"
#include "shared/app_state.h"
#include "window_fixture.h"

namespace {

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

} // namespace
