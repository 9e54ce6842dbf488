#include "clipboard.h"

std::wstring ClipboardText(HWND owner) {
    std::wstring text = L"<no text>";
    if (!OpenClipboard(owner)) {
        return L"<clipboard busy>";
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

bool SetClipboardText(const std::wstring& text, HWND owner) {
    if (!OpenClipboard(owner)) {
        return false;
    }
    EmptyClipboard();
    SIZE_T size = (text.size() + 1) * sizeof(WCHAR);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    bool placed = false;
    if (block != nullptr) {
        CopyMemory(GlobalLock(block), text.c_str(), size);
        GlobalUnlock(block);
        placed = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        if (!placed) {
            GlobalFree(block);
        }
    }
    CloseClipboard();
    return placed;
}
