// SubmitReport, and the run worker that calls it, against the scripted peer on
// localhost:443 over real TLS.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/report_validity.h"
#include "app/run_controller.h"
#include "net/submission.h"
#include "shared/app_state.h"
#include "support/test_heap.h"
#include "support/test_peer.h"

namespace {

const WCHAR kPreviousCode[] = L"ZEQ-AAAA-BBBB-CCCC";
const char kGoodCode[] = "ZEQ-0A1B-2C3D-4E5F";

// A token of count bytes drawn from the allowed set, full stops included.
std::string Token(size_t count, char seed = 0) {
    static const char kAllowed[] = "0123456789abcdef.";
    std::string token;
    for (size_t i = 0; i < count; ++i) {
        token += kAllowed[(i + seed) % (sizeof(kAllowed) - 1)];
    }
    return token;
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string ReportText() {
    return std::string(AppState.report.data, AppState.report.length);
}

// Response buffers come from the report heap: every block taken during a
// submission must be given back before it returns, whatever the outcome
// (testHeap.liveBlocks is back where it was).

class SubmitReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(PeerDirectory().empty())
            << "run this suite under tests/support/zeq_test_peer.py run";
        // UTF-8 with accents, a quotation mark escape and a line end inside.
        const char report[] = "{\"report_id\":\"r-1\",\"text\":\"A\xC3\xB1o \\\"2\\\"\\u000a\"}";
        AppendBytes(&AppState.report, report, sizeof(report) - 1);
        testHeap = TestHeapState();
        reportHeap = &kTestHeap;
    }
    void TearDown() override {
        reportHeap = &kProcessHeap;
        ResetBuffer(&AppState.report);
    }

    // Runs one submission under the script and checks what must hold whatever
    // the outcome: the buffers are freed, and the code changes only on success.
    bool Submit(const std::string& script) {
        EXPECT_TRUE(SetPeerScenario(script));
        lstrcpyW(AppState.receiptCode, kPreviousCode);
        int blocksBefore = testHeap.liveBlocks;
        bool submitted = SubmitReport();
        EXPECT_EQ(blocksBefore, testHeap.liveBlocks) << "a response buffer was not reset";
        if (!submitted) {
            EXPECT_STREQ(kPreviousCode, AppState.receiptCode);
        }
        return submitted;
    }
};

