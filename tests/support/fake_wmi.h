#pragma once

// Hand-written WMI client objects for tests of code that walks
// IWbemLocator -> IWbemServices -> IEnumWbemClassObject -> IWbemClassObject.
//
// Every fake is owned by one FakeWmi and starts with one reference, the
// world's own. A fake AddRefs whatever it hands out, so after the code under
// test has finished every count must be back at 1 (CheckReleased). Each fake
// records the arguments it received and its answers are scripted by fields.
// Time is the world's clock: fetches that take a while move it forward, and
// FakeWmiTickCount reads it.

#include <windows.h>
#include <wbemidl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct FakeWmi;

// A method the code under test is not supposed to call: noted, and refused.
HRESULT NoteUnexpectedCall(FakeWmi* world, const char* method);
#define FAKE_UNEXPECTED_METHOD(method, ...)                                                        \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override {                                       \
        return NoteUnexpectedCall(world_, #method);                                                \
    }

class FakeClassObject : public IWbemClassObject {
  public:
    FakeClassObject(FakeWmi* world, std::string name);
    ~FakeClassObject();
    FakeClassObject(const FakeClassObject&) = delete;
    FakeClassObject& operator=(const FakeClassObject&) = delete;

    // Adds a non-system property; takes over the value. cimType is what Next
    // reports as the property's CIM type when asked (WMI hands CIM_UINT32 values
    // over as VT_I4).
    void Add(const wchar_t* name, VARIANT value, CIMTYPE cimType = CIM_EMPTY);

    // Script.
    HRESULT beginResult = WBEM_S_NO_ERROR;
    size_t failAtProperty = SIZE_MAX; // Next fails here instead of handing out the property
    HRESULT failResult = WBEM_E_FAILED;

