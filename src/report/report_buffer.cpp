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
    // Single bytes (punctuation, quotation marks) are the commonest piece; a plain store beats
    // the block copy the compiler emits for memcpy.
    if (count == 1) {
        buffer->data[buffer->length] = *(const char*)bytes;
    } else if (count != 0) {
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

// Bytes still free in the block below the ceiling, leaving room for the terminator.
static UINT32 Room(const ReportBuffer* buffer) {
    if (buffer->failed || buffer->data == NULL) {
        return 0;
    }
    UINT32 limit =
        buffer->capacity < kReportBufferCeiling ? buffer->capacity : kReportBufferCeiling;
    return limit - 1 - buffer->length;
}

// Appends a run of bytes that need no escaping with exactly the outcome of appending them one
// by one: whatever fits in the current block below the ceiling is copied at once, and the byte
// that does not goes through AppendBytes, which grows the block or refuses as a one-byte append
// would. So the text, the growth steps and the point of failure are those of single-byte pieces.
static void AppendPlainRun(ReportBuffer* buffer, const char* bytes, UINT32 count) {
    while (count != 0 && !buffer->failed) {
        UINT32 room = Room(buffer);
        if (room == 0) {
            AppendBytes(buffer, bytes, 1);
            ++bytes;
            --count;
            continue;
        }
        UINT32 chunk = count < room ? count : room;
        memcpy(buffer->data + buffer->length, bytes, chunk);
        buffer->length += chunk;
        buffer->data[buffer->length] = 0;
        bytes += chunk;
        count -= chunk;
    }
}

// Quotation mark, backslash and control bytes need an escape; every other byte, DEL and the
// bytes of multi-byte sequences included, is copied as it is.
static bool NeedsEscape(unsigned char b) {
    return b < 0x20 || b == 0x22 || b == 0x5C;
}

// Writes the escape of such a byte (\" or \\ or \u00xx) to out; returns its length.
static UINT32 FormatEscape(unsigned char b, char* out) {
    out[0] = '\\';
    if (b == 0x22 || b == 0x5C) {
        out[1] = (char)b;
        return 2;
    }
    out[1] = 'u';
    out[2] = '0';
    out[3] = '0';
    out[4] = kHexDigits[b >> 4];
    out[5] = kHexDigits[b & 0xF];
    return 6;
}

// Writes the escaped bytes straight into the block. Only for when six bytes per byte fit in
// Room: then no piece could have grown the block or been refused.
static void WriteEscapedUtf8(ReportBuffer* buffer, const char* bytes, UINT32 count) {
    char* out = buffer->data + buffer->length;
    for (UINT32 i = 0; i < count; ++i) {
        unsigned char b = (unsigned char)bytes[i];
        if (NeedsEscape(b)) {
            out += FormatEscape(b, out);
        } else {
            *out++ = (char)b;
        }
    }
    *out = 0;
    buffer->length = (UINT32)(out - buffer->data);
}

// Each escape is one piece; runs of plain bytes go in as if byte by byte.
static void AppendEscapedUtf8(ReportBuffer* buffer, const char* bytes, UINT32 count) {
    if ((UINT64)count * 6 <= Room(buffer)) {
        WriteEscapedUtf8(buffer, bytes, count);
        return;
    }
    UINT32 runStart = 0;
    for (UINT32 i = 0; i < count; ++i) {
        unsigned char b = (unsigned char)bytes[i];
        if (!NeedsEscape(b)) {
            continue;
        }
        AppendPlainRun(buffer, bytes + runStart, i - runStart);
        runStart = i + 1;
        char escape[6];
        AppendBytes(buffer, escape, FormatEscape(b, escape));
    }
    AppendPlainRun(buffer, bytes + runStart, count - runStart);
}

void AppendJsonString(ReportBuffer* buffer, const WCHAR* wideText) {
    AppendBytes(buffer, "\"", 1);
    if (buffer->failed) {
        // Nothing more can be appended; spare the conversion.
        return;
    }
    int units = wideText == NULL ? 0 : lstrlenW(wideText);
    if (units > (int)kMaxJsonStringUnits) {
        units = kMaxJsonStringUnits;
    }
    // An empty text never reaches the converter, and neither does a failed size query: a second
    // call with an output size of 0 would be a size query again, not a conversion.
    int size =
        units == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, wideText, units, NULL, 0, NULL, NULL);
    if (size > 0) {
        char* scratch = (char*)reportHeap->alloc((SIZE_T)size + 1);
        if (scratch == NULL) {
            buffer->failed = true;
            return;
        }
        // Only the bytes this conversion reports are walked.
        int written = WideCharToMultiByte(CP_UTF8, 0, wideText, units, scratch, size, NULL, NULL);
        if (written > 0) {
            AppendEscapedUtf8(buffer, scratch, (UINT32)written);
        }
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
