#pragma once

#include <windows.h>

// Growable, zero-terminated UTF-8 buffer with a sticky failure flag: the report
// and every HTTP response live in one. An all-zero record is a valid empty
// buffer; only ResetBuffer (report/report_buffer.h) releases its storage.
struct ReportBuffer {
    char* data;
    UINT32 length;
    UINT32 capacity;
    bool failed;
};
