#include "toolbox/json/VJSONClass.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <cmath>

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

// The keyword texts, built once.
struct Keywords
{
    VString fPrototype{"__prototype"};
    VString fName{"name"};
    VString fSuperclass{"superclass"};
    VString fFile{"__file"};
    VString fID{"_id"};
    VString fInstanceCount{"_instanceCount"};
    VString fCreationCount{"_creationCount"};
    VString fProperties{"__properties"};
    VString fMe{"me"};
    VString fIsSingleton{"isSingleton"};
    VString fIsShared{"isShared"};
    VString fIsSessionSingleton{"isSessionSingleton"};
    VString fFinal{"final"};
    VString fHidden{"__hidden"};
    VString fDescription{"_description"};
    VString fEventName{CVSTR_struct(VJSONClass::sFunctionProperty_eventName)};
    VString fInit{CVSTR_struct(VJSONClass::sFunctionType_init)};
};

const Keywords& K()
{
    static const Keywords sKeywords;
    return sKeywords;
}

} // namespace

std::atomic<uint32_t> VJSONClass::sSequenceID{0};

// ---------------------------------------------------------------------------------------------
// Creation

VJSONClass::VJSONClass(const VString& inName, VJSONClass* inSuperclass, VJSONObject* inSuperclassObject,
                       IFile* inFile, const VString& inStoreName, uint32_t inFlags)
    : fName(inName), fStoreName(inStoreName), fSuperclass(inSuperclass),
      fSuperclassObject(inSuperclassObject), fPrototype(new VJSONObject(nullptr, true), true),
      fDepth(inSuperclass == nullptr ? 0 : inSuperclass->fDepth + 1),
      fID(sSequenceID.fetch_add(1, std::memory_order_relaxed) + 1),
      fFlags((inFlags & kSessionSingleton) != 0 ? (inFlags | kShared | kSingleton) : inFlags)
{
    const detail::VClassFileAccess* files = detail::KernelHooks().fClassFileAccess.load();
    if (inFile != nullptr && files != nullptr)
    {
        files->fRetain(inFile);
        fFile = inFile;
        // The obsolete check compares with this; an unreadable time counts as the creation.
        StErrorContextInstaller quiet(false, false);
        if (files->fGetModificationTime(inFile, fModificationTime) != VE_OK)
            VTime::Now(fModificationTime);
    }
    else
    {
        VTime::Now(fModificationTime);
    }
    fInstantiator = (fFlags & kShared) != 0 ? SharedObjectInstantiator : GenericInstantiator;
}

VJSONClass::~VJSONClass()
{
    if (fFile != nullptr)
        detail::KernelHooks().fClassFileAccess.load()->fRelease(fFile);
}

VJSONObject* VJSONClass::_NewClassObject(VJSONClass* inClass, VJSONClass* inClassOfClassObject)
{
    VJSONObject* object = new VJSONObject(
        inClassOfClassObject != nullptr ? inClassOfClassObject->fClassObject : nullptr, inClass, true);
    inClass->_SetClassObject(object);
    // The class object now holds the class.
    inClass->Release();
    return object;
}

VJSONObject* VJSONClass::Create(const VString& inName, VJSONObject* inSuperclassObject, IFile* inFile,
                                const VString& inStoreName, uint32_t inFlags)
{
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    if (inSuperclassObject == nullptr && store != nullptr)
        inSuperclassObject = store->GetRootObjectClass();
    VJSONClass* superclass = nullptr;
    if (inSuperclassObject != nullptr)
    {
        superclass = CastClassObject(inSuperclassObject);
        if (superclass == nullptr)
        {
            _ThrowError(VE_JSON_SUPERCLASS_NOT_A_CLASS);
            return nullptr;
        }
    }
    VJSONClass* created =
        new VJSONClass(inName, superclass, inSuperclassObject, inFile, inStoreName, inFlags);
    VJSONClass* classClass = store != nullptr ? CastClassObject(store->GetRootClassClass()) : nullptr;
    return _NewClassObject(created, classClass);
}

VJSONObject* VJSONClass::Create(const VString& inName, const std::vector<FunctionDescriptor>& inFunctions,
                                VJSONObject* inSuperclassObject, NativeFunction inConstructor,
                                Instantiator inInstantiator, const VString& inStoreName, uint32_t inFlags)
{
    VJSONObject* object = Create(inName, inSuperclassObject, nullptr, inStoreName, inFlags);
    if (object != nullptr)
        CastClassObject(object)->SetFunctions(inFunctions, inConstructor, inInstantiator);
    return object;
}

