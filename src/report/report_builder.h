#pragma once

#include "report/report_buffer.h"

// Appends the whole report; the build succeeded iff buffer->failed is clear.
void BuildReport(ReportBuffer* buffer);
