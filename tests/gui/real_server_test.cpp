// The interactive program against the real collection server, started around this
// driver by real_server_runner.py: one person's whole run, from consent to the
// receipt code, which is then copied and the report saved. What the window showed
// and what the save button wrote are left in ZEQ_E2E_DIR for the runner, which
// compares them with what the server stored.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "app_session.h"
#include "window_flow.h"

namespace {

const int kIdStart = 102;

// ZEQ-XXXX-XXXX-XXXX with upper-case hexadecimal digits.
bool LooksLikeReceiptCode(const std::wstring& code) {
    if (code.size() != 18 || code.compare(0, 4, L"ZEQ-") != 0) {
        return false;
    }
    for (size_t i = 4; i < code.size(); ++i) {
        WCHAR unit = code[i];
        bool hyphen = i == 8 || i == 13;
        bool digit = (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F');
        if (hyphen ? unit != L'-' : !digit) {
            return false;
        }
    }
    return true;
}

class RealServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program = WindowsPathFromEnvironment("ZEQ_APP");
        ASSERT_FALSE(program.empty()) << "ZEQ_APP names the program";
        workDirectory = WindowsPathFromEnvironment("ZEQ_E2E_DIR");
        ASSERT_FALSE(workDirectory.empty()) << "run under real_server_runner.py";
    }

    void TearDown() override {
        EndApp(&app);
    }

    AppSession app = {};
    std::wstring program;
    std::wstring workDirectory;
};

TEST_F(RealServerTest, SubmitsAndShowsTheStoredReportsCodeThenSavesTheSameReport) {
    ASSERT_TRUE(LaunchApp(program, &app));
    TickConsent(app.window);
    DWORD started = GetTickCount();
    Click(ChildById(app.window, kIdStart));
    std::vector<std::wstring> seen = WatchStatusUntilOutcome(app.window, kReadyText);
    DWORD runMs = GetTickCount() - started;
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), kCollectingText);
    EXPECT_EQ(seen[seen.size() - 2], kSendingText);
    ASSERT_EQ(seen.back(), kReceivedText) << Utf8(seen.back());

    std::wstring code = ReadText(CodeBox(app.window));
    EXPECT_TRUE(LooksLikeReceiptCode(code)) << Utf8(code);
    EXPECT_TRUE(WriteWholeFile(workDirectory + L"\\codigo-recibo.txt", Utf8(code)));
    printf("collection and submission: %lu ms; receipt code in the window: %s\n", runMs,
           Utf8(code).c_str());
    EXPECT_TRUE(TakeScreenshot("real-server-receipt"));
    EXPECT_EQ(CopyThroughButton(app.window), code);

    std::wstring saved = workDirectory + L"\\informe-guardado.json";
    DeleteFileW(saved.c_str());
    bool overwriteAsked = true;
    EXPECT_EQ(SaveThroughDialog(app.window, saved, IDNO, &overwriteAsked), kSavedText);
    EXPECT_FALSE(overwriteAsked);
    CloseWhenIdle(&app);
}

} // namespace