VJSONObject* VJSONClass::CreateNativeClass(const VString& inName,
                                           const std::vector<FunctionDescriptor>& inFunctions,
                                           Instantiator inInstantiator)
{
    if (VJSONClassStore* store = VJSONClassStore::GetProcessStore())
    {
        VJSONObject* classObject = store->AddClass(inName, inFunctions, nullptr, nullptr, inInstantiator, 0);
        if (classObject != nullptr)
        {
            classObject->Retain();
        }
        return classObject;
    }
    return Create(inName, inFunctions, nullptr, nullptr, inInstantiator, VString("zq"), 0);
}

VJSONClass* VJSONClass::CastClassObject(const VJSONObject* inObject)
{
    return inObject == nullptr ? nullptr : dynamic_cast<VJSONClass*>(inObject->GetImplementation());
}

// ---------------------------------------------------------------------------------------------
// Functions

void VJSONClass::SetFunctions(const std::vector<FunctionDescriptor>& inFunctions,
                              NativeFunction inConstructor, Instantiator inInstantiator)
{
    if (fFinalized)
        return;
    NamedFunctions functions;
    functions.reserve(inFunctions.size());
    uint32_t hidden = (fFlags & kHiddenFunctions) != 0 ? kFunctionHidden : 0;
    for (const FunctionDescriptor& descriptor : inFunctions)
    {
        functions.emplace_back(
            descriptor.fName,
            VRefPtr<VJSONObject>(VJSONMemberFunction::Create(descriptor.fFunction, descriptor.fName, this,
                                                             descriptor.fFlags | hidden),
                                 true));
    }
    VRefPtr<VJSONObject> constructor;
    if (inConstructor != nullptr)
        constructor.Adopt(VJSONMemberFunction::Create(inConstructor, VString("constructor"), this, 0));
    SetFunctions(functions, constructor.Get(), inInstantiator);
}

void VJSONClass::_Record(VRefPtr<VJSONObject>& ioHolder, FunctionMap& ioMap, const VString& inName,
                         VJSONObject* inFunction)
{
    if (!ioHolder)
        ioHolder.Adopt(new VJSONObject(nullptr, true));
    VJSONUser user(ioHolder.Get());
    if (ioHolder->SetProperty(inName, VJSONValue(inFunction)))
        ioMap[Key(inName)] = inFunction;
}

void VJSONClass::SetFunctions(const NamedFunctions& inFunctions, VJSONObject* inConstructorObject,
                              Instantiator inInstantiator)
{
    if (fFinalized)
        return;
    fConstructor = VRefPtr<VJSONObject>(inConstructorObject);
    fInstantiator = inInstantiator;
    if (fSuperclass != nullptr && fSuperclass != this)
    {
        fFunctions = fSuperclass->fFunctions;
        fGetters = fSuperclass->fGetters;
        fSetters = fSuperclass->fSetters;
    }
    std::vector<VRefPtr<VJSONObject>> overriders;
    for (const auto& [name, given] : inFunctions)
    {
        VJSONObject* function = given.Get();
        // An inherited final function stays out of reach: the override raises -10750 instead.
        VJSONObject* inherited = _Lookup(fFunctions, name);
        if (inherited != nullptr && inherited->GetOwnProperty(K().fFinal).GetBool())
        {
            overriders.emplace_back(
                VJSONMemberFunction::Create(do_errorOverridingFinalFunction, name, this, kFunctionFinal),
                true);
            function = overriders.back().Get();
        }
        {
            VJSONUser user(fPrototype.Get());
            if (!fPrototype->SetProperty(name, VJSONValue(function)))
                continue;
        }
        fFunctions[Key(name)] = function;
        int32_t blank = name.FindUniChar(u' ');
        if (blank <= 1)
            continue;
        VString prefix;
        VString property;
        name.GetSubString(1, blank - 1, prefix);
        name.GetSubString(blank + 1, name.GetLength() - blank, property);
        {
            VJSONUser user(function);
            function->SetOwnProperty(K().fEventName, VJSONValue(prefix));
        }
        if (prefix.EqualToStringRaw(VString("get")))
            _Record(fGetterObject, fGetters, property, function);
        else if (prefix.EqualToStringRaw(VString("set")))
            _Record(fSetterObject, fSetters, property, function);
        else if (prefix.EqualToStringRaw(K().fInit))
            _Record(fInitObject, fInits, property, function);
    }
    // Getters without setters share one read-only-error setter, setters without getters one
    // write-only-error getter.
    for (const auto& [name, getter] : fGetters)
    {
        if (fSetters.count(name) != 0)
            continue;
        if (!fReadOnlyErrorSetter)
            fReadOnlyErrorSetter.Adopt(VJSONMemberFunction::Create(
                do_errorReadOnlyAttribute, VString("set ") + NameOf(name), this, kFunctionFinal));
        _Record(fSetterObject, fSetters, NameOf(name), fReadOnlyErrorSetter.Get());
    }
    for (const auto& [name, setter] : fSetters)
    {
        if (fGetters.count(name) != 0)
            continue;
        if (!fWriteOnlyErrorGetter)
            fWriteOnlyErrorGetter.Adopt(VJSONMemberFunction::Create(
                do_errorWriteOnlyAttribute, VString("get ") + NameOf(name), this, kFunctionFinal));
        _Record(fGetterObject, fGetters, NameOf(name), fWriteOnlyErrorGetter.Get());
    }
    fFinalized = true;
}