    // Record.
    const std::string name;
    LONG refs = 1;
    std::vector<LONG> beginFlags;
    std::vector<LONG> nextFlags;
    int propertiesHandedOut = 0;
    int endCalls = 0;
    bool flavourRequested = false;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IWbemClassObject
    FAKE_UNEXPECTED_METHOD(GetQualifierSet, IWbemQualifierSet**)
    FAKE_UNEXPECTED_METHOD(Get, LPCWSTR, LONG, VARIANT*, CIMTYPE*, LONG*)
    FAKE_UNEXPECTED_METHOD(Put, LPCWSTR, LONG, VARIANT*, CIMTYPE)
    FAKE_UNEXPECTED_METHOD(Delete, LPCWSTR)
    FAKE_UNEXPECTED_METHOD(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**)
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override;
    HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type,
                                   LONG* flavour) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    FAKE_UNEXPECTED_METHOD(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**)
    FAKE_UNEXPECTED_METHOD(Clone, IWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(GetObjectText, LONG, BSTR*)
    FAKE_UNEXPECTED_METHOD(SpawnDerivedClass, LONG, IWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(SpawnInstance, LONG, IWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(CompareTo, LONG, IWbemClassObject*)
    FAKE_UNEXPECTED_METHOD(GetPropertyOrigin, LPCWSTR, BSTR*)
    FAKE_UNEXPECTED_METHOD(InheritsFrom, LPCWSTR)
    FAKE_UNEXPECTED_METHOD(GetMethod, LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
    FAKE_UNEXPECTED_METHOD(DeleteMethod, LPCWSTR)
    FAKE_UNEXPECTED_METHOD(BeginMethodEnumeration, LONG)
    FAKE_UNEXPECTED_METHOD(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(EndMethodEnumeration)
    FAKE_UNEXPECTED_METHOD(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**)
    FAKE_UNEXPECTED_METHOD(GetMethodOrigin, LPCWSTR, BSTR*)

  private:
    FakeWmi* world_;
    std::vector<std::pair<std::wstring, VARIANT>> properties_;
    std::vector<CIMTYPE> cimTypes_;
    bool enumerating_ = false;
    size_t position_ = 0;
};

// One answer of IEnumWbemClassObject::Next. The fetch takes `delay` ms of the
// world's clock; if that is longer than the caller's time-out, the call gives up
// after the time-out with WBEM_S_TIMEDOUT and the rest of the delay stays due.
struct FakeFetch {
    DWORD delay;
    HRESULT result;
    FakeClassObject* instance; // null: nothing returned
};

class FakeEnumerator : public IEnumWbemClassObject {
  public:
    explicit FakeEnumerator(FakeWmi* world);

    // Script: answered in order; after the last one every Next gives WBEM_S_FALSE.
    std::vector<FakeFetch> fetches;

    // Record.
    LONG refs = 1;
    std::vector<LONG> timeouts;
    std::vector<ULONG> counts;
    int mostInstancesHeldAtFetch = 0; // instances the caller still held when asking for more

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    FAKE_UNEXPECTED_METHOD(Reset)
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override;
    FAKE_UNEXPECTED_METHOD(NextAsync, ULONG, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(Clone, IEnumWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(Skip, LONG, ULONG)

  private:
    FakeWmi* world_;
    size_t position_ = 0;
    bool ended_ = false; // a fetch returned nothing: the caller should stop asking
};

// The namespace connection. It also answers IClientSecurity, as a real proxy
// does, so that CoSetProxyBlanket reaches SetBlanket and its arguments are seen.
class FakeServices : public IWbemServices, public IClientSecurity {
  public:
    explicit FakeServices(FakeWmi* world);

    // Script.
    bool answersClientSecurity = true;
    HRESULT setBlanketResult = S_OK;
    HRESULT execQueryResult = WBEM_S_NO_ERROR;
    DWORD execQueryDelay = 0;

    // Record.
    LONG refs = 1;
    int setBlanketCalls = 0;
    IUnknown* blanketProxy = NULL;
    DWORD authnService = 0xFFFFFFFF;
    DWORD authzService = 0xFFFFFFFF;
    bool serverPrincipalNull = false;
    DWORD authnLevel = 0xFFFFFFFF;
    DWORD impLevel = 0xFFFFFFFF;
    bool authInfoNull = false;
    DWORD capabilities = 0xFFFFFFFF;
    long liveAllocationsAtSetBlanket = -1;
    int execQueryCalls = 0;
    std::wstring queryLanguage;
    std::wstring queryText;
    std::vector<std::wstring> queryTexts; // of every query, in order
    UINT queryLanguageLength = 0;         // as SysStringLen sees it: a real BSTR matches the text
    UINT queryTextLength = 0;
    LONG queryFlags = 0;
    bool queryContextNull = false;
    long liveAllocationsAtExecQuery = -1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClientSecurity
    FAKE_UNEXPECTED_METHOD(QueryBlanket, IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                           void**, DWORD*)
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz,
                                         OLECHAR* principal, DWORD level, DWORD imp, void* authInfo,
                                         DWORD caps) override;
    FAKE_UNEXPECTED_METHOD(CopyProxy, IUnknown*, IUnknown**)
    // IWbemServices
    FAKE_UNEXPECTED_METHOD(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**,
                           IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(CancelAsyncCall, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(QueryObjectSink, LONG, IWbemObjectSink**)
    FAKE_UNEXPECTED_METHOD(GetObject, const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                           IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*,
                           IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(CreateInstanceEnum, const BSTR, LONG, IWbemContext*,
                           IEnumWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*,
                           IWbemObjectSink*)
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context,
                                        IEnumWbemClassObject** enumerator) override;
    FAKE_UNEXPECTED_METHOD(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*,
                           IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*,
                           IEnumWbemClassObject**)
    FAKE_UNEXPECTED_METHOD(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*,
                           IWbemObjectSink*)
    FAKE_UNEXPECTED_METHOD(ExecMethod, const BSTR, const BSTR, LONG, IWbemContext*,
                           IWbemClassObject*, IWbemClassObject**, IWbemCallResult**)
    FAKE_UNEXPECTED_METHOD(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*,
                           IWbemClassObject*, IWbemObjectSink*)

  private:
    FakeWmi* world_;
};

class FakeLocator : public IWbemLocator {
  public:
    explicit FakeLocator(FakeWmi* world);

    // Script.
    HRESULT connectResult = WBEM_S_NO_ERROR;
    DWORD connectDelay = 0;

    // Record.
    LONG refs = 1;
    std::wstring resource;
    std::vector<std::wstring> resources; // of every connection, in order
    UINT resourceLength = 0;             // as SysStringLen sees it
    bool credentialsNull = false;        // user, password, locale and authority
    LONG securityFlags = 0;
    bool contextNull = false;
    long liveAllocationsAtConnect = -1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user,
                                            const BSTR password, const BSTR locale, LONG flags,
                                            const BSTR authority, IWbemContext* context,
                                            IWbemServices** services) override;

  private:
    FakeWmi* world_;
};

// A plain object with a reference count, for values of type VT_UNKNOWN.
class FakeUnknown : public IUnknown {
  public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
};

struct FakeWmi {
    FakeWmi();
    FakeWmi(const FakeWmi&) = delete;
    FakeWmi& operator=(const FakeWmi&) = delete;

    FakeLocator locator;
    FakeServices services;
    FakeEnumerator enumerator;
    std::vector<std::unique_ptr<FakeClassObject>> instances;

    HRESULT createResult = S_OK; // what creating the locator answers
    DWORD clock = 0;             // milliseconds, as FakeWmiTickCount reports them
    int createCalls = 0;

    // Every call the fakes received, in order: "create", "connect", "blanket",
    // "query", "tick", "fetch", "begin", "property", "end", "release <object>".
    std::vector<std::string> calls;
    // Calls of methods the collector has no business making.
    std::vector<std::string> unexpected;

    FakeClassObject* NewInstance();
    // A fetch that delivers `instance` after `delay` ms.
    void Deliver(FakeClassObject* instance, DWORD delay = 0);
    // A fetch that returns no instance and `result` after `delay` ms.
    void EndWith(HRESULT result, DWORD delay = 0);
    // Adds `count` instances, each with the one property N = its number from 1.
    void DeliverNumbered(int count);

    // Every reference handed out has come back; lists the objects that did not.
    std::string Unreleased() const;

    void Log(const std::string& call);
};

// The world the seams below talk to; set by the test.
extern FakeWmi* fakeWmi;

HRESULT CreateFakeWbemLocator(IWbemLocator** locator);
DWORD FakeWmiTickCount();

// VARIANT helpers for scripting property values (for FakeClassObject::Add).
VARIANT BstrValue(const wchar_t* text);
VARIANT I4Value(LONG value);
VARIANT BoolValue(bool value);
VARIANT TypedValue(VARTYPE type); // VT_EMPTY or VT_NULL
VARIANT StringArrayValue(const wchar_t* first, const wchar_t* second);
VARIANT UnknownValue(IUnknown* object); // AddRefs the object
