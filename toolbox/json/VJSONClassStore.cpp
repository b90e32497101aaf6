#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VStorageLocker.h"

namespace zorn
{

namespace
{

std::u16string Key(const VString& inName)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inName.GetCPointer()),
                          static_cast<size_t>(inName.GetLength()));
}

VString NameOf(const std::u16string& inKey)
{
    return VString(reinterpret_cast<const UniChar*>(inKey.data()), static_cast<int32_t>(inKey.size()));
}

// Calls inFunction with a context of its own (this values, arguments) and hands the result and
// its kind on to the caller's context; status 1 means the call was not handled.
EJSONStatus CallWithOwnContext(VJSONObject* inFunction, const VJSONValue& inThis,
                               std::vector<VJSONValue>* inArgs, IJSONFunctionContext* ioContext)
{
    VJSONFunctionContext context(inThis.GetObject(), inThis.GetArray(), inArgs, ioContext->GetBaseContext(),
                                 ioContext->GetLanguageContext());
    EJSONStatus status = inFunction->GetImplementation()->IJSON_CallAsFunction(inFunction, &context);
    VJSONValue result;
    context.GetResult(result);
    ioContext->SetResult(result, context.GetResultLegacyValueKind());
    if (status == eJSONStatusNotHandled)
        _ThrowError(VE_JSON_NOT_A_NATIVE_FUNCTION);
    return status;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// VJSONMemberFunction

VJSONMemberFunction::VJSONMemberFunction(VJSONClass::NativeFunction inFunction, const VString& inFullName,
                                         VJSONClass* inClass)
    : fFunction(inFunction), fFullName(inFullName), fClass(inClass)
{
}

VJSONObject* VJSONMemberFunction::Create(VJSONClass::NativeFunction inFunction, const VString& inName,
                                         VJSONClass* inClass, uint32_t inFlags)
{
    VString fullName = inClass != nullptr ? inClass->GetName() + VString(".") + inName : inName;
    VRefPtr<VJSONMemberFunction> implementation(new VJSONMemberFunction(inFunction, fullName, inClass), true);
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    VJSONObject* object = new VJSONObject(store != nullptr ? store->GetRootFunctionClass() : nullptr,
                                          implementation.Get(), true);
    if ((inFlags & (VJSONClass::kFunctionFinal | VJSONClass::kFunctionHidden)) != 0)
    {
        VJSONUser user(object);
        if ((inFlags & VJSONClass::kFunctionFinal) != 0)
            object->SetOwnProperty(VString("final"), VJSONValue(JSON_true));
        if ((inFlags & VJSONClass::kFunctionHidden) != 0)
            object->SetOwnProperty(VString("__hidden"), VJSONValue(JSON_true));
    }
    return object;
}

EJSONStatus VJSONMemberFunction::do_apply(const VJSONObject* /*inFunctionObject*/,
                                          IJSONFunctionContext* ioContext)
{
    VJSONObject* function = ioContext->GetThisObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
    {
        _ThrowError(VE_JSON_NOT_A_NATIVE_FUNCTION);
        ioContext->SetResult(VJSONValue(JSON_undefined));
        return eJSONStatusFailed;
    }
    VJSONValue thisValue = ioContext->GetParam(1);
    VJSONValue arguments = ioContext->GetParam(2);
    std::vector<VJSONValue> values;
    if (arguments.IsArray())
        arguments.GetArray()->GetValues(values);
    return CallWithOwnContext(function, thisValue, &values, ioContext);
}

EJSONStatus VJSONMemberFunction::do_call(const VJSONObject* /*inFunctionObject*/,
                                         IJSONFunctionContext* ioContext)
{
    VJSONObject* function = ioContext->GetThisObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
    {
        _ThrowError(VE_JSON_NOT_A_NATIVE_FUNCTION);
        return eJSONStatusFailed;
    }
    int count = ioContext->GetParamCount();
    if (count == 0)
    {
        // No this value and no arguments: results go straight to the caller.
        VJSONFunctionContext context(nullptr, nullptr, ioContext);
        EJSONStatus status = function->GetImplementation()->IJSON_CallAsFunction(function, &context);
        if (status == eJSONStatusNotHandled)
            _ThrowError(VE_JSON_NOT_A_NATIVE_FUNCTION);
        return status;
    }
    std::vector<VJSONValue> values;
    values.reserve(static_cast<size_t>(count - 1));
    for (int i = 2; i <= count; ++i)
        values.push_back(ioContext->GetParam(i));
    return CallWithOwnContext(function, ioContext->GetParam(1), &values, ioContext);
}

EJSONStatus VJSONMemberFunction::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                                   VJSONValue& outValue, VDBLanguageContext* /*inContext*/)
{
    if (!inName.EqualToStringRaw(VString("_description")))
        return eJSONStatusNotHandled;
    outValue.SetString(fFullName);
    return eJSONStatusDone;
}