void VJSONClass::_ReleaseMembers()
{
    fFunctions.clear();
    fGetters.clear();
    fSetters.clear();
    fInits.clear();
    for (VRefPtr<VJSONObject>* holder : {&fPrototype, &fGetterObject, &fSetterObject, &fInitObject})
    {
        if (*holder)
        {
            VJSONUser user(holder->Get());
            (*holder)->Clear();
        }
    }
    fConstructor.Clear();
    fReadOnlyErrorSetter.Clear();
    fWriteOnlyErrorGetter.Clear();
}

VJSONObject* VJSONClass::_Lookup(const FunctionMap& inMap, const VString& inName)
{
    if (inMap.empty())
        return nullptr;
    auto found = inMap.find(Key(inName));
    return found == inMap.end() ? nullptr : found->second;
}

VJSONObject* VJSONClass::FindFunction(const VString& inName) const
{
    return _Lookup(fFunctions, inName);
}

VJSONObject* VJSONClass::FindGetter(const VString& inName) const
{
    return _Lookup(fGetters, inName);
}

VJSONObject* VJSONClass::FindSetter(const VString& inName) const
{
    return _Lookup(fSetters, inName);
}

void VJSONClass::GetGetterNames(std::vector<VString>& ioNames) const
{
    for (const auto& [name, getter] : fGetters)
        ioNames.push_back(NameOf(name));
}

bool VJSONClass::IsFunctionHidden(const VJSONObject* inFunctionObject)
{
    return inFunctionObject != nullptr && inFunctionObject->GetOwnProperty(K().fHidden).GetBool();
}

// ---------------------------------------------------------------------------------------------
// Instances

VJSONObject* VJSONClass::CreateInstance(VJSONObject* inClassObject, IJSONFunctionContext* ioContext)
{
    if (!fFinalized)
        return nullptr;
    if (fInstantiator == nullptr)
    {
        _ThrowError(VE_JSON_NO_INSTANTIATOR);
        return nullptr;
    }
    return fInstantiator(inClassObject, ioContext);
}

VJSONObject* VJSONClass::GenericInstantiator(VJSONObject* inClassObject, IJSONFunctionContext* /*ioContext*/)
{
    return new VJSONObject(inClassObject, nullptr, false);
}

VJSONObject* VJSONClass::SharedObjectInstantiator(VJSONObject* inClassObject,
                                                  IJSONFunctionContext* /*ioContext*/)
{
    return new VJSONObject(inClassObject, nullptr, true);
}

VJSONObject* VJSONClass::ErrorSharedObjectInstantiator(VJSONObject* /*inClassObject*/,
                                                       IJSONFunctionContext* /*ioContext*/)
{
    _ThrowError(VE_JSON_SHARED_INSTANTIATION_REFUSED);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Native functions

EJSONStatus VJSONClass::do_new(const VJSONObject* /*inFunctionObject*/, IJSONFunctionContext* ioContext)
{
    VJSONObject* classObject = ioContext->GetThisObject();
    VJSONClass* theClass = CastClassObject(classObject);
    VRefPtr<VJSONObject> instance;
    if (theClass != nullptr && (theClass->fFlags & kSingleton) != 0)
        instance = theClass->GetSingleton(ioContext->GetLanguageContext(), ioContext);
    else if (theClass != nullptr)
        instance.Adopt(theClass->_NewConstructedInstance(classObject, ioContext));
    ioContext->SetResult(instance ? VJSONValue(instance.Get()) : VJSONValue(JSON_null));
    return eJSONStatusDone;
}

EJSONStatus VJSONClass::do_errorReadOnlyAttribute(const VJSONObject* /*inFunctionObject*/,
                                                  IJSONFunctionContext* /*ioContext*/)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSONStatusFailed;
}

EJSONStatus VJSONClass::do_errorWriteOnlyAttribute(const VJSONObject* /*inFunctionObject*/,
                                                   IJSONFunctionContext* ioContext)
{
    ioContext->SetResult(VJSONValue(JSON_undefined));
    return eJSONStatusDone;
}

