// HttpsExchange against the scripted peer on localhost:443 over real TLS.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <string.h>

#include <string>
#include <vector>

#include "net/https_exchange.h"
#include "support/test_peer.h"
#include "support/winhttp_handle_spy.h"

namespace {

const size_t kHeaderUnits = 600;
// "Content-Type: application/json\r\n" + "X-ZEQ-Token: " + "\r\n" + terminator.
const size_t kLongestToken = kHeaderUnits - 32 - 13 - 2 - 1;

std::string Pattern(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    unsigned state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = (char)(state >> 16);
    }
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

std::string BufferText(const ReportBuffer& buffer) {
    return buffer.data == NULL ? std::string() : std::string(buffer.data, buffer.length);
}

// One request outside the exchange's transport policy, made to show that the
// peer really offers what a refused case depends on. Status, or 0 on failure.
DWORD ControlRequestStatus(DWORD protocols, DWORD securityFlags, bool followRedirects) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    DWORD policy = followRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS
                                   : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    HINTERNET session = WinHttpOpen(L"control", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, L"localhost", 443, 0);
    HINTERNET request =
        WinHttpOpenRequest(connection, L"GET", L"/control", NULL, NULL, NULL, WINHTTP_FLAG_SECURE);
    if (request != NULL &&
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)) &&
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy)) &&
        (securityFlags == 0 || WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS,
                                                &securityFlags, sizeof(securityFlags))) &&
        WinHttpSendRequest(request, NULL, 0, NULL, 0, 0, 0) &&
        WinHttpReceiveResponse(request, NULL) &&
        !WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, NULL,
                             &status, &size, NULL)) {
        status = 0;
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return status;
}

// Wine gives out handle values from the lowest free one up: a test process stays
// far below this one.
const ULONG_PTR kHandleValuesAsked = 0x1000;

// Kernel handles open in this process. Windows counts them for GetProcessHandleCount;
// Wine answers that with 0, so there every handle value is asked about instead.
DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    for (ULONG_PTR value = 4; value < kHandleValuesAsked; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

class HttpsExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(PeerDirectory().empty())
            << "run this suite under tests/support/zeq_test_peer.py run";
    }
    void TearDown() override {
        ResetBuffer(&response);
    }
    void Script(const std::string& script) {
        ASSERT_TRUE(SetPeerScenario(script));
    }
    bool Get(const WCHAR* token = NULL) {
        return HttpsExchange(L"GET", L"/api/token.php", NULL, 0, token, &response);
    }
    bool Post(const std::string& body, const WCHAR* token = NULL) {
        return HttpsExchange(L"POST", L"/api/report.php", body.data(), (UINT32)body.size(), token,
                             &response);
    }

    ReportBuffer response = {};
};

TEST_F(HttpsExchangeTest, EmptyBodyWithStatus200IsAnAnswer) {
    Script("200 empty\n");
    EXPECT_TRUE(Get());
    EXPECT_EQ(0u, response.length);
    EXPECT_FALSE(response.failed);
}

TEST_F(HttpsExchangeTest, BodyIsAdmittedUpTo4096Bytes) {
    struct Case {
        size_t bodyBytes;
        bool answered;
    };
    const Case cases[] = {{1, true},    {1024, true},  {1025, true},
                          {4096, true}, {4097, false}, {5120, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bodyBytes);
        std::string body = Pattern(c.bodyBytes, (unsigned)c.bodyBytes);
        Script("200 hex:" + Hex(body) + "\n");
        ResetBuffer(&response);
        EXPECT_EQ(c.answered, Get());
        EXPECT_LE(response.length, 4096u);
        if (c.answered) {
            EXPECT_EQ(body, BufferText(response));
            EXPECT_EQ(0, response.data[response.length]);
        }
        EXPECT_EQ(1u, PeerRequests().size());
    }
}

TEST_F(HttpsExchangeTest, WhatResponseHeldCountsTowardTheLimit) {
    struct Case {
        size_t heldBytes;
        size_t bodyBytes;
        bool answered;
    };
    const Case cases[] = {{100, 3996, true}, {100, 3997, false}, {4096, 0, true}, {4097, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.heldBytes << " held, " << c.bodyBytes << " sent");
        const std::string held = Pattern(c.heldBytes, 7);
        const std::string body = Pattern(c.bodyBytes, 11);
        Script("200 hex:" + Hex(body) + "\n");
        ResetBuffer(&response);
        AppendBytes(&response, held.data(), (UINT32)held.size());
        EXPECT_EQ(c.answered, Get());
        EXPECT_LE(response.length, held.size() > 4096 ? held.size() : 4096u);
        EXPECT_EQ(held, BufferText(response).substr(0, held.size()));
        if (c.answered) {
            EXPECT_EQ(held + body, BufferText(response));
        }
    }
}