EJSONStatus VJSONMemberFunction::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                                   const VJSONValue& /*inValue*/,
                                                   VDBLanguageContext* /*inContext*/)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSONStatusFailed;
}

EJSONStatus VJSONMemberFunction::IJSON_RemoveProperty(VJSONObject* /*inObject*/, const VString& /*inName*/)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSONStatusFailed;
}

bool VJSONMemberFunction::IJSON_Clear(VJSONObject* /*inObject*/)
{
    return true;
}

bool VJSONMemberFunction::IJSON_IsEmpty(const VJSONObject* /*inObject*/)
{
    return false;
}

EJSONStatus VJSONMemberFunction::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("<<Native Function: ") + fFullName + VString(" >>");
    return eJSONStatusDone;
}

EJSONStatus VJSONMemberFunction::IJSON_CloneImpl(const VJSONObject* /*inObject*/, VJSONCloner& /*ioCloner*/,
                                                 VRefPtr<IJSONObject>& outImplementation, bool* outShared,
                                                 VError* /*outError*/)
{
    outImplementation.Adopt(new VJSONMemberFunction(fFunction, fFullName, nullptr));
    if (outShared != nullptr)
        *outShared = true;
    return eJSONStatusDone;
}

EJSONStatus VJSONMemberFunction::IJSON_CallAsFunction(const VJSONObject* inObject,
                                                      IJSONFunctionContext* ioContext)
{
    return fFunction(inObject, ioContext);
}

VJSONClass* VJSONMemberFunction::IJSON_GetFunctionClassOwner(const VJSONObject* /*inObject*/)
{
    return fClass;
}

// ---------------------------------------------------------------------------------------------
// VJSONClassStore

std::atomic<VJSONClassStore*> VJSONClassStore::sProcessStore{nullptr};
std::atomic<VJSONClass*> VJSONClassStore::sObjectClass{nullptr};

VJSONClassStore::VJSONClassStore(const VString& inName) : fName(inName) {}

VJSONClassStore::~VJSONClassStore()
{
    ReleaseSingletons();
    // The root classes reference themselves: the class objects of "Object" and "Class" have the
    // class "Class", and the member functions on their prototypes have the class "Function". Take
    // those back so the root classes go with the store's references.
    for (VJSONObject* root : {fRootObject, fRootClass})
    {
        if (root != nullptr)
            root->_SetClass(nullptr, 0);
    }
    for (VJSONObject* root : {fRootObject, fRootClass, fRootFunction})
    {
        if (VJSONClass* rootClass = VJSONClass::CastClassObject(root))
            rootClass->_ReleaseMembers();
    }
    for (auto& [name, classObject] : fVisibleClasses)
        classObject->Release();
    for (auto& [name, classObject] : fClasses)
        classObject->Release();
    RemoveComponentClassStores();
}

void VJSONClassStore::SetProcessStore(VJSONClassStore* inStore)
{
    RetainRefCountable(inStore);
    VJSONClassStore* old = sProcessStore.exchange(inStore, std::memory_order_acq_rel);
    sObjectClass.store(inStore != nullptr ? VJSONClass::CastClassObject(inStore->fRootObject) : nullptr,
                       std::memory_order_release);
    ReleaseRefCountable(&old);
}

