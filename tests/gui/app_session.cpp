#include "app_session.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const WCHAR kMainWindowClassName[] = L"ZEQHealthWindow";
const DWORD kPollMs = 5;
const DWORD kWindowTimeoutMs = 30000;
const DWORD kTextTimeoutMs = 2000;

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    WCHAR className[64] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && lstrcmpW(className, kMainWindowClassName) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring Widen(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1) {
        MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], units);
    }
    return wide;
}

void SendKey(WORD virtualKey, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

} // namespace

std::wstring WindowsPathFromEnvironment(const char* name) {
    const char* value = getenv(name);
    if (value == nullptr) {
        return std::wstring();
    }
    std::wstring path = Widen(value);
    if (!path.empty() && path[0] == L'/') {
        path = L"Z:" + path;
    }
    for (WCHAR& unit : path) {
        if (unit == L'/') {
            unit = L'\\';
        }
    }
    return path;
}

bool LaunchApp(const std::wstring& program, AppSession* session) {
    ZeroMemory(session, sizeof(*session));
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &session->process)) {
        return false;
    }
    WindowSearch search = {session->process.dwProcessId, nullptr};
    DWORD start = GetTickCount();
    while (search.found == nullptr && GetTickCount() - start < kWindowTimeoutMs) {
        EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            Sleep(kPollMs);
        }
    }
    session->window = search.found;
    if (search.found != nullptr) {
        WaitForInputIdle(session->process.hProcess, kWindowTimeoutMs);
    }
    return search.found != nullptr;
}

void RequestClose(const AppSession& session) {
    PostMessageW(session.window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool WaitForExit(AppSession* session, DWORD timeoutMs, DWORD* exitCode) {
    if (WaitForSingleObject(session->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(session->process.hProcess, exitCode) != FALSE;
}

void EndApp(AppSession* session) {
    if (session->process.hProcess != nullptr) {
        if (WaitForSingleObject(session->process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(session->process.hProcess, 99);
            WaitForSingleObject(session->process.hProcess, kWindowTimeoutMs);
        }
        CloseHandle(session->process.hThread);
        CloseHandle(session->process.hProcess);
    }
    ZeroMemory(session, sizeof(*session));
}

HWND ChildById(HWND window, int id) {
    return GetDlgItem(window, id);
}

HWND ChildByRow(HWND window, int row) {
    HWND child = GetWindow(window, GW_CHILD);
    for (int i = 0; i < row && child != nullptr; ++i) {
        child = GetWindow(child, GW_HWNDNEXT);
    }
    return child;
}

std::wstring ReadText(HWND control) {
    WCHAR text[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied);
    return text;
}

void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void PressKey(WORD virtualKey, bool shifted) {
    if (shifted) {
        SendKey(VK_SHIFT, false);
    }
    SendKey(virtualKey, false);
    SendKey(virtualKey, true);
    if (shifted) {
        SendKey(VK_SHIFT, true);
    }
}

HWND FocusedControl(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

bool WaitForText(HWND control, const std::wstring& expected, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    // The texts the control showed meanwhile, each once in order, so a failed
    // wait says what happened instead (a run that ended in an error, a stall).
    std::wstring seen;
    std::wstring last = L"\x1";
    for (std::wstring now = ReadText(control); now != expected; now = ReadText(control)) {
        if (now != last && seen.size() < 2000) {
            seen += (seen.empty() ? L"\"" : L"\" -> \"") + now;
            last = now;
        }
        if (GetTickCount() - start > timeoutMs) {
            char narrow[8192] = "";
            std::wstring said = seen + L"\"";
            WideCharToMultiByte(CP_UTF8, 0, said.c_str(), -1, narrow, sizeof narrow, nullptr,
                                nullptr);
            fprintf(stderr, "WaitForText: not shown within %lu ms; the control showed %s\n",
                    static_cast<unsigned long>(timeoutMs), narrow);
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
}

bool TakeScreenshot(const char* name) {
    std::wstring directory = WindowsPathFromEnvironment("ZEQ_SHOT_DIR");
    if (directory.empty()) {
        return false;
    }
    std::wstring base = directory + L"\\" + Widen(name);
    std::wstring picture = base + L".png";
    DeleteFileW(picture.c_str());
    // Give the window time to paint its latest state before the display is read.
    Sleep(300);
    HANDLE request = CreateFileW((base + L".request").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(request);
    return WaitForFile(picture, 30000);
}

std::string ScreenPixels(HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    std::string pixels;
    if (width <= 0 || height <= 0) {
        return pixels;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY)) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        pixels.resize(static_cast<size_t>(width) * height * 4);
        SelectObject(memory, previous);
        if (GetDIBits(memory, bitmap, 0, height, &pixels[0], &info, DIB_RGB_COLORS) != height) {
            pixels.clear();
        }
        previous = nullptr;
    }
    if (previous != nullptr) {
        SelectObject(memory, previous);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool PictureChanges(HWND control, DWORD withinMs) {
    std::string first = ScreenPixels(control);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < withinMs) {
        Sleep(50);
        if (ScreenPixels(control) != first) {
            return true;
        }
    }
    return false;
}
