// SaveReportToFile against the real file system of the Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/report_file.h"
#include "report/report_buffer.h"
#include "support/whole_file.h"

namespace {

// A fresh, empty folder for each test, removed with its contents afterwards.
class ReportFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WCHAR temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
        WCHAR name[64];
        wsprintfW(name, L"zeq-report-file-%lx-%lx", GetCurrentProcessId(), GetTickCount());
        folder_ = std::wstring(temp) + name;
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }

    void TearDown() override {
        RemoveTree(folder_);
    }

    std::wstring In(const std::wstring& name) const {
        return folder_ + L"\\" + name;
    }

    // Names in the folder, "." and ".." left out, in the order the file system gives them.
    std::vector<std::wstring> Listing() const {
        return ListingOf(folder_);
    }

    static std::vector<std::wstring> ListingOf(const std::wstring& folder) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    static void RemoveTree(const std::wstring& folder) {
        for (const std::wstring& name : ListingOf(folder)) {
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(path.c_str())) {
                RemoveTree(path);
            }
        }
        RemoveDirectoryW(folder.c_str());
    }

    // A folder of exactly `units` units inside the test's folder, made of folders
    // of up to 50 units, the last one filled with `fill`. Created in extended form:
    // past 248 units a folder path no longer fits the plain form.
    std::wstring DeepFolder(size_t units, WCHAR fill) const {
        std::wstring deep = folder_;
        EXPECT_LT(deep.size() + 60, units);
        while (deep.size() < units) {
            size_t room = units - deep.size() - 1;
            bool last = room <= 60;
            deep += L"\\" + std::wstring(last ? room : 50, last ? fill : L'd');
            if (!CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) {
                EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
            }
        }
        return deep;
    }

    std::wstring folder_;
};

// The file's bytes, or "<missing>".
std::string Contents(const std::wstring& path) {
    bool ok = false;
    std::string bytes = ReadWholeFile(path, &ok);
    return ok ? bytes : "<missing>";
}

// A report buffer holding exactly these bytes; the caller resets it.
ReportBuffer BufferOf(const std::string& bytes) {
    ReportBuffer buffer = {};
    AppendBytes(&buffer, bytes.data(), static_cast<UINT32>(bytes.size()));
    return buffer;
}

std::string LargeReport() {
    std::string text = "{\"rows\":[";
    while (text.size() < 3 * 1024 * 1024) {
        text += "{\"Name\":\"Controlador de red a\xC3\xB1o\\u0009\"},";
    }
    text += "{}]}";
    return text;
}

TEST_F(ReportFileTest, WritesExactlyTheBufferBytesAndNothingElse) {
    const struct {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"small report", "{\"a\":\"\xC3\xA1\"}"},
        {"empty buffer", ""},
        {"bytes of every value", std::string("\x00\x01\x7F\x80\xFF{}", 7)},
        {"3 MiB report", LargeReport()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.label);
        ReportBuffer buffer = BufferOf(testCase.bytes);
        std::wstring target = In(L"informe.json");
        EXPECT_TRUE(SaveReportToFile(target.c_str(), &buffer));
        EXPECT_EQ(testCase.bytes, Contents(target));
        EXPECT_EQ(std::vector<std::wstring>{L"informe.json"}, Listing());
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportFileTest, ReplacesALongerExistingFileWhole) {
    std::wstring target = In(L"informe.json");
    ASSERT_TRUE(WriteWholeFile(target, std::string(100000, 'x')));
    ReportBuffer buffer = BufferOf("{\"report\":2}");
    EXPECT_TRUE(SaveReportToFile(target.c_str(), &buffer));
    EXPECT_EQ("{\"report\":2}", Contents(target));
    EXPECT_EQ(std::vector<std::wstring>{L"informe.json"}, Listing());
    ResetBuffer(&buffer);
}

TEST_F(ReportFileTest, RefusesAMissingOrEmptyPathWithoutCreatingAnything) {
    ReportBuffer buffer = BufferOf("{}");
    EXPECT_FALSE(SaveReportToFile(nullptr, &buffer));
    EXPECT_FALSE(SaveReportToFile(L"", &buffer));
    EXPECT_TRUE(Listing().empty());
    ResetBuffer(&buffer);
}

TEST_F(ReportFileTest, FailsInAFolderThatDoesNotExistAndLeavesNoFile) {
    ReportBuffer buffer = BufferOf("{}");
    std::wstring target = In(L"no-existe\\informe.json");
    EXPECT_FALSE(SaveReportToFile(target.c_str(), &buffer));
    EXPECT_TRUE(Listing().empty());
    ResetBuffer(&buffer);
}