void VJSONClassStore::AddRootClasses()
{
    StLocker<VCriticalSection> lock(&fLock);
    VJSONClass* objectClass = new VJSONClass(VString("Object"), nullptr, nullptr, nullptr, fName, 0);
    VJSONObject* objectObject = VJSONClass::_NewClassObject(objectClass, nullptr);
    VJSONClass* classClass = new VJSONClass(VString("Class"), objectClass, objectObject, nullptr, fName, 0);
    VJSONObject* classObject = VJSONClass::_NewClassObject(classClass, nullptr);
    objectObject->_SetClass(classClass, 1);
    classObject->_SetClass(classClass, 2);
    fRootObject = objectObject;
    fRootClass = classObject;
    _AddClass(objectObject, 0);
    _AddClass(classObject, 0);
    VJSONClass* functionClass =
        new VJSONClass(VString("Function"), objectClass, objectObject, nullptr, fName, 0);
    VJSONObject* functionObject = VJSONClass::_NewClassObject(functionClass, classClass);
    fRootFunction = functionObject;
    _AddClass(functionObject, 0);
    // The store's references are those of the maps.
    objectObject->Release();
    classObject->Release();
    functionObject->Release();

    objectClass->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{}, nullptr, nullptr);
    classClass->SetFunctions(
        std::vector<VJSONClass::FunctionDescriptor>{{VString("new"), VJSONClass::do_new, 0}}, nullptr,
        nullptr);
    if (GetProcessStore() == this)
        sObjectClass.store(objectClass, std::memory_order_release);
    functionClass->SetFunctions(
        std::vector<VJSONClass::FunctionDescriptor>{{VString("apply"), VJSONMemberFunction::do_apply, 0},
                                                    {VString("call"), VJSONMemberFunction::do_call, 0}},
        nullptr, nullptr);
}

void VJSONClassStore::_AddClass(VJSONObject* inClassObject, uint32_t inFlags)
{
    VJSONClass* theClass = VJSONClass::CastClassObject(inClassObject);
    if (theClass == nullptr)
        return;
    std::u16string key = Key(theClass->GetName());
    auto place = [&](ClassMap& ioMap)
    {
        inClassObject->Retain();
        auto [it, added] = ioMap.try_emplace(key, inClassObject);
        if (!added)
        {
            it->second->Release();
            it->second = inClassObject;
        }
    };
    place(fClasses);
    if ((inFlags & kNotVisible) == 0)
        place(fVisibleClasses);
}

void VJSONClassStore::AddClass(VJSONObject* inClassObject, uint32_t inFlags)
{
    StLocker<VCriticalSection> lock(&fLock);
    _AddClass(inClassObject, inFlags);
}

VJSONObject* VJSONClassStore::AddClass(const VString& inName,
                                       const std::vector<VJSONClass::FunctionDescriptor>& inFunctions,
                                       VJSONObject* inSuperclassObject,
                                       VJSONClass::NativeFunction inConstructor,
                                       VJSONClass::Instantiator inInstantiator, uint32_t inFlags)
{
    VRefPtr<VJSONObject> classObject(VJSONClass::Create(inName, inFunctions, inSuperclassObject,
                                                        inConstructor, inInstantiator, fName, inFlags),
                                     true);
    if (!classObject)
        return nullptr;
    AddClass(classObject.Get(), 0);
    return classObject.Get();
}

VRefPtr<VJSONObject> VJSONClassStore::_Find(const ClassMap& inMap, const VString& inName,
                                            bool inCaseInsensitive)
{
    if (!inCaseInsensitive)
    {
        auto found = inMap.find(Key(inName));
        return found == inMap.end() ? nullptr : VRefPtr<VJSONObject>(found->second);
    }
    for (const auto& [name, classObject] : inMap)
    {
        VString candidate(reinterpret_cast<const UniChar*>(name.data()), static_cast<int32_t>(name.size()));
        if (EqualClassName(candidate, inName, true))
            return VRefPtr<VJSONObject>(classObject);
    }
    return nullptr;
}

