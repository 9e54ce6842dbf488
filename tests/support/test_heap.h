#pragma once

#include "report/report_buffer.h"

// A report heap for tests: hands the calls it honours to the process heap,
// counts every call, tracks the blocks it handed out and can be told to refuse.
struct TestHeapState {
    int allocCalls;
    int reAllocCalls;
    int freeCalls;
    int liveBlocks;
    bool refuseAlloc;
    bool refuseReAlloc;
    SIZE_T lastAllocSize;
};

extern TestHeapState testHeap;
extern const ReportHeap kTestHeap;
