#include "app/main_window.h"

const WCHAR kMainWindowClass[] = L"ZEQHealthWindow";
const WCHAR kMainWindowTitle[] = L"ZEQ Health \u00b7 Diagn\u00f3stico del equipo";
