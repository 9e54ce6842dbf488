// Reading and seeding the clipboard as a person's paste would see it.
#pragma once

#include <windows.h>

#include <string>

// The clipboard's Unicode text, "<no text>" without any, "<clipboard busy>"
// when it cannot be opened.
std::wstring ClipboardText(HWND owner = nullptr);

// Replaces the clipboard's content with text; false when that failed.
bool SetClipboardText(const std::wstring& text, HWND owner = nullptr);