TEST_F(SubmitReportTest, TokenFormatDecidesWhetherTheReportIsSent) {
    struct Case {
        const char* name;
        std::string token; // the whole body of the token answer
        bool accepted;
    };
    const Case cases[] = {
        {"79 bytes", Token(79), false},
        {"80 bytes", Token(80), true},
        {"200 bytes", Token(200), true},
        {"201 bytes", Token(201), false},
        {"line end after it", Token(100) + "\n", false},
        {"CR LF after it", Token(100) + "\r\n", false},
        {"upper-case hex letter", Token(50) + "A" + Token(49), false},
        {"letter beyond f", Token(50) + "g" + Token(49), false},
        {"space inside", Token(50) + " " + Token(49), false},
        {"quoted", "\"" + Token(100) + "\"", false},
        {"full stops only", std::string(120, '.'), true},
        {"empty", "", false},
        {"over the answer limit", Token(5000), false},
        // Each end of the three allowed ranges, and the byte on either side of it.
        {"0, 9, a, f and full stop",
         std::string(20, '0') + std::string(20, '9') + std::string(20, 'a') + std::string(20, 'f') +
             ".",
         true},
        {"slash, below 0", Token(50) + "/" + Token(49), false},
        {"colon, above 9", Token(50) + ":" + Token(49), false},
        {"backquote, below a", Token(50) + "`" + Token(49), false},
        {"hyphen, below the full stop", Token(50) + "-" + Token(49), false},
        {"byte 0x80", Token(50) + "\x80" + Token(49), false},
        {"byte 0xFF", Token(50) + "\xFF" + Token(49), false},
        {"NUL inside", Token(50) + std::string(1, '\0') + Token(49), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script =
            "200 text:" + PeerEscape(c.token) + "\n" + "200 text:" + kGoodCode + "\n";
        EXPECT_EQ(c.accepted, Submit(script));
        std::vector<PeerRequest> requests = PeerRequests();
        // A refused token means that the report request is never made.
        ASSERT_EQ(c.accepted ? 2u : 1u, requests.size());
        EXPECT_EQ("GET", requests[0].method);
        EXPECT_EQ("/api/token.php", requests[0].path);
        EXPECT_FALSE(requests[0].HasHeader("X-ZEQ-Token"));
        if (c.accepted) {
            EXPECT_EQ(c.token, requests[1].Header("X-ZEQ-Token"));
            EXPECT_STREQ(Wide(kGoodCode).c_str(), AppState.receiptCode);
        }
    }
}

TEST_F(SubmitReportTest, ReceiptCodeMustMatchExactly) {
    struct Case {
        std::string answer;
        bool accepted;
    };
    const Case cases[] = {
        {"ZEQ-0A1B-2C3D-4E5F", true},
        {"ZEQ-0000-0000-0000", true},
        {"ZEQ-FFFF-9999-ABCD", true},
        {"ZEQ-0a1b-2c3d-4e5f", false},
        {"ZEQ-0A1B-2C3D-4E5f", false},
        {"ZEQ-0A1B-2C3D-4E5F\n", false},
        {"ZEQ-0A1B-2C3D-4E5F\r\n", false},
        {" ZEQ-0A1B-2C3D-4E5F", false},
        {"ZEX-0A1B-2C3D-4E5F", false},
        {"zeq-0A1B-2C3D-4E5F", false},
        {"ZEQ_0A1B-2C3D-4E5F", false},
        {"ZEQ-0A1B+2C3D-4E5F", false},
        {"ZEQ-0A1B-2C3D-4E5G", false},
        {"ZEQ-0A1B-2C3D-4E5", false},
        {"ZEQ-0A1B-2C3D-4E5F0", false},
        {"", false},
        // Each end of the digit ranges, and the byte on either side of it.
        {"ZEQ-09AF-09AF-09AF", true},
        {"ZEQ-/A1B-2C3D-4E5F", false},
        {"ZEQ-0A1B-:C3D-4E5F", false},
        {"ZEQ-0A1B-2C3D-@E5F", false},
        {"ZEQ-0A1B-2C3D-4E5`", false},
        {"ZEQ-0A1B-2C3D-4E5g", false},
        {"ZEQ-0A1B-2C\x80"
         "D-4E5F",
         false},
        {"ZEQ-0A1B-2C3D-4E\xFF"
         "F",
         false},
        {std::string("ZEQ-0A1B-2C3D-4E5\0", 18), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        std::string token = Token(90);
        bool submitted = Submit("200 text:" + token + "\n200 text:" + PeerEscape(c.answer) + "\n");
        EXPECT_EQ(c.accepted, submitted);
        // Whatever the answer, the report itself went out.
        ASSERT_EQ(2u, PeerRequests().size());
        if (c.accepted) {
            EXPECT_STREQ(Wide(c.answer).c_str(), AppState.receiptCode);
        }
    }
}

TEST_F(SubmitReportTest, FailedExchangesGiveFalseAndKeepTheCode) {
    struct Case {
        const char* name;
        const char* script;
        size_t requests;
    };
    const Case cases[] = {
        {"token refused", "404 text:no\n200 text:ZEQ-0A1B-2C3D-4E5F\n", 1},
        {"token redirected", "302 header:Location=https://localhost/api/token2.php\n", 1},
        {"report refused", "200 text:%s\n500 text:ZEQ-0A1B-2C3D-4E5F\n", 2},
        {"report answered 201", "200 text:%s\n201 text:ZEQ-0A1B-2C3D-4E5F\n", 2},
        {"no answer to the report", "200 text:%s\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = c.script;
        size_t mark = script.find("%s");
        if (mark != std::string::npos) {
            script.replace(mark, 2, Token(96));
        }
        EXPECT_FALSE(Submit(script));
        EXPECT_EQ(c.requests, PeerRequests().size());
    }
}

TEST_F(SubmitReportTest, ReportGoesOutByteIdenticalWithTheTokenOfTheSameCall) {
    const std::string first = Token(80, 3);
    const std::string second = Token(200, 5);
    // A retry: the same report again, each time with a fresh token.
    ASSERT_TRUE(SetPeerScenario("200 text:" + first + "\n200 text:ZEQ-1111-2222-3333\n" +
                                "200 text:" + second + "\n200 text:ZEQ-4444-5555-6666\n"));
    int blocksBefore = testHeap.liveBlocks;
    ASSERT_TRUE(SubmitReport());
    EXPECT_STREQ(L"ZEQ-1111-2222-3333", AppState.receiptCode);
    ASSERT_TRUE(SubmitReport());
    EXPECT_STREQ(L"ZEQ-4444-5555-6666", AppState.receiptCode);
    EXPECT_EQ(blocksBefore, testHeap.liveBlocks);

    std::vector<PeerRequest> requests = PeerRequests();
    ASSERT_EQ(4u, requests.size());
    const std::string* tokens[] = {&first, &second};
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE(call);
        const PeerRequest& token = requests[2 * call];
        const PeerRequest& report = requests[2 * call + 1];
        EXPECT_EQ("GET", token.method);
        EXPECT_EQ("/api/token.php", token.path);
        EXPECT_EQ("", token.body);
        EXPECT_EQ("POST", report.method);
        EXPECT_EQ("/api/report.php", report.path);
        EXPECT_EQ(*tokens[call], report.Header("X-ZEQ-Token"));
        EXPECT_EQ("application/json", report.Header("Content-Type"));
        EXPECT_EQ(ReportText(), report.body);
    }
}

// The worker of a resend run checks the kept report before anything goes out: not
// failed, not empty, at most 2 MiB (2,097,152 bytes) inclusive.
TEST(RunWorkerTest, SendsOnlyAReportOfOneByteUpTo2MiB) {
    ASSERT_FALSE(PeerDirectory().empty());
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleW(NULL), NULL);
    ASSERT_TRUE(window != NULL);
    AppState.mainWindow = window;
    const struct {
        UINT32 bytes;
        bool failed;
        bool valid;
        WPARAM outcome;
    } cases[] = {
        {0, false, false, OUTCOME_REPORT_INVALID},
        {1, true, false, OUTCOME_REPORT_INVALID},
        {2097152, false, true, OUTCOME_RECEIVED},
        {2097153, false, false, OUTCOME_REPORT_INVALID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes << (c.failed ? " bytes, failed" : " bytes"));
        ASSERT_TRUE(SetPeerScenario("200 text:" + Token(80) + "\n200 text:ZEQ-0000-0000-0000\n"));
        // Every byte value, so that nothing is lost or changed on the way.
        std::string report(c.bytes, '\0');
        for (size_t i = 0; i < report.size(); ++i) {
            report[i] = (char)(i * 7 + (i >> 11));
        }
        ResetBuffer(&AppState.report);
        AppendBytes(&AppState.report, report.data(), c.bytes);
        AppState.report.failed = c.failed;
        EXPECT_EQ(c.valid, ReportIsValid(&AppState.report));

        EXPECT_EQ(0u, RunWorker(reinterpret_cast<LPVOID>(1)));

        MSG finished = {};
        ASSERT_TRUE(PeekMessageW(&finished, window, WM_APP_FINISHED, WM_APP_FINISHED, PM_REMOVE));
        EXPECT_EQ(c.outcome, finished.wParam);
        EXPECT_EQ(static_cast<LPARAM>(GetCurrentThreadId()), finished.lParam);
        MSG sending = {};
        EXPECT_EQ(c.valid,
                  PeekMessageW(&sending, window, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE) != FALSE);
        std::vector<PeerRequest> requests = PeerRequests();
        ASSERT_EQ(c.valid ? 2u : 0u, requests.size());
        if (c.valid) {
            EXPECT_TRUE(report == requests[1].body) << "report differs on the wire";
        }
    }
    ResetBuffer(&AppState.report);
    AppState.mainWindow = NULL;
    DestroyWindow(window);
}

} // namespace
