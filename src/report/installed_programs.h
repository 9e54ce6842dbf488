#pragma once

#include "report/report_buffer.h"

extern const WCHAR kInstalledProgramsTitle[];

// Appends the "Programas instalados" section from the uninstall entries of
// HKLM in the 32-bit and then the 64-bit registry view.
void CollectInstalledPrograms(ReportBuffer* buffer);

// The registry calls of the inventory, swappable so that tests can produce
// what the test system's registry will not give (access refused, a failing
// enumeration, text returned without a terminating zero). Production uses
// RegOpenKeyExW, RegEnumKeyExW, RegQueryValueExW and RegCloseKey.
struct ProgramsRegistry {
    LSTATUS(WINAPI* openKey)
    (HKEY parent, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
    LSTATUS(WINAPI* enumKey)
    (HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
     LPDWORD classLength, PFILETIME lastWriteTime);
    LSTATUS(WINAPI* queryValue)
    (HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
    LSTATUS(WINAPI* closeKey)(HKEY key);
};
extern const ProgramsRegistry kSystemRegistry;
extern const ProgramsRegistry* programsRegistry;
