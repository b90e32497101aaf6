// VJSONClass: construction of instances (initialisers, constructors and the construction level),
// singletons, class identifiers and the obsolete check.
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

namespace zorn
{

namespace
{

// The classes from inClass up to the root, most derived first.
std::vector<VJSONClass*> ChainOf(VJSONClass* inClass)
{
    std::vector<VJSONClass*> chain;
    for (VJSONClass* current = inClass; current != nullptr; current = current->GetSuperclass())
        chain.push_back(current);
    return chain;
}

bool HasConstructor(const VJSONObject* inConstructor)
{
    return inConstructor != nullptr && inConstructor->GetImplementation() != nullptr;
}

// Splits inID at its first '.' when that is not its first unit: true with both parts.
bool SplitID(const VString& inID, VString& outPrefix, VString& outRest)
{
    int32_t dot = inID.FindUniChar(u'.');
    if (dot <= 1)
        return false;
    inID.GetSubString(1, dot - 1, outPrefix);
    inID.GetSubString(dot + 1, inID.GetLength() - dot, outRest);
    return true;
}

bool IsPrefix(const VString& inPrefix, const char* inText)
{
    return inPrefix.CompareToStringRawCase(VString(inText)) == CR_EQUAL;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

VRefPtr<VJSONObject> VJSONClass::CreateInstanceFromClassObject(VJSONObject* inClassObject,
                                                               VDBLanguageContext* inLanguageContext,
                                                               std::vector<VJSONValue>* inArguments)
{
    VJSONClass* theClass = CastClassObject(inClassObject);
    if (theClass == nullptr)
        return nullptr;
    // The arguments reach the constructor: it reads them as its parameters.
    VJSONFunctionContext context(inClassObject, nullptr, inArguments, nullptr, inLanguageContext);
    VRefPtr<VJSONObject> instance;
    instance.Adopt(theClass->_NewConstructedInstance(inClassObject, &context));
    return instance;
}

VJSONObject* VJSONClass::_NewConstructedInstance(VJSONObject* inClassObject, IJSONFunctionContext* ioContext)
{
    VJSONObject* instance = CreateInstance(inClassObject, ioContext);
    if (instance != nullptr)
        ConstructInstance(instance, ioContext);
    return instance;
}

void VJSONClass::ConstructInstance(VJSONObject* ioInstance, IJSONFunctionContext* ioContext)
{
    std::vector<VJSONClass*> chain = ChainOf(this);
    uint32_t level = 0;
    for (auto it = chain.rbegin(); it != chain.rend() && !HasConstructor((*it)->fConstructor.Get()); ++it)
        ++level;
    ioInstance->fConstructionLevel = level;
    ioInstance->fUnderConstruction = true;
    _InitProperties(ioInstance, ioContext);
    for (VJSONClass* current : chain)
    {
        if (HasConstructor(current->fConstructor.Get()))
        {
            current->CallConstructor(ioInstance, ioContext);
            break;
        }
    }
    ioInstance->fConstructionLevel = static_cast<uint32_t>(fDepth);
    ioInstance->fUnderConstruction = false;
}

EJSONStatus VJSONClass::_InitProperties(VJSONObject* ioInstance, IJSONFunctionContext* ioContext)
{
    if ((fFlags & kShared) == 0)
        return _CallProperties(ioInstance, ioContext);
    VJSONUser user(ioInstance);
    return _CallProperties(ioInstance, ioContext);
}

EJSONStatus VJSONClass::_CallProperties(VJSONObject* ioInstance, IJSONFunctionContext* ioContext)
{
    for (const auto& [name, initialiser] : fInits)
    {
        VString property(reinterpret_cast<const UniChar*>(name.data()), static_cast<int32_t>(name.size()));
        IJSONObject* implementation = initialiser->GetImplementation();
        if (implementation == nullptr)
        {
            ioInstance->SetProperty(property, initialiser->GetOwnProperty(VString("constant")));
            continue;
        }
        VJSONFunctionContext context(nullptr, nullptr, nullptr, ioContext->GetBaseContext(),
                                     ioContext->GetLanguageContext());
        // The initialiser sees the instance in place of its function object.
        EJSONStatus status = implementation->IJSON_CallAsFunction(ioInstance, &context);
        if (status != eJSONStatusDone)
            return status;
        VJSONValue value;
        context.GetResult(value);
        ioInstance->MakeValueSharedIfNecessary(value);
        ioInstance->SetProperty(property, value);
    }
    return eJSONStatusDone;
}

EJSONStatus VJSONClass::CallConstructor(VJSONObject* ioInstance, IJSONFunctionContext* ioContext)
{
    VJSONObject* constructor = fConstructor.Get();
    if (!HasConstructor(constructor))
        return eJSONStatusNotHandled;
    VJSONFunctionContext context(ioInstance, nullptr, ioContext);
    context.SetResultIsExpected(false);
    EJSONStatus status = constructor->GetImplementation()->IJSON_CallAsFunction(constructor, &context);
    if (status != eJSONStatusDone)
        return status;
    // The superclass constructors must have run: a constructor between this class and the level
    // the instance reached was skipped.
    for (VJSONClass* current = this; current->fDepth > static_cast<int32_t>(ioInstance->fConstructionLevel);)
    {
        current = current->fSuperclass;
        if (current == nullptr)
            break;
        if (HasConstructor(current->fConstructor.Get()))
        {
            _ThrowError(VE_JSON_SUPER_CONSTRUCTOR_SKIPPED);
            return eJSONStatusFailed;
        }
    }
    return status;
}

EJSONStatus VJSONClass::CallSuperConstructor(IJSONFunctionContext* ioContext)
{
    VJSONObject* instance = ioContext->GetThisObject();
    VJSONClass* scope = ioContext->GetScopeClass();
    if (instance != nullptr && scope != nullptr && scope->fDepth > 0)
    {
        int32_t level = static_cast<int32_t>(instance->fConstructionLevel);
        if (scope->fDepth > level)
        {
            for (VJSONClass* current = scope; current->fDepth > level && current->fSuperclass != nullptr;)
            {
                current = current->fSuperclass;
                current->_InitProperties(instance, ioContext);
                EJSONStatus status = current->CallConstructor(instance, ioContext);
                if (status != eJSONStatusNotHandled)
                {
                    instance->fConstructionLevel = static_cast<uint32_t>(scope->fDepth);
                    return status;
                }
            }
            instance->fConstructionLevel = static_cast<uint32_t>(scope->fDepth);
            return eJSONStatusNotHandled;
        }
        VJSONClass* instanceClass = instance->GetClass();
        if ((instanceClass != nullptr && level != instanceClass->fDepth) || instance->fUnderConstruction)
        {
            scope->fSuperclass->_InitProperties(instance, ioContext);
            return eJSONStatusDone;
        }
    }
    _ThrowError(VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE_CONSTRUCTOR);
    return eJSONStatusFailed;
}

VError VJSONClass::FinalizeInstance(VJSONObject* ioInstance)
{
    VError result = VE_OK;
    VJSONClass* theClass = ioInstance->GetClass();
    for (VJSONClass* current = theClass; current != nullptr; current = current->fSuperclass)
    {
        if (HasConstructor(current->fConstructor.Get()))
        {
            result = _ThrowError(VE_JSON_INSTANCE_NEEDS_CONSTRUCTOR, &current->fName);
            break;
        }
    }
    FinalizeInstanceAllowingConstructor(ioInstance);
    return result;
}

VError VJSONClass::FinalizeInstanceAllowingConstructor(VJSONObject* ioInstance)
{
    if (VJSONClass* theClass = ioInstance->GetClass())
        ioInstance->fConstructionLevel = static_cast<uint32_t>(theClass->fDepth);
    return VE_OK;
}

EJSONStatus VJSONClass::do_errorOverridingFinalFunction(const VJSONObject* inFunctionObject,
                                                        IJSONFunctionContext* /*ioContext*/)
{
    VString description;
    if (inFunctionObject != nullptr && inFunctionObject->GetImplementation() != nullptr)
        inFunctionObject->GetProperty(VString("_description")).GetString(description);
    _ThrowError(VE_JSON_OVERRIDING_FINAL_FUNCTION, &description);
    return eJSONStatusFailed;
}

// ---------------------------------------------------------------------------------------------
// Singletons

VRefPtr<VJSONObject> VJSONClass::GetSingleton(VDBLanguageContext* inLanguageContext,
                                              IJSONFunctionContext* ioContext)
{
    if ((fFlags & kSingleton) == 0)
        return nullptr;
    if ((fFlags & (kShared | kSessionSingleton)) == kShared)
        return GetInternalSingleton(inLanguageContext, ioContext);
    IProcessServices* process = IProcessServices::Get();
    IJSONSingletonProvider* provider = process != nullptr ? process->GetSingletonProvider() : nullptr;
    return provider != nullptr ? provider->GetSingleton(this, inLanguageContext, ioContext) : nullptr;
}

VRefPtr<VJSONObject> VJSONClass::GetInternalSingleton(VDBLanguageContext* inLanguageContext,
                                                      IJSONFunctionContext* ioContext)
{
    // Read and retained under the lock, so a task releasing the slot never pulls the instance
    // from under this one.
    StLocker<VCriticalSection> lock(&fLock);
    if (!fSingleton)
    {
        VRefPtr<VJSONObject> created;
        if (ioContext != nullptr)
        {
            created.Adopt(_NewConstructedInstance(fClassObject, ioContext));
        }
        else
        {
            VJSONFunctionContext context(fClassObject, nullptr, nullptr, nullptr, inLanguageContext);
            created.Adopt(_NewConstructedInstance(fClassObject, &context));
        }
        fSingleton = created;
    }
    return fSingleton;
}

VRefPtr<VJSONObject> VJSONClass::_TakeSingleton()
{
    StLocker<VCriticalSection> lock(&fLock);
    VRefPtr<VJSONObject> taken = fSingleton;
    fSingleton.Clear();
    return taken;
}

void VJSONClass::ReleaseSingleton()
{
    // The instance goes outside the lock: its release may run code that asks for the class.
    VRefPtr<VJSONObject> taken = _TakeSingleton();
}

// ---------------------------------------------------------------------------------------------
// Class identifiers

VRefPtr<VJSONObject> VJSONClass::GetClassObjectFromID(VJSONClassStore* inStore, const VString& inID)
{
    if (inStore == nullptr || inID.IsNull() || inID.IsEmpty())
        return nullptr;
    VString prefix;
    VString rest;
    if (!SplitID(inID, prefix, rest))
        return inStore->GetClassObject(inID);
    if (IsPrefix(prefix, "Zq"))
    {
        VJSONClassStore* process = VJSONClassStore::GetProcessStore();
        return process != nullptr ? process->GetClassObject(rest) : nullptr;
    }
    if (IsPrefix(prefix, "cs"))
    {
        VString component;
        VString name;
        if (!SplitID(rest, component, name))
            return inStore->GetClassObject(rest);
        VRefPtr<VJSONClassStore> store = inStore->GetComponentClassStore(component);
        return store ? store->GetClassObject(name) : nullptr;
    }
    VRefPtr<VJSONClassStore> store = inStore->GetComponentClassStore(prefix);
    return store ? store->GetClassObject(rest) : nullptr;
}

bool VJSONClass::MatchClassID(VJSONClassStore* inStore, const VString& inID) const
{
    if (inID.IsNull() || inID.IsEmpty())
        return true;
    VString prefix;
    VString rest;
    if (!SplitID(inID, prefix, rest))
        return inStore != nullptr && _MatchClassID(inStore->GetName(), inID);
    if (IsPrefix(prefix, "Zq"))
        return _MatchClassID(VString("zq"), rest);
    if (inStore == nullptr)
        return false;
    if (IsPrefix(prefix, "cs"))
    {
        VString component;
        VString name;
        if (!SplitID(rest, component, name))
            return _MatchClassID(inStore->GetName(), rest);
        VRefPtr<VJSONClassStore> store = inStore->GetComponentClassStore(component);
        return store && _MatchClassID(store->GetName(), name);
    }
    VRefPtr<VJSONClassStore> store = inStore->GetComponentClassStore(prefix);
    return store && _MatchClassID(store->GetName(), rest);
}

bool VJSONClass::_MatchClassID(const VString& inStoreName, const VString& inClassName) const
{
    for (const VJSONClass* current = this; current != nullptr; current = current->fSuperclass)
    {
        if (current->fStoreName.EqualToStringRaw(inStoreName) && current->fName.EqualToStringRaw(inClassName))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Obsolete classes

bool VJSONClass::IsObsolete() const
{
    for (const VJSONClass* current = this; current != nullptr; current = current->fSuperclass)
    {
        if (current->fObsolete.load(std::memory_order_relaxed))
            return true;
        if (current->fFile == nullptr)
            continue;
        const detail::VClassFileAccess* files = detail::KernelHooks().fClassFileAccess.load();
        // A file that cannot be read is no error of the caller's.
        StErrorContextInstaller quiet(false, false);
        VTime modified;
        if (files->fGetModificationTime(current->fFile, modified) != VE_OK)
        {
            if (!files->fExists(current->fFile))
                return true;
        }
        else if (current->fModificationTime < modified)
        {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Instances for callers: functions, and one instance per class

bool IsObjectAFormula(const VJSONObject* inObject)
{
    const VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    if (inObject == nullptr || store == nullptr)
        return false;
    const VJSONClass* function = VJSONClass::CastClassObject(store->GetRootFunctionClass());
    return function != nullptr && inObject->IsInstanceOf(function);
}

bool IsObjectAFormula(const VJSONValue& inValue)
{
    return IsObjectAFormula(inValue.GetObject());
}

VRefPtr<VJSONObject> GetSingletonFromMap(std::map<const VJSONClass*, VRefPtr<VJSONObject>>& ioMap,
                                         const VJSONClass* inClass, VDBLanguageContext* inLanguageContext,
                                         IJSONFunctionContext* ioContext)
{
    if (inClass == nullptr)
        return nullptr;
    if (auto found = ioMap.find(inClass); found != ioMap.end())
        return found->second;
    // Instantiating changes the class's counts only; the class itself is the caller's constant.
    auto* theClass = const_cast<VJSONClass*>(inClass);
    VJSONObject* classObject = theClass->GetClassObject();
    VRefPtr<VJSONObject> instance;
    if (ioContext != nullptr)
    {
        instance.Adopt(theClass->CreateInstance(classObject, ioContext));
    }
    else
    {
        VJSONFunctionContext context(classObject, nullptr, nullptr, nullptr, inLanguageContext);
        instance.Adopt(theClass->CreateInstance(classObject, &context));
    }
    if (instance != nullptr)
        ioMap[inClass] = instance;
    return instance;
}

} // namespace zorn
