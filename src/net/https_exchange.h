#pragma once

#include <windows.h>

#include "report/report_buffer.h"

// One HTTPS request to serverHost:443 under the fixed transport policy.
// True only for status 200 with a body that fits, together with what
// response already held, in 4096 bytes.
bool HttpsExchange(const WCHAR* verb, const WCHAR* path, const void* body, UINT32 bodyLength,
                   const WCHAR* token, ReportBuffer* response);
