#pragma once

#include "report/report_buffer.h"

// Appends the "Programas instalados" section from the uninstall entries of
// HKLM in the 32-bit and then the 64-bit registry view.
void CollectInstalledPrograms(ReportBuffer* buffer);