bool VJSONClassStore::EqualClassName(const VString& inName, const VString& inOther, bool inCaseInsensitive)
{
    return inCaseInsensitive ? inName.CompareToStringRawCase(inOther) == CR_EQUAL
                             : inName.EqualToStringRaw(inOther);
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObject(const VString& inName, bool inCaseInsensitive) const
{
    StLocker<VCriticalSection> lock(&fLock);
    return _Find(fClasses, inName, inCaseInsensitive);
}

VRefPtr<VJSONObject> VJSONClassStore::GetVisibleClassObject(const VString& inName,
                                                            bool inCaseInsensitive) const
{
    StLocker<VCriticalSection> lock(&fLock);
    return _Find(fVisibleClasses, inName, inCaseInsensitive);
}

std::vector<std::pair<VString, VRefPtr<VJSONObject>>> VJSONClassStore::_Copy(const ClassMap& inMap)
{
    std::vector<std::pair<VString, VRefPtr<VJSONObject>>> copy;
    copy.reserve(inMap.size());
    for (const auto& [name, classObject] : inMap)
        copy.emplace_back(
            VString(reinterpret_cast<const UniChar*>(name.data()), static_cast<int32_t>(name.size())),
            VRefPtr<VJSONObject>(classObject));
    return copy;
}

std::vector<std::pair<VString, VRefPtr<VJSONObject>>> VJSONClassStore::GetClasses() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return _Copy(fClasses);
}

std::vector<std::pair<VString, VRefPtr<VJSONObject>>> VJSONClassStore::GetVisibleClasses() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return _Copy(fVisibleClasses);
}

size_t VJSONClassStore::GetCount() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fClasses.size();
}

// ---------------------------------------------------------------------------------------------
// Component stores and identifiers

void VJSONClassStore::AddComponentClassStore(const VString& inName, VJSONClassStore* inStore)
{
    if (inStore == nullptr)
        return;
    inStore->Retain();
    VJSONClassStore* old = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        VJSONClassStore*& slot = fComponentStores[Key(inName)];
        old = slot;
        slot = inStore;
    }
    ReleaseRefCountable(&old);
}

VRefPtr<VJSONClassStore> VJSONClassStore::GetComponentClassStore(const VString& inName) const
{
    StLocker<VCriticalSection> lock(&fLock);
    auto found = fComponentStores.find(Key(inName));
    return found == fComponentStores.end() ? nullptr : VRefPtr<VJSONClassStore>(found->second);
}

std::vector<std::pair<VString, VRefPtr<VJSONClassStore>>> VJSONClassStore::GetComponentClassStores() const
{
    StLocker<VCriticalSection> lock(&fLock);
    std::vector<std::pair<VString, VRefPtr<VJSONClassStore>>> copy;
    copy.reserve(fComponentStores.size());
    for (const auto& [name, store] : fComponentStores)
        copy.emplace_back(
            VString(reinterpret_cast<const UniChar*>(name.data()), static_cast<int32_t>(name.size())),
            VRefPtr<VJSONClassStore>(store));
    return copy;
}

