#include "support/task_memory_spy.h"

#include <objidl.h>

namespace {

long liveBlocks = 0;
bool registered = false;

class TaskMemorySpy : public IMallocSpy {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    // A static object: COM's references do not decide its lifetime.
    ULONG STDMETHODCALLTYPE AddRef() override {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return 1;
    }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
        return size;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block != NULL) {
            ++liveBlocks;
        }
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
        if (block != NULL && spied) {
            --liveBlocks;
        }
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
        return block;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override {
        return block;
    }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override {
        return size;
    }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override {
        return block;
    }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override {
        return actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

TaskMemorySpy spy;

} // namespace

bool EnsureTaskMemorySpy() {
    if (registered) {
        return true;
    }
    typedef void(WINAPI * SetOaNoCacheProc)();
    HMODULE oleaut32 = GetModuleHandleW(L"oleaut32.dll");
    SetOaNoCacheProc setOaNoCache =
        oleaut32 == NULL ? NULL
                         : reinterpret_cast<SetOaNoCacheProc>(
                               reinterpret_cast<void*>(GetProcAddress(oleaut32, "SetOaNoCache")));
    if (setOaNoCache == NULL) {
        return false;
    }
    setOaNoCache();
    registered = SUCCEEDED(CoRegisterMallocSpy(&spy));
    return registered;
}

long LiveTaskAllocations() {
    return liveBlocks;
}
