#include "report/report_buffer.h"

#include <string.h>

namespace {

void* ProcessHeapAlloc(SIZE_T size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void* ProcessHeapReAlloc(void* block, SIZE_T size) {
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void ProcessHeapFree(void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

const UINT32 kMaxJsonStringUnits = 6000;
const UINT32 kGrowthFloor = 8192;

const char kHexDigits[] = "0123456789abcdef";

} // namespace

const ReportHeap kProcessHeap = {ProcessHeapAlloc, ProcessHeapReAlloc, ProcessHeapFree};
const ReportHeap* reportHeap = &kProcessHeap;

void AppendBytes(ReportBuffer* buffer, const void* bytes, UINT32 count) {
    if (buffer->failed) {
        return;
    }
    // Computed in 64 bits: a huge count must not wrap past the ceiling check.
    UINT64 needed = (UINT64)buffer->length + count + 1;
    if (needed > kReportBufferCeiling) {
        buffer->failed = true;
        return;
    }
    if (needed > buffer->capacity) {
        UINT32 newCapacity = 2 * (buffer->length + count) + kGrowthFloor;
        void* block = buffer->data == NULL ? reportHeap->alloc(newCapacity)
                                           : reportHeap->reAlloc(buffer->data, newCapacity);
        if (block == NULL) {
            buffer->failed = true;
            return;
        }
        buffer->data = (char*)block;
        buffer->capacity = newCapacity;
    }
    if (count != 0) {
        memcpy(buffer->data + buffer->length, bytes, count);
    }
    buffer->length += count;
    buffer->data[buffer->length] = 0;
}

void AppendLiteral(ReportBuffer* buffer, const char* text) {
    AppendBytes(buffer, text, (UINT32)strlen(text));
}

void ResetBuffer(ReportBuffer* buffer) {
    if (buffer->data != NULL) {
        reportHeap->free(buffer->data);
    }
    buffer->data = NULL;
    buffer->capacity = 0;
    buffer->length = 0;
    buffer->failed = false;
}

static void AppendEscapedUtf8(ReportBuffer* buffer, const unsigned char* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        unsigned char b = bytes[i];
        if (b == 0x22) {
            AppendBytes(buffer, "\\\"", 2);
        } else if (b == 0x5C) {
            AppendBytes(buffer, "\\\\", 2);
        } else if (b < 0x20) {
            char escape[6] = {'\\', 'u', '0', '0', kHexDigits[b >> 4], kHexDigits[b & 0xF]};
            AppendBytes(buffer, escape, 6);
        } else {
            AppendBytes(buffer, &b, 1);
        }
    }
}

void AppendJsonString(ReportBuffer* buffer, const WCHAR* wideText) {
    AppendBytes(buffer, "\"", 1);
    int units = wideText == NULL ? 0 : lstrlenW(wideText);
    if ((UINT32)units > kMaxJsonStringUnits) {
        units = kMaxJsonStringUnits;
    }
    if (units > 0) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wideText, units, NULL, 0, NULL, NULL);
        char* scratch = (char*)reportHeap->alloc((SIZE_T)size + 1);
        if (scratch == NULL) {
            buffer->failed = true;
            return;
        }
        int written = WideCharToMultiByte(CP_UTF8, 0, wideText, units, scratch, size, NULL, NULL);
        AppendEscapedUtf8(buffer, (const unsigned char*)scratch, written);
        reportHeap->free(scratch);
    }
    AppendBytes(buffer, "\"", 1);
}

void AppendJsonVariant(ReportBuffer* buffer, const VARIANT* variant) {
    VARTYPE type = variant->vt;
    if (type == VT_EMPTY || type == VT_NULL || (type & VT_ARRAY) != 0) {
        AppendBytes(buffer, "null", 4);
        return;
    }
    VARIANT text;
    VariantInit(&text);
    HRESULT hr =
        VariantChangeType(&text, const_cast<VARIANT*>(variant), VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) {
        AppendBytes(buffer, "null", 4);
    } else {
        AppendJsonString(buffer, text.bstrVal);
    }
    VariantClear(&text);
}