// A target that cannot be replaced (held open by another program, or a folder
// of that name) keeps what it had, and the temporary copy is removed.
TEST_F(ReportFileTest, LeavesATargetThatCannotBeReplacedAsItWas) {
    ReportBuffer buffer = BufferOf("{\"nuevo\":true}");

    std::wstring held = In(L"abierto.json");
    ASSERT_TRUE(WriteWholeFile(held, "{\"anterior\":true}"));
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(SaveReportToFile(held.c_str(), &buffer));
    CloseHandle(holder);
    EXPECT_EQ("{\"anterior\":true}", Contents(held));

    std::wstring folder = In(L"carpeta.json");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_FALSE(SaveReportToFile(folder.c_str(), &buffer));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY,
              GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    std::vector<std::wstring> expected = {L"abierto.json", L"carpeta.json"};
    std::vector<std::wstring> names = Listing();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(expected, names);
    ResetBuffer(&buffer);
}

// The temporary copy has a short name of its own, so any target that can be
// written at all can be saved: a name near the 255-unit limit of one component
// (addressed with "\\?\" because the whole path passes MAX_PATH), or a path
// near MAX_PATH through deep folders.
TEST_F(ReportFileTest, SavesATargetWithALongNameAndFailsWithoutATemporaryCopyLeft) {
    const std::wstring longName = std::wstring(236, L'n') + L".json";
    ASSERT_EQ(241u, longName.size());
    const std::wstring longTarget = L"\\\\?\\" + In(longName);
    ReportBuffer first = BufferOf("{\"largo\":1}");
    EXPECT_TRUE(SaveReportToFile(longTarget.c_str(), &first));
    EXPECT_EQ("{\"largo\":1}", Contents(longTarget));
    EXPECT_EQ(std::vector<std::wstring>{longName}, Listing());

    // A save that fails at the rename still removes its temporary copy.
    HANDLE holder = CreateFileW(longTarget.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    ReportBuffer second = BufferOf("{\"largo\":2}");
    EXPECT_FALSE(SaveReportToFile(longTarget.c_str(), &second));
    CloseHandle(holder);
    EXPECT_EQ("{\"largo\":1}", Contents(longTarget));
    EXPECT_EQ(std::vector<std::wstring>{longName}, Listing());

    ResetBuffer(&second);
    ResetBuffer(&first);
}

// The temporary file "zeqXXXX.tmp" (11 units) goes into the target's folder. A
// path holds at most MAX_PATH (260) units with its terminating zero, so a folder
// of up to 248 units leaves room for it; a longer one, which a target with a
// shorter name can still have, is written in its extended-length form.
TEST(TempFolderTest, FitsInMaxPathOrIsWrittenInExtendedForm) {
    const std::wstring folder248 = L"C:\\" + std::wstring(244, L'd') + L"\\";
    const std::wstring folder249 = L"C:\\" + std::wstring(245, L'd') + L"\\";
    const std::wstring share249 = L"\\\\server\\share\\" + std::wstring(233, L'd') + L"\\";
    const std::wstring slashed249 = L"C:/" + std::wstring(245, L'd') + L"/";
    ASSERT_EQ(248u, folder248.size());
    ASSERT_EQ(249u, folder249.size());
    ASSERT_EQ(249u, share249.size());
    const struct {
        const char* label;
        std::wstring target;
        std::wstring tempFolder;
    } cases[] = {
        {"short path", L"C:\\informes\\informe.json", L"C:\\informes\\"},
        {"bare name", L"informe.json", L""},
        {"folder of 248 units", folder248 + L"informe.json", folder248},
        {"folder of 249 units, name of 1 unit", folder249 + L"x", L"\\\\?\\" + folder249},
        {"folder of 249 units on a share", share249 + L"x",
         L"\\\\?\\UNC\\server\\share\\" + std::wstring(233, L'd') + L"\\"},
        {"folder of 249 units with forward slashes", slashed249 + L"x", L"\\\\?\\" + folder249},
        {"already in extended form", L"\\\\?\\" + folder249 + L"x", L"\\\\?\\" + folder249},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.label);
        int units = -1;
        WCHAR* tempFolder = NewTempFolder(testCase.target.c_str(), &units);
        ASSERT_NE(nullptr, tempFolder);
        EXPECT_EQ(testCase.tempFolder, std::wstring(tempFolder, units));
        HeapFree(GetProcessHeap(), 0, tempFolder);
    }
}

TEST_F(ReportFileTest, SavesATargetWhoseTemporaryPathPassesMaxPath) {
    // Folders down to 249 units, then "\x": 251 in all. The temporary path would
    // be 261 units long without its zero: it needs the extended form, and so do
    // the test's own calls on these folders.
    const std::wstring deep = DeepFolder(249, L'd');
    const std::wstring deepTarget = deep + L"\\x";
    ASSERT_EQ(251u, deepTarget.size());
    ReportBuffer buffer = BufferOf("{\"profundo\":1}");
    EXPECT_TRUE(SaveReportToFile(deepTarget.c_str(), &buffer));
    EXPECT_EQ("{\"profundo\":1}", Contents(L"\\\\?\\" + deepTarget));
    EXPECT_EQ(std::vector<std::wstring>{L"x"}, ListingOf(L"\\\\?\\" + deep));
    ResetBuffer(&buffer);
}

