// SaveReportToFile against the real file system of the Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/report_file.h"
#include "report/report_buffer.h"

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
        for (const std::wstring& name : Listing()) {
            std::wstring path = In(name);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(path.c_str())) {
                RemoveDirectoryW(path.c_str());
            }
        }
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring In(const std::wstring& name) const {
        return folder_ + L"\\" + name;
    }

    // Names in the folder, "." and ".." left out, in the order the file system gives them.
    std::vector<std::wstring> Listing() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(In(L"*").c_str(), &found);
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

    std::wstring folder_;
};

std::string ReadWholeFile(const std::wstring& path) {
    std::string content;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        content.append(chunk, read);
    }
    CloseHandle(file);
    return content;
}

void WriteWholeFile(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
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
        EXPECT_EQ(testCase.bytes, ReadWholeFile(target));
        EXPECT_EQ(std::vector<std::wstring>{L"informe.json"}, Listing());
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportFileTest, ReplacesALongerExistingFileWhole) {
    std::wstring target = In(L"informe.json");
    WriteWholeFile(target, std::string(100000, 'x'));
    ReportBuffer buffer = BufferOf("{\"report\":2}");
    EXPECT_TRUE(SaveReportToFile(target.c_str(), &buffer));
    EXPECT_EQ("{\"report\":2}", ReadWholeFile(target));
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
    WriteWholeFile(held, "{\"anterior\":true}");
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(SaveReportToFile(held.c_str(), &buffer));
    CloseHandle(holder);
    EXPECT_EQ("{\"anterior\":true}", ReadWholeFile(held));

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

} // namespace
