#pragma once

#include <windows.h>
#include <oaidl.h>

#include "shared/report_buffer_record.h"

// Hard ceiling on length + 1.
const UINT32 kReportBufferCeiling = 0x800000;

void AppendBytes(ReportBuffer* buffer, const void* bytes, UINT32 count);
void ResetBuffer(ReportBuffer* buffer);
void AppendJsonString(ReportBuffer* buffer, const WCHAR* wideText);
void AppendJsonVariant(ReportBuffer* buffer, const VARIANT* variant);

// Appends a zero-terminated ASCII/UTF-8 literal without its terminator.
void AppendLiteral(ReportBuffer* buffer, const char* text);

// The three heap calls behind the buffer, swappable so that tests can make
// the heap refuse. Production uses the process heap with flags 0.
struct ReportHeap {
    void* (*alloc)(SIZE_T size);
    void* (*reAlloc)(void* block, SIZE_T size);
    void (*free)(void* block);
};
extern const ReportHeap kProcessHeap;
extern const ReportHeap* reportHeap;
