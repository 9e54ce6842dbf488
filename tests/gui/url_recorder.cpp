// Stands in for the browser in the privacy test: registered as the handler of
// https addresses, it appends the address it was asked to open to a file.
//   url_recorder.exe OUTPUT-FILE ADDRESS
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr || count != 3) {
        return 2;
    }
    char line[2048];
    int bytes =
        WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, line, sizeof(line) - 1, nullptr, nullptr);
    int result = 1;
    // The test polls the file while it waits; a read that overlaps the open is retried.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
            Sleep(20);
        } else {
            break;
        }
    }
    if (bytes > 0 && file != INVALID_HANDLE_VALUE) {
        line[bytes - 1] = '\n';
        DWORD written = 0;
        result = WriteFile(file, line, bytes, &written, nullptr) && written == DWORD(bytes) ? 0 : 1;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    LocalFree(argv);
    return result;
}