TEST_F(HttpsExchangeTest, OnlyStatus200IsAnAnswerAndRedirectsAreNotFollowed) {
    const int statuses[] = {201, 204, 301, 302, 307, 404, 500};
    for (int status : statuses) {
        SCOPED_TRACE(status);
        // A client that followed the Location would get a good answer next.
        Script(std::to_string(status) +
               " text:refused header:Location=https://localhost/api/moved\n"
               "200 text:followed\n");
        ResetBuffer(&response);
        EXPECT_FALSE(Get());
        std::vector<PeerRequest> requests = PeerRequests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ("/api/token.php", requests[0].path);
    }
}

TEST_F(HttpsExchangeTest, PeerRedirectIsFollowedByAClientThatAllowsIt) {
    Script("302 header:Location=https://localhost/api/moved\n200 text:followed\n");
    EXPECT_EQ(200u, ControlRequestStatus(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, 0, true));
    std::vector<PeerRequest> requests = PeerRequests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/api/moved", requests[1].path);
}

TEST_F(HttpsExchangeTest, GetCarriesContentTypeAndNoTokenHeaderForNullToken) {
    Script("200 text:ok\n");
    ASSERT_TRUE(Get());
    EXPECT_EQ("ok", BufferText(response));
    std::vector<PeerRequest> requests = PeerRequests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/api/token.php", requests[0].path);
    EXPECT_EQ("application/json", requests[0].Header("Content-Type"));
    EXPECT_EQ("ZEQ-Health/1.0", requests[0].Header("User-Agent"));
    EXPECT_EQ("localhost", requests[0].Header("Host"));
    EXPECT_FALSE(requests[0].HasHeader("X-ZEQ-Token"));
    EXPECT_EQ("", requests[0].body);
}

TEST_F(HttpsExchangeTest, TokenHeaderCarriesTheTokenAsGiven) {
    std::wstring longest(kLongestToken, L'7');
    struct Case {
        const WCHAR* token;
        std::string sent;
    };
    const Case cases[] = {
        {L"", ""},
        {L"0123.abcd", "0123.abcd"},
        {longest.c_str(), std::string(kLongestToken, '7')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent.size());
        Script("200 empty\n");
        ResetBuffer(&response);
        EXPECT_TRUE(Post("{}", c.token));
        std::vector<PeerRequest> requests = PeerRequests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_TRUE(requests[0].HasHeader("X-ZEQ-Token"));
        EXPECT_EQ(c.sent, requests[0].Header("X-ZEQ-Token"));
        EXPECT_EQ("application/json", requests[0].Header("Content-Type"));
    }
}

TEST_F(HttpsExchangeTest, TokenThatDoesNotFitTheHeaderTextSendsNothing) {
    std::wstring tooLong(kLongestToken + 1, L'7');
    std::wstring huge(4000, L'a');
    const WCHAR* tokens[] = {tooLong.c_str(), huge.c_str()};
    for (const WCHAR* token : tokens) {
        SCOPED_TRACE(lstrlenW(token));
        Script("200 text:first\n200 text:second\n");
        ResetBuffer(&response);
        EXPECT_FALSE(Post("{}", token));
        EXPECT_EQ(0u, response.length);
        // Connections are taken in order: had the refused exchange connected,
        // the peer would count two connections and two requests now.
        ASSERT_TRUE(Get(L"fits"));
        EXPECT_EQ("first", BufferText(response));
        EXPECT_EQ(1, PeerConnections());
        std::vector<PeerRequest> requests = PeerRequests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ("fits", requests[0].Header("X-ZEQ-Token"));
    }
}

TEST_F(HttpsExchangeTest, BodyArrivesByteIdentical) {
    std::string everyByte;
    for (int i = 0; i < 256; ++i) {
        everyByte += (char)i;
    }
    const std::string bodies[] = {"", everyByte, std::string("a\0b\r\n\0", 6),
                                  Pattern(1024 * 1024, 3)};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.size());
        Script("200 empty\n");
        ResetBuffer(&response);
        EXPECT_TRUE(Post(body, L"t"));
        std::vector<PeerRequest> requests = PeerRequests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ("POST", requests[0].method);
        EXPECT_EQ("/api/report.php", requests[0].path);
        EXPECT_EQ(std::to_string(body.size()), requests[0].Header("Content-Length"));
        EXPECT_TRUE(body == requests[0].body) << "body differs";
    }
}

TEST_F(HttpsExchangeTest, PeerOfferingOnlyTls11IsRefused) {
    Script("tls tls1.1\n200 text:old\n200 text:old\n");
    EXPECT_FALSE(Get());
    EXPECT_TRUE(PeerRequests().empty());
    // The same peer does answer a client that allows TLS 1.1.
    EXPECT_EQ(200u, ControlRequestStatus(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1, 0, false));
    EXPECT_EQ(1u, PeerRequests().size());
}

TEST_F(HttpsExchangeTest, PeerWithUntrustedCertificateIsRefused) {
    Script("tls untrusted\n200 text:rogue\n200 text:rogue\n");
    EXPECT_FALSE(Get());
    EXPECT_TRUE(PeerRequests().empty());
    // The same peer does answer a client that accepts an unknown authority.
    EXPECT_EQ(200u, ControlRequestStatus(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2,
                                         SECURITY_FLAG_IGNORE_UNKNOWN_CA, false));
    EXPECT_EQ(1u, PeerRequests().size());
}

