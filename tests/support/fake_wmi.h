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
    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR, LONG, VARIANT*, CIMTYPE*, LONG*) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override;
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override;
    HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type,
                                   LONG* flavour) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override;
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override;
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override;
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**,
                                        IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*,
                                        IWbemClassObject*) override;
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override;
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**,
                                         IWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override;
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override;

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
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override;
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override;

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
    UINT queryLanguageLength = 0; // as SysStringLen sees it: a real BSTR matches the text
    UINT queryTextLength = 0;
    LONG queryFlags = 0;
    bool queryContextNull = false;
    long liveAllocationsAtExecQuery = -1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClientSecurity
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                                           void**, DWORD*) override;
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz,
                                         OLECHAR* principal, DWORD level, DWORD imp, void* authInfo,
                                         DWORD caps) override;
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override;
    // IWbemServices
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override;
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                       IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                          IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                               IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                             IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context,
                                        IEnumWbemClassObject** enumerator) override;
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override;
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext*, IWbemObjectSink*) override;
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*,
                                         IWbemClassObject*, IWbemClassObject**,
                                         IWbemCallResult**) override;
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IWbemClassObject*, IWbemObjectSink*) override;

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
    int connectCalls = 0;
    std::wstring resource;
    UINT resourceLength = 0;      // as SysStringLen sees it
    bool credentialsNull = false; // user, password, locale and authority
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