// ---------------------------------------------------------------------------------------------
// IJSONObject of a class object

EJSONStatus VJSONClass::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                          VJSONValue& outValue, VDBLanguageContext* inContext)
{
    const Keywords& k = K();
    if (inName.EqualToStringRaw(k.fPrototype))
        outValue.SetObject(fPrototype.Get());
    else if (inName.EqualToStringRaw(k.fMe) && (fFlags & kSingleton) != 0)
    {
        VRefPtr<VJSONObject> singleton = GetSingleton(inContext, nullptr);
        outValue = singleton ? VJSONValue(singleton.Get()) : VJSONValue(JSON_null);
    }
    else if (inName.EqualToStringRaw(k.fFile) && fFile != nullptr)
    {
        VString path;
        detail::KernelHooks().fClassFileAccess.load()->fGetPathWithFileSystem(fFile, path);
        outValue.SetString(path);
    }
    else if (inName.EqualToStringRaw(k.fName))
        outValue.SetString(fName);
    else if (inName.EqualToStringRaw(k.fSuperclass))
        outValue = fSuperclassObject ? VJSONValue(fSuperclassObject.Get()) : VJSONValue(JSON_null);
    else if (inName.EqualToStringRaw(k.fIsSingleton))
        outValue.SetBool((fFlags & kSingleton) != 0);
    else if (inName.EqualToStringRaw(k.fIsSessionSingleton))
        outValue.SetBool((fFlags & kSessionSingleton) != 0);
    else if (inName.EqualToStringRaw(k.fIsShared))
        outValue.SetBool((fFlags & kShared) != 0);
    else if (inName.EqualToStringRaw(k.fID))
        outValue.SetNumber(fID);
    else if (inName.EqualToStringRaw(k.fInstanceCount))
        outValue.SetNumber(GetInstanceCount());
    else if (inName.EqualToStringRaw(k.fCreationCount))
        outValue.SetNumber(GetCreationCount());
    else
        return eJSONStatusNotHandled;
    return eJSONStatusDone;
}

EJSONStatus VJSONClass::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& inName,
                                          const VJSONValue& inValue, VDBLanguageContext* /*inContext*/)
{
    const Keywords& k = K();
    if (inName.EqualToStringRaw(k.fCreationCount))
    {
        // Truncated to an integer; a number out of the 64-bit range (or NaN) counts as 0 rather
        // than an undefined conversion.
        double number = inValue.GetNumber();
        int64_t whole =
            std::isfinite(number) && std::fabs(number) < 9.2e18 ? static_cast<int64_t>(number) : 0;
        uint64_t created = static_cast<uint32_t>(whole);
        uint64_t counts = fCounts.load(std::memory_order_relaxed);
        while (!fCounts.compare_exchange_weak(counts, (created << kCreationShift) | (counts & kInstanceMask),
                                              std::memory_order_relaxed))
        {
        }
        return eJSONStatusDone;
    }
    for (const VString* name :
         {&k.fPrototype, &k.fName, &k.fSuperclass, &k.fFile, &k.fProperties, &k.fIsSingleton, &k.fMe,
          &k.fIsShared, &k.fIsSessionSingleton, &k.fID, &k.fInstanceCount})
    {
        if (inName.EqualToStringRaw(*name))
        {
            _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
            return eJSONStatusFailed;
        }
    }
    return eJSONStatusNotHandled;
}

EJSONStatus VJSONClass::IJSON_RemoveProperty(VJSONObject* /*inObject*/, const VString& inName)
{
    const Keywords& k = K();
    for (const VString* name : {&k.fPrototype, &k.fName, &k.fSuperclass, &k.fFile, &k.fProperties,
                                &k.fIsSingleton, &k.fMe, &k.fIsShared})
    {
        if (inName.EqualToStringRaw(*name))
        {
            _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
            return eJSONStatusFailed;
        }
    }
    return eJSONStatusNotHandled;
}

EJSONStatus VJSONClass::IJSON_GetPropertyNames(std::vector<VString>& outNames)
{
    const Keywords& k = K();
    outNames.insert(outNames.end(),
                    {k.fName, k.fSuperclass, k.fIsSingleton, k.fIsShared, k.fIsSessionSingleton});
    return eJSONStatusDone;
}

EJSONStatus VJSONClass::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("Class: ") + fName;
    return eJSONStatusDone;
}

EJSONStatus VJSONClass::IJSON_Clone(const VJSONObject* /*inObject*/, VJSONCloner& /*ioCloner*/,
                                    VJSONValue& /*outClone*/, VError* /*outError*/)
{
    return eJSONStatusFailed;
}

} // namespace zorn
