#include "support/fake_wmi.h"

#include "support/task_memory_spy.h"

FakeWmi* fakeWmi = NULL;

HRESULT NoteUnexpectedCall(FakeWmi* world, const char* method) {
    world->unexpected.push_back(method);
    return WBEM_E_NOT_SUPPORTED;
}

namespace {

// Shared reference counting: counts never fall below zero unnoticed.
ULONG Decrement(FakeWmi* world, LONG* refs, const std::string& name) {
    world->Log("release " + name);
    if (*refs <= 0) {
        world->unexpected.push_back("over-release of " + name);
        return 0;
    }
    return (ULONG)-- * refs;
}

std::wstring TextOf(const BSTR text) {
    return text == NULL ? std::wstring(L"(null)") : std::wstring(text);
}

} // namespace

// ---- FakeClassObject -------------------------------------------------------------------------

FakeClassObject::FakeClassObject(FakeWmi* world, std::string name)
    : name(std::move(name)), world_(world) {}

FakeClassObject::~FakeClassObject() {
    for (auto& property : properties_) {
        VariantClear(&property.second);
    }
}

void FakeClassObject::Add(const wchar_t* propertyName, VARIANT value, CIMTYPE cimType) {
    properties_.emplace_back(propertyName, value);
    cimTypes_.push_back(cimType);
}

HRESULT FakeClassObject::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IWbemClassObject) {
        *out = static_cast<IWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG FakeClassObject::AddRef() {
    return (ULONG)++refs;
}

ULONG FakeClassObject::Release() {
    return Decrement(world_, &refs, name);
}

HRESULT FakeClassObject::BeginEnumeration(LONG flags) {
    world_->Log("begin");
    beginFlags.push_back(flags);
    if (FAILED(beginResult)) {
        return beginResult;
    }
    enumerating_ = true;
    position_ = 0;
    return WBEM_S_NO_ERROR;
}

HRESULT FakeClassObject::Next(LONG flags, BSTR* propertyName, VARIANT* value, CIMTYPE* type,
                              LONG* flavour) {
    world_->Log("property");
    nextFlags.push_back(flags);
    if (flavour != NULL) {
        flavourRequested = true;
    }
    if (!enumerating_) {
        return WBEM_E_UNEXPECTED;
    }
    if (position_ == failAtProperty) {
        enumerating_ = false;
        return failResult;
    }
    if (position_ >= properties_.size()) {
        // Asking again after the end would loop for ever on a real object.
        if (position_++ > properties_.size()) {
            world_->unexpected.push_back("property Next after the end of " + name);
            return WBEM_E_UNEXPECTED;
        }
        return WBEM_S_NO_MORE_DATA;
    }
    // WMI overwrites the outputs without freeing them: whatever the caller left
    // there from the previous property would leak.
    if (*propertyName != NULL || value->vt != VT_EMPTY) {
        world_->unexpected.push_back("property Next given a name or value not freed, on " + name);
    }
    if (type != NULL) {
        *type = cimTypes_[position_];
    }
    const auto& property = properties_[position_++];
    *propertyName = SysAllocString(property.first.c_str());
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, const_cast<VARIANT*>(&property.second));
    *value = copy;
    ++propertiesHandedOut;
    return WBEM_S_NO_ERROR;
}

HRESULT FakeClassObject::EndEnumeration() {
    world_->Log("end");
    ++endCalls;
    enumerating_ = false;
    return WBEM_S_NO_ERROR;
}

// ---- FakeEnumerator --------------------------------------------------------------------------

FakeEnumerator::FakeEnumerator(FakeWmi* world) : world_(world) {}

HRESULT FakeEnumerator::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject) {
        *out = static_cast<IEnumWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG FakeEnumerator::AddRef() {
    return (ULONG)++refs;
}

ULONG FakeEnumerator::Release() {
    return Decrement(world_, &refs, "enumerator");
}

HRESULT FakeEnumerator::Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                             ULONG* returned) {
    world_->Log("fetch");
    timeouts.push_back(timeout);
    counts.push_back(count);
    int held = 0;
    for (const auto& instance : world_->instances) {
        if (instance->refs > 1) {
            ++held;
        }
    }
    if (held > mostInstancesHeldAtFetch) {
        mostInstancesHeldAtFetch = held;
    }

    *returned = 0;
    if (ended_) {
        world_->unexpected.push_back("fetch after the listing had ended");
    }
    if (position_ >= fetches.size()) {
        ended_ = true;
        return WBEM_S_FALSE;
    }
    FakeFetch& fetch = fetches[position_];
    // A negative time-out is WBEM_INFINITE: the caller waits for as long as it takes.
    if (timeout >= 0 && fetch.delay > (DWORD)timeout) {
        world_->clock += (DWORD)timeout;
        fetch.delay -= (DWORD)timeout;
        ended_ = true;
        return WBEM_S_TIMEDOUT;
    }
    world_->clock += fetch.delay;
    fetch.delay = 0;
    ++position_;
    if (fetch.instance != NULL && count >= 1) {
        fetch.instance->AddRef();
        objects[0] = fetch.instance;
        *returned = 1;
    } else {
        ended_ = true;
    }
    return fetch.result;
}

// ---- FakeServices ----------------------------------------------------------------------------

FakeServices::FakeServices(FakeWmi* world) : world_(world) {}

HRESULT FakeServices::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IWbemServices) {
        *out = static_cast<IWbemServices*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == IID_IClientSecurity && answersClientSecurity) {
        *out = static_cast<IClientSecurity*>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG FakeServices::AddRef() {
    return (ULONG)++refs;
}

ULONG FakeServices::Release() {
    return Decrement(world_, &refs, "services");
}

HRESULT FakeServices::SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal,
                                 DWORD level, DWORD imp, void* authInfo, DWORD caps) {
    world_->Log("blanket");
    ++setBlanketCalls;
    blanketProxy = proxy;
    authnService = authn;
    authzService = authz;
    serverPrincipalNull = principal == NULL;
    authnLevel = level;
    impLevel = imp;
    authInfoNull = authInfo == NULL;
    capabilities = caps;
    liveAllocationsAtSetBlanket = LiveTaskAllocations();
    return setBlanketResult;
}