void VJSONClassStore::RemoveComponentClassStores()
{
    std::unordered_map<std::u16string, VJSONClassStore*> removed;
    {
        StLocker<VCriticalSection> lock(&fLock);
        removed.swap(fComponentStores);
    }
    for (auto& [name, store] : removed)
        store->Release();
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObjectFromIdentifier(const VString& inID) const
{
    int32_t dot = inID.FindUniChar(u'.');
    if (dot <= 1)
        return GetClassObject(inID);
    VString component;
    VString name;
    inID.GetSubString(1, dot - 1, component);
    inID.GetSubString(dot + 1, inID.GetLength() - dot, name);
    VRefPtr<VJSONClassStore> store = GetComponentClassStore(component);
    return store ? store->GetClassObject(name) : nullptr;
}

VRefPtr<VJSONObject>
VJSONClassStore::GetSingletonObjectFromIdentifier(const VString& inID,
                                                  VDBLanguageContext* inLanguageContext) const
{
    VRefPtr<VJSONObject> classObject = GetClassObjectFromIdentifier(inID);
    VJSONClass* theClass = VJSONClass::CastClassObject(classObject.Get());
    return theClass != nullptr ? theClass->GetSingleton(inLanguageContext, nullptr) : nullptr;
}

namespace
{

bool IsPublicSharedSingleton(const VJSONObject* inClassObject)
{
    constexpr uint32_t kBoth = VJSONClass::kShared | VJSONClass::kSingleton;
    VJSONClass* theClass = VJSONClass::CastClassObject(inClassObject);
    return theClass != nullptr && (theClass->GetFlags() & kBoth) == kBoth;
}

} // namespace

void VJSONClassStore::GetPublicSharedSingletonIdentifiers(std::vector<VString>& ioIDs,
                                                          const VString& inPrefix) const
{
    StLocker<VCriticalSection> lock(&fLock);
    for (const auto& [name, classObject] : fVisibleClasses)
    {
        if (IsPublicSharedSingleton(classObject))
            ioIDs.push_back(inPrefix + NameOf(name));
    }
    for (const auto& [component, store] : fComponentStores)
    {
        for (const auto& [name, classObject] : store->GetVisibleClasses())
        {
            if (IsPublicSharedSingleton(classObject.Get()))
                ioIDs.push_back(NameOf(component) + VString(".") + name);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Obsolete classes and singletons

void VJSONClassStore::RemoveObsoleteClasses(const FileMap& inFiles, std::vector<VString>& ioRemoved)
{
    std::vector<VJSONObject*> released;
    {
        StLocker<VCriticalSection> lock(&fLock);
        for (auto it = fClasses.begin(); it != fClasses.end();)
        {
            VJSONClass* theClass = VJSONClass::CastClassObject(it->second);
            // The root classes stay: the store and every plain object depend on them.
            if (it->second == fRootObject || it->second == fRootClass || it->second == fRootFunction)
            {
                ++it;
                continue;
            }
            bool listed = inFiles.count(it->first) != 0;
            bool hasFile = theClass->GetFile() != nullptr;
            if ((hasFile ? !listed : listed) || theClass->IsObsolete())
            {
                if (hasFile)
                    ioRemoved.push_back(NameOf(it->first));
                auto visible = fVisibleClasses.find(it->first);
                if (visible != fVisibleClasses.end() && visible->second == it->second)
                {
                    released.push_back(visible->second);
                    fVisibleClasses.erase(visible);
                }
                released.push_back(it->second);
                it = fClasses.erase(it);
            }
            else
            {
                ++it;
            }
        }
    }
    // A class object may go with its last reference: outside the store lock.
    for (VJSONObject* classObject : released)
        classObject->Release();
}

void VJSONClassStore::ReleaseSingletons()
{
    std::vector<VRefPtr<VJSONObject>> singletons;
    {
        StLocker<VCriticalSection> lock(&fLock);
        for (const auto& [name, classObject] : fClasses)
        {
            if (VRefPtr<VJSONObject> taken = VJSONClass::CastClassObject(classObject)->_TakeSingleton())
                singletons.push_back(std::move(taken));
        }
    }
    // The instances go outside the store lock (their release may ask the store for classes).
}

// ---------------------------------------------------------------------------------------------
// IJSONObject of a store

EJSONStatus VJSONClassStore::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                               VJSONValue& outValue, VDBLanguageContext* /*inContext*/)
{
    if (VRefPtr<VJSONObject> found = GetClassObject(inName))
    {
        outValue = VJSONValue(found.Get());
    }
    else if (VRefPtr<VJSONClassStore> component = GetComponentClassStore(inName))
    {
        VRefPtr<VJSONObject> object(new VJSONObject(nullptr, component.Get(), false), true);
        outValue = VJSONValue(object.Get());
    }
    else
    {
        outValue = VJSONValue(JSON_undefined);
    }
    return eJSONStatusDone;
}

EJSONStatus VJSONClassStore::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                               const VJSONValue& /*inValue*/,
                                               VDBLanguageContext* /*inContext*/)
{
    _ThrowError(VE_JSON_CLASS_STORE_READ_ONLY);
    return eJSONStatusFailed;
}

bool VJSONClassStore::IJSON_Clear(VJSONObject* /*inObject*/)
{
    return true;
}

bool VJSONClassStore::IJSON_IsEmpty(const VJSONObject* /*inObject*/)
{
    return false;
}

EJSONStatus VJSONClassStore::IJSON_GetPropertyNames(std::vector<VString>& outNames)
{
    for (auto& [name, classObject] : GetVisibleClasses())
        outNames.push_back(name);
    return eJSONStatusDone;
}

EJSONStatus VJSONClassStore::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("<<Class Store>>");
    return eJSONStatusDone;
}

} // namespace zorn
