#pragma once

#include <windows.h>

#include "report/report_buffer.h"

// Writes exactly the buffer's bytes to path. An existing file is replaced only
// once every byte has been written and flushed; on failure it is left as it was.
bool SaveReportToFile(const WCHAR* path, const ReportBuffer* buffer);
