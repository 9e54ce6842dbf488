#pragma once

// Drives a running ZEQHealth.exe from another process as a person would: finds
// its window by class, clicks buttons, presses keys, reads what is on screen.

#include <windows.h>

#include <string>

#include "clipboard.h"
#include "support/whole_file.h"

struct AppSession {
    PROCESS_INFORMATION process;
    HWND window;
};

// Windows form of a path taken from the environment (Unix paths map to Z:).
std::wstring WindowsPathFromEnvironment(const char* name);

// Starts the program and waits for its main window; false if it does not appear.
bool LaunchApp(const std::wstring& program, AppSession* session);

// Asks the window to close as its close box would (WM_SYSCOMMAND, SC_CLOSE).
void RequestClose(const AppSession& session);

// Waits for the process to end; false on timeout. The exit code is stored.
bool WaitForExit(AppSession* session, DWORD timeoutMs, DWORD* exitCode);

// Ends the process if it is still running and releases the handles.
void EndApp(AppSession* session);

// The child with the given control identifier, or the row-th child in creation order.
HWND ChildById(HWND window, int id);
HWND ChildByRow(HWND window, int row);

// Text as the control shows it (WM_GETTEXT, answered by the control's own thread).
std::wstring ReadText(HWND control);

// A click as BM_CLICK, posted so that a modal loop behind it cannot block the caller.
void Click(HWND button);

// Presses and releases a key (with Shift held when shifted) through the input queue.
void PressKey(WORD virtualKey, bool shifted);

// The control that has the keyboard focus in the window's thread.
HWND FocusedControl(HWND window);

// Polls until the control's text equals expected; false on timeout.
bool WaitForText(HWND control, const std::wstring& expected, DWORD timeoutMs);

// Waits for a file to appear and stay unchanged; false on timeout.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

// Asks the test runner for a screenshot of the display, saved as NAME.png in the
// screenshot directory; false when no runner answers.
bool TakeScreenshot(const char* name);

// The control's pixels as shown on the screen, as raw 32-bit rows; "" on failure.
std::string ScreenPixels(HWND control);

// Whether the control's picture changes within the given time (an animation runs).
bool PictureChanges(HWND control, DWORD withinMs);
