#include "net/submission.h"

#include <string.h>

#include "net/https_exchange.h"
#include "shared/app_state.h"

namespace {

const WCHAR kTokenPath[] = L"/api/token.php";
const WCHAR kReportPath[] = L"/api/report.php";

const UINT32 kMinTokenBytes = 80;
const UINT32 kMaxTokenBytes = 200;
const UINT32 kTokenTextUnits = 220;

// The receipt code byte by byte: '#' stands for one upper-case hexadecimal
// digit, every other character for itself.
const char kReceiptPattern[] = "ZEQ-####-####-####";
const UINT32 kReceiptBytes = sizeof(kReceiptPattern) - 1;
const int kReceiptCodeUnits = sizeof(AppState.receiptCode) / sizeof(AppState.receiptCode[0]);

bool IsTokenByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '.';
}

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsToken(const ReportBuffer* answer) {
    if (answer->length < kMinTokenBytes || answer->length > kMaxTokenBytes) {
        return false;
    }
    for (UINT32 i = 0; i < answer->length; ++i) {
        if (!IsTokenByte(answer->data[i])) {
            return false;
        }
    }
    return true;
}

bool IsReceiptCode(const ReportBuffer* answer) {
    if (answer->length != kReceiptBytes) {
        return false;
    }
    for (UINT32 i = 0; i < kReceiptBytes; ++i) {
        char expected = kReceiptPattern[i];
        char actual = answer->data[i];
        bool matches = expected == '#' ? IsUpperHexDigit(actual) : actual == expected;
        if (!matches) {
            return false;
        }
    }
    return true;
}

} // namespace

bool SubmitReport() {
    bool result = false;
    ReportBuffer tokenAnswer = {};
    ReportBuffer receiptAnswer = {};
    WCHAR tokenText[kTokenTextUnits];

    bool tokenReceived = HttpsExchange(L"GET", kTokenPath, NULL, 0, NULL, &tokenAnswer);
    memset(tokenText, 0, sizeof(tokenText));
    if (!tokenReceived || !IsToken(&tokenAnswer)) {
        goto cleanup;
    }
    // One unit per byte; the zeroed tail terminates the text.
    for (UINT32 i = 0; i < tokenAnswer.length; ++i) {
        tokenText[i] = (unsigned char)tokenAnswer.data[i];
    }

    if (!HttpsExchange(L"POST", kReportPath, AppState.report.data, AppState.report.length,
                       tokenText, &receiptAnswer)) {
        goto cleanup;
    }
    if (!IsReceiptCode(&receiptAnswer)) {
        goto cleanup;
    }
    // Plain ASCII of 18 bytes plus the buffer's terminator: always fits.
    (void)MultiByteToWideChar(CP_UTF8, 0, receiptAnswer.data, -1, AppState.receiptCode,
                              kReceiptCodeUnits);
    result = true;

cleanup:
    ResetBuffer(&receiptAnswer);
    ResetBuffer(&tokenAnswer);
    return result;
}
