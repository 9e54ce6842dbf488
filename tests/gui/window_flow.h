#pragma once

// Steps of the main window's flow as a person performs them, shared by the driver
// programs (against the scripted peer and against the real server): the window's
// rows and texts, ticking consent, watching a run to its outcome, copying the code,
// working the save dialog and closing. Failures are reported through GoogleTest.

#include <windows.h>

#include <string>
#include <vector>

#include "app_session.h"

// Children of the main window in creation order, for those without an identifier.
const int kRowPrivacy = 3;
const int kRowProgress = 6;
const int kRowStatus = 7;
const int kRowCode = 8;

const DWORD kBoxTimeoutMs = 10000;
const DWORD kNoBoxWaitMs = 1500;
const DWORD kRunTimeoutMs = 120000;
const DWORD kExitTimeoutMs = 20000;

const WCHAR kReadyText[] =
    L"Listo. Revisa la informaci\u00f3n y autoriza el env\u00edo para comenzar.";
const WCHAR kCollectingText[] =
    L"Recopilando datos. Puede tardar varios minutos. Puedes cerrar para interrumpir.";
const WCHAR kSendingText[] = L"Enviando por conexi\u00f3n segura\u2026";
const WCHAR kReceivedText[] =
    L"Informe recibido. Comparte este c\u00f3digo con tu t\u00e9cnico. Puedes cerrar el programa.";
const WCHAR kNotConfirmedText[] =
    L"No se ha confirmado el env\u00edo. Comprueba Internet y reintenta, o guarda el JSON para tu "
    L"t\u00e9cnico. En Windows 7 puede faltar TLS 1.2 o certificados actualizados.";
const WCHAR kInvalidText[] = L"No se pudo preparar un informe v\u00e1lido (memoria o tama\u00f1o). "
                             L"Cierra y vuelve a intentarlo.";
const WCHAR kSavedText[] = L"Informe guardado. Puedes envi\u00e1rselo a tu t\u00e9cnico.";

std::string Utf8(const std::wstring& text);

// The status line and the receipt-code box of the main window.
HWND StatusLine(HWND window);
HWND CodeBox(HWND window);

// Ticks the consent box with a click and waits until it shows as checked.
void TickConsent(HWND window);

// Polls the status line every few milliseconds until it shows one of the final
// texts and returns every distinct text seen after `before`, in order.
std::vector<std::wstring> WatchStatusUntilOutcome(HWND window, const std::wstring& before);

// Puts placeholder text on the clipboard, clicks the copy button and returns what
// the clipboard holds once the program has replaced it.
std::wstring CopyThroughButton(HWND window);

// Works the save dialog: types the path into its file-name box and presses Save.
// Returns the final message box's text after answering it with OK; a question
// about overwriting is answered with overwriteAnswer and its appearance recorded.
std::wstring SaveThroughDialog(HWND window, const std::wstring& path, int overwriteAnswer,
                               bool* overwriteAsked);

// Closes the idle window as its close box would: no question, exit code 0.
void CloseWhenIdle(AppSession* app);
