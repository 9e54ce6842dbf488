// Saving a report. The bytes go to a new temporary file beside the target and
// only a complete, flushed copy is renamed over it: a failed write never
// truncates an earlier file and never leaves a partial report under its name.
#include "app/report_file.h"

namespace {

// "zeqXXXX.tmp": an 8.3 name of fixed length, like GetTempFileNameW's.
const WCHAR kTempNameFormat[] = L"zeq%04x.tmp";
const int kTempNameUnits = 12; // with the zero
// Prefixes of the extended-length form, which the file functions take past MAX_PATH.
const WCHAR kExtendedPrefix[] = L"\\\\?\\";
const WCHAR kExtendedUncPrefix[] = L"\\\\?\\UNC\\";
const int kUncLeadUnits = 2; // the two backslashes that the UNC prefix replaces
// A name already taken (another save, or a copy left by a killed process) costs one more try.
const UINT kTempAttempts = 256;

// A virus scanner may hold a file it has just seen being written for a moment.
const UINT kMoveAttempts = 5;
const DWORD kMoveRetryDelayMs = 50;

// Units of path up to and including the last folder separator; zero for a bare
// name. A colon counts only in a drive-relative "C:name": anywhere else it
// introduces a stream of the file itself.
int FolderPrefixLength(const WCHAR* path) {
    int prefix = 0;
    for (int i = 0; path[i] != 0; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || (i == 1 && path[i] == L':')) {
            prefix = i + 1;
        }
    }
    return prefix;
}

// "\\?\..." and "\\.\...": already past the rules that MAX_PATH belongs to.
bool HasDevicePrefix(const WCHAR* path) {
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

WCHAR* NewPathBuffer(int units) {
    return static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(WCHAR)));
}

// The path made full (current folder, drive, "." and ".." resolved, forward
// slashes turned): a process-heap block, or null.
WCHAR* NewFullPath(const WCHAR* path) {
    DWORD size = GetFullPathNameW(path, 0, NULL, NULL);
    if (size == 0) {
        return NULL;
    }
    WCHAR* full = NewPathBuffer(size);
    if (full != NULL && GetFullPathNameW(path, size, full, NULL) + 1 != size) {
        HeapFree(GetProcessHeap(), 0, full);
        full = NULL;
    }
    return full;
}

// The folder of a full path in extended-length form, for a target whose
// temporary path would not fit in MAX_PATH. That form is taken literally (no
// relative parts, no forward slashes), hence made from the full path.
WCHAR* NewExtendedFolder(const WCHAR* full, int* folderUnits) {
    const WCHAR* prefix = kExtendedPrefix;
    int skipped = 0;
    // "\\server\share\..." becomes "\\?\UNC\server\share\...".
    if (full[0] == L'\\' && full[1] == L'\\') {
        prefix = kExtendedUncPrefix;
        skipped = kUncLeadUnits;
    }
    int kept = FolderPrefixLength(full) - skipped;
    WCHAR* extended = NewPathBuffer(lstrlenW(prefix) + kept + kTempNameUnits);
    if (extended != NULL) {
        lstrcpyW(extended, prefix);
        CopyMemory(extended + lstrlenW(prefix), full + skipped, kept * sizeof(WCHAR));
        *folderUnits = lstrlenW(prefix) + kept;
    }
    return extended;
}

// The target's folder as written, with room for the temporary name after it.
WCHAR* NewFolderAsWritten(const WCHAR* path, int* folderUnits) {
    int folder = FolderPrefixLength(path);
    WCHAR* tempFolder = NewPathBuffer(folder + kTempNameUnits);
    if (tempFolder != NULL) {
        CopyMemory(tempFolder, path, folder * sizeof(WCHAR));
        *folderUnits = folder;
    }
    return tempFolder;
}

// Creates a new, empty file for writing under tempPath, whose first prefix units
// already hold the folder. INVALID_HANDLE_VALUE when no name could be taken.
HANDLE CreateTempFile(WCHAR* tempPath, int prefix) {
    HANDLE file = INVALID_HANDLE_VALUE;
    UINT seed = GetTickCount() + GetCurrentProcessId() * 0x9E37u;
    for (UINT attempt = 0; attempt < kTempAttempts; ++attempt) {
        wsprintfW(tempPath + prefix, kTempNameFormat, (seed + attempt) & 0xFFFFu);
        file =
            CreateFileW(tempPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE ||
            (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
            break;
        }
    }
    return file;
}

bool ReplaceWithTempFile(const WCHAR* tempPath, const WCHAR* path) {
    for (UINT attempt = 1;; ++attempt) {
        if (MoveFileExW(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        DWORD error = GetLastError();
        if (attempt == kMoveAttempts ||
            (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            return false;
        }
        Sleep(kMoveRetryDelayMs);
    }
}

} // namespace

WCHAR* NewTempFolder(const WCHAR* path, int* folderUnits) {
    // Same folder as the target, hence the same volume: the final rename cannot become a copy.
    if (HasDevicePrefix(path)) {
        return NewFolderAsWritten(path, folderUnits);
    }
    // What has to fit is the full path: a relative one is completed with the current folder.
    WCHAR* full = NewFullPath(path);
    if (full == NULL) {
        return NULL;
    }
    WCHAR* tempFolder = FolderPrefixLength(full) + kTempNameUnits > MAX_PATH
                            ? NewExtendedFolder(full, folderUnits)
                            : NewFolderAsWritten(path, folderUnits);
    HeapFree(GetProcessHeap(), 0, full);
    return tempFolder;
}

bool SaveReportToFile(const WCHAR* path, const ReportBuffer* buffer) {
    bool saved = false;
    bool tempCreated = false;
    WCHAR* tempPath = NULL;
    HANDLE file = INVALID_HANDLE_VALUE;
    int prefix = 0;
    DWORD written = 0;

    if (path == NULL || path[0] == 0) {
        goto done;
    }
    tempPath = NewTempFolder(path, &prefix);
    if (tempPath == NULL) {
        goto done;
    }
    file = CreateTempFile(tempPath, prefix);
    if (file == INVALID_HANDLE_VALUE) {
        goto done;
    }
    tempCreated = true;

    if (buffer->length > 0 && (!WriteFile(file, buffer->data, buffer->length, &written, NULL) ||
                               written != buffer->length)) {
        goto done;
    }
    if (!FlushFileBuffers(file)) {
        goto done;
    }
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    saved = ReplaceWithTempFile(tempPath, path);

done:
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (tempCreated && !saved) {
        DeleteFileW(tempPath);
    }
    if (tempPath != NULL) {
        HeapFree(GetProcessHeap(), 0, tempPath);
    }
    return saved;
}
