#pragma once

#include <windows.h>

#include "report/report_buffer.h"

// Writes exactly the buffer's bytes to path. An existing file is replaced only
// once every byte has been written and flushed; on failure it is left as it was.
bool SaveReportToFile(const WCHAR* path, const ReportBuffer* buffer);

// The folder part of the temporary file's path for a save to path: the
// target's own folder as written, or, where the temporary file's full path
// (a relative path completed with the current folder) would not fit in
// MAX_PATH, the same folder in extended-length form ("\\?\").
// A process-heap block (HeapFree) with room for the name after the folder's
// folderUnits units; null when it cannot be made.
WCHAR* NewTempFolder(const WCHAR* path, int* folderUnits);
