// Linked only into ZEQHealthInvalidReport.exe: the report buffer's heap refuses
// every block, so every build fails and the window must end in its
// invalid-report outcome. Installed before the entry routine runs.
#include "report/report_buffer.h"

namespace {

void* RefuseAlloc(SIZE_T) {
    return nullptr;
}

void* RefuseReAlloc(void*, SIZE_T) {
    return nullptr;
}

void FreeNothing(void*) {}

const ReportHeap kRefusingHeap = {RefuseAlloc, RefuseReAlloc, FreeNothing};

const bool kInstalled = (reportHeap = &kRefusingHeap, true);

} // namespace
