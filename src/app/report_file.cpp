// Saving a report. The bytes go to a new temporary file beside the target and
// only a complete, flushed copy is renamed over it: a failed write never
// truncates an earlier file and never leaves a partial report under its name.
#include "app/report_file.h"

// ".<pid>-<tick>-<attempt>.tmp": at most 1 + 8 + 1 + 8 + 1 + 2 + 4 units and the zero.
static const WCHAR kTempSuffixFormat[] = L".%lx-%lx-%u.tmp";
static const int kTempSuffixUnits = 32;
// Another file of the same name (an earlier save in the same tick) only costs a retry.
static const UINT kTempAttempts = 16;

bool SaveReportToFile(const WCHAR* path, const ReportBuffer* buffer) {
    bool saved = false;
    bool tempCreated = false;
    WCHAR* tempPath = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    int pathLength = 0;
    DWORD written = 0;

    if (path == nullptr || path[0] == 0) {
        goto done;
    }
    pathLength = lstrlenW(path);
    tempPath = static_cast<WCHAR*>(
        HeapAlloc(GetProcessHeap(), 0, (pathLength + kTempSuffixUnits) * sizeof(WCHAR)));
    if (tempPath == nullptr) {
        goto done;
    }
    // Same folder as the target, hence the same volume: the final rename cannot become a copy.
    lstrcpyW(tempPath, path);
    for (UINT attempt = 0; attempt < kTempAttempts; ++attempt) {
        wsprintfW(tempPath + pathLength, kTempSuffixFormat, GetCurrentProcessId(), GetTickCount(),
                  attempt);
        file = CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        goto done;
    }
    tempCreated = true;

    if (buffer->length > 0 && (!WriteFile(file, buffer->data, buffer->length, &written, nullptr) ||
                               written != buffer->length)) {
        goto done;
    }
    if (!FlushFileBuffers(file)) {
        goto done;
    }
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    saved = MoveFileExW(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;

done:
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (tempCreated && !saved) {
        DeleteFileW(tempPath);
    }
    if (tempPath != nullptr) {
        HeapFree(GetProcessHeap(), 0, tempPath);
    }
    return saved;
}