HRESULT FakeServices::ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                IWbemContext* context, IEnumWbemClassObject** enumerator) {
    world_->Log("query");
    ++execQueryCalls;
    queryLanguage = TextOf(language);
    queryText = TextOf(query);
    queryTexts.push_back(queryText);
    queryLanguageLength = language == NULL ? 0 : SysStringLen(language);
    queryTextLength = query == NULL ? 0 : SysStringLen(query);
    queryFlags = flags;
    queryContextNull = context == NULL;
    liveAllocationsAtExecQuery = LiveTaskAllocations();
    world_->clock += execQueryDelay;
    if (FAILED(execQueryResult)) {
        *enumerator = NULL;
        return execQueryResult;
    }
    world_->enumerator.AddRef();
    *enumerator = &world_->enumerator;
    return execQueryResult;
}

// ---- FakeLocator -----------------------------------------------------------------------------

FakeLocator::FakeLocator(FakeWmi* world) : world_(world) {}

HRESULT FakeLocator::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IWbemLocator) {
        *out = static_cast<IWbemLocator*>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG FakeLocator::AddRef() {
    return (ULONG)++refs;
}

ULONG FakeLocator::Release() {
    return Decrement(world_, &refs, "locator");
}

HRESULT FakeLocator::ConnectServer(const BSTR networkResource, const BSTR user, const BSTR password,
                                   const BSTR locale, LONG flags, const BSTR authority,
                                   IWbemContext* context, IWbemServices** services) {
    world_->Log("connect");
    resource = TextOf(networkResource);
    resources.push_back(resource);
    resourceLength = networkResource == NULL ? 0 : SysStringLen(networkResource);
    credentialsNull = user == NULL && password == NULL && locale == NULL && authority == NULL;
    securityFlags = flags;
    contextNull = context == NULL;
    liveAllocationsAtConnect = LiveTaskAllocations();
    world_->clock += connectDelay;
    if (FAILED(connectResult)) {
        *services = NULL;
        return connectResult;
    }
    world_->services.AddRef();
    *services = static_cast<IWbemServices*>(&world_->services);
    return connectResult;
}

// ---- FakeUnknown -----------------------------------------------------------------------------

HRESULT FakeUnknown::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown) {
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG FakeUnknown::AddRef() {
    return (ULONG)++refs;
}

ULONG FakeUnknown::Release() {
    return refs > 0 ? (ULONG)--refs : 0;
}

// ---- FakeWmi ---------------------------------------------------------------------------------

FakeWmi::FakeWmi() : locator(this), services(this), enumerator(this) {}

FakeClassObject* FakeWmi::NewInstance() {
    instances.push_back(std::make_unique<FakeClassObject>(
        this, "instance " + std::to_string(instances.size() + 1)));
    return instances.back().get();
}

void FakeWmi::Deliver(FakeClassObject* instance, DWORD delay) {
    enumerator.fetches.push_back(FakeFetch{delay, WBEM_S_NO_ERROR, instance});
}

void FakeWmi::EndWith(HRESULT result, DWORD delay) {
    enumerator.fetches.push_back(FakeFetch{delay, result, NULL});
}

void FakeWmi::DeliverNumbered(int count) {
    for (int i = 1; i <= count; ++i) {
        FakeClassObject* instance = NewInstance();
        instance->Add(L"N", I4Value(i));
        Deliver(instance);
    }
}

std::string FakeWmi::Unreleased() const {
    std::string list;
    auto note = [&list](const std::string& name, LONG refs) {
        if (refs != 1) {
            list += name + " has " + std::to_string(refs - 1) + " outstanding; ";
        }
    };
    note("locator", locator.refs);
    note("services", services.refs);
    note("enumerator", enumerator.refs);
    for (const auto& instance : instances) {
        note(instance->name, instance->refs);
    }
    return list;
}

void FakeWmi::Log(const std::string& call) {
    calls.push_back(call);
}

HRESULT CreateFakeWbemLocator(IWbemLocator** locator) {
    fakeWmi->Log("create");
    ++fakeWmi->createCalls;
    if (FAILED(fakeWmi->createResult)) {
        *locator = NULL;
        return fakeWmi->createResult;
    }
    fakeWmi->locator.AddRef();
    *locator = &fakeWmi->locator;
    return fakeWmi->createResult;
}

DWORD FakeWmiTickCount() {
    fakeWmi->Log("tick");
    return fakeWmi->clock;
}

// ---- values ----------------------------------------------------------------------------------

VARIANT BstrValue(const wchar_t* text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    return value;
}

VARIANT I4Value(LONG number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

VARIANT BoolValue(bool flag) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

VARIANT TypedValue(VARTYPE type) {
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    return value;
}

VARIANT StringArrayValue(const wchar_t* first, const wchar_t* second) {
    VARIANT value;
    VariantInit(&value);
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG index = 0;
    BSTR item = SysAllocString(first);
    SafeArrayPutElement(array, &index, item);
    SysFreeString(item);
    index = 1;
    item = SysAllocString(second);
    SafeArrayPutElement(array, &index, item);
    SysFreeString(item);
    value.vt = VT_ARRAY | VT_BSTR;
    value.parray = array;
    return value;
}

VARIANT UnknownValue(IUnknown* object) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UNKNOWN;
    object->AddRef();
    value.punkVal = object;
    return value;
}