// A relative target is completed with the current folder: what has to fit in
// MAX_PATH is the full path of the temporary file.
TEST_F(ReportFileTest, RelativeTargetIsMeasuredWithTheCurrentFolder) {
    WCHAR previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
    // In a current folder of 247 units, "\zeqXXXX.tmp" and the zero make 260 units;
    // in one of 248 units they make 261.
    const struct {
        size_t currentFolderUnits;
        WCHAR fill;
        bool extended;
    } cases[] = {{247, L'e', false}, {248, L'f', true}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.currentFolderUnits);
        const std::wstring current = DeepFolder(testCase.currentFolderUnits, testCase.fill);
        ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));
        int units = -1;
        WCHAR* tempFolder = NewTempFolder(L"x", &units);
        ASSERT_NE(nullptr, tempFolder);
        EXPECT_EQ(testCase.extended ? L"\\\\?\\" + current + L"\\" : L"",
                  std::wstring(tempFolder, units));
        HeapFree(GetProcessHeap(), 0, tempFolder);

        ReportBuffer buffer = BufferOf("{\"relativo\":1}");
        EXPECT_TRUE(SaveReportToFile(L"x", &buffer));
        ResetBuffer(&buffer);
        ASSERT_TRUE(SetCurrentDirectoryW(previous));
        EXPECT_EQ("{\"relativo\":1}", Contents(L"\\\\?\\" + current + L"\\x"));
        EXPECT_EQ(std::vector<std::wstring>{L"x"}, ListingOf(L"\\\\?\\" + current));
    }
}

// The temporary copy goes beside the target however its folder is written, and goes away.
TEST_F(ReportFileTest, SavesRelativeAndSlashSeparatedPathsWithNoCopyLeftBehind) {
    ASSERT_TRUE(CreateDirectoryW(In(L"sub").c_str(), nullptr));
    WCHAR previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
    const std::wstring absolute = folder_ + L"/sub/absoluta.json";
    const struct {
        const WCHAR* target;
        const WCHAR* savedAs;
    } cases[] = {
        {L"informe.json", L"informe.json"},
        {L"sub/barra.json", L"sub\\barra.json"},
        {L".\\sub\\punto.json", L"sub\\punto.json"},
        {absolute.c_str(), L"sub\\absoluta.json"},
    };
    ReportBuffer buffer = BufferOf("{\"ruta\":1}");
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(testCase.target)));
        EXPECT_TRUE(SaveReportToFile(testCase.target, &buffer));
        EXPECT_EQ("{\"ruta\":1}", Contents(In(testCase.savedAs)));
    }
    SetCurrentDirectoryW(previous);
    std::vector<std::wstring> top = Listing();
    std::sort(top.begin(), top.end());
    EXPECT_EQ((std::vector<std::wstring>{L"informe.json", L"sub"}), top);
    std::vector<std::wstring> sub = ListingOf(In(L"sub"));
    std::sort(sub.begin(), sub.end());
    EXPECT_EQ((std::vector<std::wstring>{L"absoluta.json", L"barra.json", L"punto.json"}), sub);
    ResetBuffer(&buffer);
}

// Stands in for a virus scanner that opens a file just written and lets it go
// a moment later: holds the target until the temporary copy has appeared
// beside it, then a little longer.
struct BriefHolder {
    std::wstring folder;
    HANDLE file;
};

DWORD WINAPI ReleaseAfterTemporaryCopyAppears(LPVOID parameter) {
    BriefHolder* holder = static_cast<BriefHolder*>(parameter);
    const DWORD start = GetTickCount();
    bool seen = false;
    while (!seen && GetTickCount() - start < 10000) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((holder->folder + L"\\zeq*.tmp").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            seen = true;
        } else {
            Sleep(1);
        }
    }
    Sleep(60);
    CloseHandle(holder->file);
    return seen ? 0 : 1;
}

TEST_F(ReportFileTest, RetriesTheRenameWhileAnotherProgramBrieflyHoldsTheTarget) {
    std::wstring target = In(L"informe.json");
    ASSERT_TRUE(WriteWholeFile(target, "{\"anterior\":true}"));
    BriefHolder holder = {folder_, CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_NE(INVALID_HANDLE_VALUE, holder.file);
    HANDLE releaser =
        CreateThread(nullptr, 0, ReleaseAfterTemporaryCopyAppears, &holder, 0, nullptr);
    ASSERT_NE(nullptr, releaser);

    ReportBuffer buffer = BufferOf("{\"nuevo\":true}");
    EXPECT_TRUE(SaveReportToFile(target.c_str(), &buffer));
    WaitForSingleObject(releaser, INFINITE);
    DWORD released = 1;
    GetExitCodeThread(releaser, &released);
    CloseHandle(releaser);
    EXPECT_EQ(0u, released) << "the temporary copy never appeared";
    EXPECT_EQ("{\"nuevo\":true}", Contents(target));
    EXPECT_EQ(std::vector<std::wstring>{L"informe.json"}, Listing());
    ResetBuffer(&buffer);
}

} // namespace