void* RefuseAlloc(SIZE_T) {
    return NULL;
}

void* RefuseReAlloc(void*, SIZE_T) {
    return NULL;
}

void FreeNothing(void*) {}

// A heap that gives the response buffer no memory at all.
const ReportHeap kRefusingHeap = {RefuseAlloc, RefuseReAlloc, FreeNothing};

// Every handle an exchange opens is closed again, whichever way it ends: the rows
// of the exchange's failure table, with the WinHTTP handles each one has
// opened (and must close). The WinHTTP handles are counted by the spy, the kernel
// handles (sockets, events, files) by HandleCount. Each case runs twice and the
// kernel handles of the second run are compared: the first use of a path may
// open handles that WinHTTP and the TLS layer keep for the life of the process.
TEST_F(HttpsExchangeTest, LeavesNoHandleOpenWhicheverWayItEnds) {
    ASSERT_TRUE(EnsureWinHttpHandleSpy());
    // The kernel count does see a handle that stays open.
    DWORD before = HandleCount();
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    EXPECT_LT(reinterpret_cast<ULONG_PTR>(event), kHandleValuesAsked);
    EXPECT_EQ(before + 1, HandleCount());
    CloseHandle(event);

    const std::wstring tooLong(kLongestToken + 1, L'7');
    struct Case {
        const char* name;
        std::string script;
        WinHttpRefusal refusal;
        const WCHAR* token;
        bool refusingHeap;
        bool answered;
        int handlesOpened; // session, connection, request: as far as the exchange got
    };
    const Case cases[] = {
        {"answered", "200 text:ok\n", REFUSE_NOTHING, NULL, false, true, 3},
        {"no session", "200 text:ok\n", REFUSE_OPEN, NULL, false, false, 0},
        {"TLS 1.2 restriction refused", "200 text:ok\n", REFUSE_SECURE_PROTOCOLS_OPTION, NULL,
         false, false, 1},
        {"no connection", "200 text:ok\n", REFUSE_CONNECT, NULL, false, false, 1},
        {"no request", "200 text:ok\n", REFUSE_OPEN_REQUEST, NULL, false, false, 2},
        {"redirect policy refused", "200 text:ok\n", REFUSE_REDIRECT_POLICY_OPTION, NULL, false,
         false, 3},
        {"sending fails: TLS 1.1 only", "tls tls1.1\n", REFUSE_NOTHING, NULL, false, false, 3},
        {"sending fails: untrusted certificate", "tls untrusted\n", REFUSE_NOTHING, NULL, false,
         false, 3},
        {"status 404", "404 text:no\n", REFUSE_NOTHING, NULL, false, false, 3},
        {"redirect", "302 header:Location=https://localhost/api/moved\n", REFUSE_NOTHING, NULL,
         false, false, 3},
        {"a read fails", "200 text:ok\n", REFUSE_READ_DATA, NULL, false, false, 3},
        {"body over 4096 bytes", "200 hex:" + Hex(Pattern(5000, 1)) + "\n", REFUSE_NOTHING, NULL,
         false, false, 3},
        {"response cannot grow", "200 text:ok\n", REFUSE_NOTHING, NULL, true, false, 3},
        {"token too long for the header", "200 text:ok\n", REFUSE_NOTHING, tooLong.c_str(), false,
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int run = 0; run < 2; ++run) {
            Script(c.script);
            ResetBuffer(&response);
            ResetWinHttpSpyCounts();
            winHttpSpy.refusal = c.refusal;
            if (c.refusingHeap) {
                reportHeap = &kRefusingHeap;
            }
            DWORD handlesBefore = HandleCount();
            EXPECT_EQ(c.answered, Get(c.token));
            reportHeap = &kProcessHeap;
            EXPECT_EQ(c.refusal == REFUSE_NOTHING ? 0 : 1, winHttpSpy.refusals);
            EXPECT_EQ(c.handlesOpened, winHttpSpy.handlesOpened);
            EXPECT_EQ(0, winHttpSpy.openHandles);
            EXPECT_EQ(0, winHttpSpy.unknownCloses);
            if (run == 1) {
                EXPECT_EQ(handlesBefore, HandleCount());
            }
        }
    }
}

TEST_F(HttpsExchangeTest, SilentPeerFailsAfterTheReceiveTimeOut) {
    Script("hang\n");
    DWORD handlesBefore = HandleCount();
    DWORD start = GetTickCount();
    EXPECT_FALSE(Get());
    DWORD waited = GetTickCount() - start;
    // Nothing of the abandoned exchange stays open either (the earlier cases have
    // already opened whatever the process keeps).
    EXPECT_EQ(handlesBefore, HandleCount());
    EXPECT_EQ(0, winHttpSpy.openHandles);
    // The request went out; the answer never came and the exchange gave up
    // after the 20-second receive time-out, not before and not much later.
    EXPECT_EQ(1u, PeerRequests().size());
    EXPECT_GE(waited, 19000u);
    EXPECT_LE(waited, 40000u);
}

} // namespace
