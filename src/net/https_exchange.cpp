#include "net/https_exchange.h"

#include <winhttp.h>

#include "net/server_host.h"

namespace {

const WCHAR kUserAgent[] = L"ZEQ-Health/1.0";

const int kResolveTimeoutMs = 10000;
const int kConnectTimeoutMs = 15000;
const int kSendTimeoutMs = 20000;
const int kReceiveTimeoutMs = 20000;

const DWORD kProtocolsTls12Only = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2; // 0x800
const DWORD kRedirectNever = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;     // 0

const UINT32 kHeaderUnits = 600; // terminator included
const WCHAR kContentTypeHeader[] = L"Content-Type: application/json\r\n";
const WCHAR kTokenHeaderName[] = L"X-ZEQ-Token: ";
const WCHAR kHeaderEnd[] = L"\r\n";

const DWORD kReadSize = 1024;
const UINT32 kResponseLimit = 4096;

// Appends piece to the header text, or leaves it alone and answers false when
// the piece and the terminator would not fit: a header is never cut short.
bool AppendHeaderText(WCHAR* text, UINT32* used, const WCHAR* piece) {
    UINT32 length = (UINT32)lstrlenW(piece);
    if (length >= kHeaderUnits - *used) {
        return false;
    }
    for (UINT32 i = 0; i < length; ++i) {
        text[*used + i] = piece[i];
    }
    *used += length;
    text[*used] = 0;
    return true;
}

bool ComposeHeaders(WCHAR* text, const WCHAR* token) {
    UINT32 used = 0;
    text[0] = 0;
    if (!AppendHeaderText(text, &used, kContentTypeHeader)) {
        return false;
    }
    if (token == NULL) {
        return true;
    }
    return AppendHeaderText(text, &used, kTokenHeaderName) &&
           AppendHeaderText(text, &used, token) && AppendHeaderText(text, &used, kHeaderEnd);
}

// Reads the body to its end into response; false when a read fails, the body
// would take response past the limit or response cannot grow (the rest is then
// left unread).
bool ReadBody(HINTERNET request, ReportBuffer* response) {
    BYTE chunk[kReadSize];
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, chunk, kReadSize, &read)) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        if (response->length + read > kResponseLimit) {
            return false;
        }
        AppendBytes(response, chunk, read);
        if (response->failed) {
            return false;
        }
    }
}

} // namespace

bool HttpsExchange(const WCHAR* verb, const WCHAR* path, const void* body, UINT32 bodyLength,
                   const WCHAR* token, ReportBuffer* response) {
    bool result = false;
    HINTERNET session = NULL;
    HINTERNET connection = NULL;
    HINTERNET request = NULL;
    DWORD protocols = kProtocolsTls12Only;
    DWORD redirectPolicy = kRedirectNever;
    DWORD headerWait = kReceiveTimeoutMs;
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WCHAR headers[kHeaderUnits];

    // Composed before anything is opened: a token that does not fit fails the
    // exchange without a byte going out.
    if (!ComposeHeaders(headers, token)) {
        goto cleanup;
    }

    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == NULL) {
        goto cleanup;
    }
    (void)WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                             kReceiveTimeoutMs);
    // The wait for the answer's headers is held to the receive time-out too:
    // some WinHTTP implementations otherwise wait for them without end.
    (void)WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait,
                           sizeof(headerWait));
    // No fallback: a platform that cannot be held to TLS 1.2 makes no exchange.
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        goto cleanup;
    }

    connection = WinHttpConnect(session, serverHost, INTERNET_DEFAULT_HTTPS_PORT, 0);
    if (connection == NULL) {
        goto cleanup;
    }
    request = WinHttpOpenRequest(connection, verb, path, NULL, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (request == NULL) {
        goto cleanup;
    }
    if (!WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                          sizeof(redirectPolicy))) {
        goto cleanup;
    }

    // The whole body in one call; its length is also the total length.
    if (!WinHttpSendRequest(request, headers, (DWORD)-1, (LPVOID)body, bodyLength, bodyLength, 0)) {
        goto cleanup;
    }
    if (!WinHttpReceiveResponse(request, NULL)) {
        goto cleanup;
    }
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        goto cleanup;
    }
    // Only a direct 200 is an answer; a redirect is neither followed nor read.
    if (status != 200) {
        goto cleanup;
    }
    // The limit holds for the whole of response, also when it came in non-empty.
    result = ReadBody(request, response) && !response->failed && response->length <= kResponseLimit;

cleanup:
    if (request != NULL) {
        WinHttpCloseHandle(request);
    }
    if (connection != NULL) {
        WinHttpCloseHandle(connection);
    }
    if (session != NULL) {
        WinHttpCloseHandle(session);
    }
    return result;
}
