#include "support/test_heap.h"

TestHeapState testHeap;

namespace {

void* TestAlloc(SIZE_T size) {
    ++testHeap.allocCalls;
    testHeap.lastAllocSize = size;
    if (testHeap.refuseAlloc) {
        return NULL;
    }
    void* block = kProcessHeap.alloc(size);
    if (block != NULL) {
        ++testHeap.liveBlocks;
    }
    return block;
}

void* TestReAlloc(void* block, SIZE_T size) {
    ++testHeap.reAllocCalls;
    if (testHeap.refuseReAlloc) {
        return NULL;
    }
    return kProcessHeap.reAlloc(block, size);
}

void TestFree(void* block) {
    ++testHeap.freeCalls;
    if (block != NULL) {
        --testHeap.liveBlocks;
    }
    kProcessHeap.free(block);
}

} // namespace

const ReportHeap kTestHeap = {TestAlloc, TestReAlloc, TestFree};
