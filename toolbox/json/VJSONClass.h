// Script classes: VJSONClass, the native implementation of a class object; VJSONMemberFunction,
// the implementation of a native member function's object; VJSONClassStore, a named set of
// classes. The process owns the store "zq" with the root classes "Object", "Class" and "Function".
//
// A class has one superclass, a shared prototype object holding its member functions, getters,
// setters and initialisers (property names "get x", "set x" and "init x" on the prototype), an
// optional constructor, an instantiator that makes raw instances, and flags. It is finalized by
// its first SetFunctions, which a second call leaves alone; only a finalized class instantiates
// ("new" on a class that is not yet finalized gives null, and on one without instantiator 'ZqRT'
// -10749). A getter without setter makes writes fail with -10702 (a shared read-only-error
// setter); a setter without getter reads undefined. A member that overrides an inherited function
// marked "final" is replaced by a function that raises -10750 with its description
// (Sub.name) when called: the class still builds, and the final function is never reached
// through it.
//
// Construction ("new", ConstructInstance): the instance's construction level counts the classes
// from the root that need no constructor; the initialisers of the class run, then the most derived
// constructor. A constructor calls CallSuperConstructor (from a context whose scope function is
// the constructor, as a script host sets it), which runs the skipped superclasses' initialisers
// and constructors; a constructor that returns without it gives -10748. Afterwards the level is the
// class's depth and the instance is no longer under construction.
//
// Singletons: a shared singleton class (shared and singleton, not session) keeps its one instance
// in a slot guarded by the class lock, read and retained under that lock; ReleaseSingleton empties
// the slot under the lock and releases the instance outside it. Plain and session singletons
// belong to the process's singleton provider (IProcessServices::GetSingletonProvider); without one
// they are null.
//
// Definition files: a class may be made from a file (IFile, of the files layer above). The class
// holds it through the kernel's class-file entry (detail::VClassFileAccess); without that entry or
// without a file the class records its creation time, has no "__file" and is obsolete only when
// flagged so.
//
// Lifetime: the class object holds the only reference to its class; each store listing a class
// holds its class object, and so does the class itself while it has instances (UseClassObject
// counts them with one relaxed atomic and retains the class object only on 0 -> 1), so a class
// object lives as long as any instance. The root class objects reference each other through their
// class ("Object" and "Class" have the class "Class"); the store breaks that cycle when it goes.
#pragma once

#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zorn
{

class IFile;
class VJSONClass;
class VJSONClassStore;

// The process's provider of plain and session singletons (held by a script host's process object,
// IProcessServices::GetSingletonProvider).
class IJSONSingletonProvider
{
public:
    virtual ~IJSONSingletonProvider() = default;
    // The singleton of inClass for the language context; null for none.
    virtual VRefPtr<VJSONObject> GetSingleton(VJSONClass* inClass, VDBLanguageContext* inLanguageContext,
                                              IJSONFunctionContext* ioContext) = 0;
};

constexpr VError VE_JSON_READ_ONLY_PROPERTY = MakeVError(kCOMPONENT_SCRIPT, -10702);
constexpr VError VE_JSON_CLASS_STORE_READ_ONLY = MakeVError(kCOMPONENT_SCRIPT, -10705);
constexpr VError VE_JSON_SUPER_MEMBER_NOT_NATIVE = MakeVError(kCOMPONENT_SCRIPT, -10707);
constexpr VError VE_JSON_NOT_A_NATIVE_FUNCTION = MakeVError(kCOMPONENT_SCRIPT, -10729);
constexpr VError VE_JSON_SUPER_OUTSIDE_CLASS_FUNCTION = MakeVError(kCOMPONENT_SCRIPT, -10736);
constexpr VError VE_JSON_NOT_A_CLASS_INSTANCE_OF = MakeVError(kCOMPONENT_SCRIPT, -10745);
constexpr VError VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE_CONSTRUCTOR = MakeVError(kCOMPONENT_SCRIPT, -10746);
constexpr VError VE_JSON_SUPERCLASS_NOT_A_CLASS = MakeVError(kCOMPONENT_SCRIPT, -10747);
constexpr VError VE_JSON_SUPER_CONSTRUCTOR_SKIPPED = MakeVError(kCOMPONENT_SCRIPT, -10748);
constexpr VError VE_JSON_NO_INSTANTIATOR = MakeVError(kCOMPONENT_SCRIPT, -10749);
constexpr VError VE_JSON_OVERRIDING_FINAL_FUNCTION = MakeVError(kCOMPONENT_SCRIPT, -10750);
constexpr VError VE_JSON_INSTANCE_NEEDS_CONSTRUCTOR = MakeVError(kCOMPONENT_SCRIPT, -10751);
constexpr VError VE_JSON_SHARED_INSTANTIATION_REFUSED = MakeVError(kCOMPONENT_SCRIPT, -10759);

class VJSONClass : public VObject, public IJSONObject
{
public:
    using NativeFunction = EJSONStatus (*)(const VJSONObject* inFunctionObject,
                                           IJSONFunctionContext* ioContext);
    using Instantiator = VJSONObject* (*)(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);

    struct FunctionDescriptor
    {
        VString fName;
        NativeFunction fFunction = nullptr;
        uint32_t fFlags = 0; // kFunctionFinal, kFunctionHidden
    };
    using NamedFunctions = std::vector<std::pair<VString, VRefPtr<VJSONObject>>>;
    // Name -> function object (not retained: the prototype and the getter and setter objects hold
    // them).
    using FunctionMap = std::unordered_map<std::u16string, VJSONObject*>;

    static constexpr uint32_t kFunctionFinal = 0x1;
    static constexpr uint32_t kFunctionHidden = 0x2;
    static constexpr uint32_t kHiddenFunctions = 0x2;
    static constexpr uint32_t kShared = 0x20;
    static constexpr uint32_t kSingleton = 0x40;
    static constexpr uint32_t kSessionSingleton = 0x80;

    // A new class object; a null superclass means the process store's "Object". A superclass
    // object that is not a class raises -10747 and gives null. The caller owns the reference.
    static VJSONObject* Create(const VString& inName, VJSONObject* inSuperclassObject, IFile* inFile,
                               const VString& inStoreName, uint32_t inFlags);
    static VJSONObject* Create(const VString& inName, const std::vector<FunctionDescriptor>& inFunctions,
                               VJSONObject* inSuperclassObject, NativeFunction inConstructor,
                               Instantiator inInstantiator, const VString& inStoreName, uint32_t inFlags);
    // The class object of a native class the program defines ("Blob", "Vector"), made once by its
    // owner: a class of the process store, registered visible, when the store exists; else a class
    // of its own (store "zq", no superclass). Retained for the process's life; null on failure.
    static VJSONObject* CreateNativeClass(const VString& inName,
                                          const std::vector<FunctionDescriptor>& inFunctions,
                                          Instantiator inInstantiator);
    // The class of a class object; null when the object is not one.
    static VJSONClass* CastClassObject(const VJSONObject* inObject);

    // Both do nothing once the class is finalized.
    void SetFunctions(const std::vector<FunctionDescriptor>& inFunctions, NativeFunction inConstructor,
                      Instantiator inInstantiator);
    void SetFunctions(const NamedFunctions& inFunctions, VJSONObject* inConstructorObject,
                      Instantiator inInstantiator);

    // A new instance (the caller's reference): null when not finalized; -10749 without instantiator.
    VJSONObject* CreateInstance(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    static VJSONObject* GenericInstantiator(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    static VJSONObject* SharedObjectInstantiator(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    static VJSONObject* ErrorSharedObjectInstantiator(VJSONObject* inClassObject,
                                                      IJSONFunctionContext* ioContext);

    // A retained instance of a class object (null when it is not one), constructed with the
    // arguments as the constructor's parameters.
    static VRefPtr<VJSONObject> CreateInstanceFromClassObject(VJSONObject* inClassObject,
                                                              VDBLanguageContext* inLanguageContext,
                                                              std::vector<VJSONValue>* inArguments);
    // Runs the initialisers and the constructors on a new instance (see the header comment).
    void ConstructInstance(VJSONObject* ioInstance, IJSONFunctionContext* ioContext);
    // Not handled (1) without constructor; else the constructor's status, or -10748 (failed) when
    // it skipped a superclass constructor.
    EJSONStatus CallConstructor(VJSONObject* ioInstance, IJSONFunctionContext* ioContext);
    // Called by a constructor: runs the superclass constructors not yet run; -10746 outside one.
    static EJSONStatus CallSuperConstructor(IJSONFunctionContext* ioContext);
    // Marks an instance built without constructors: -10751 (naming the class) when one of its
    // classes has a constructor; the level is set in both cases.
    static VError FinalizeInstance(VJSONObject* ioInstance);
    static VError FinalizeInstanceAllowingConstructor(VJSONObject* ioInstance);

    // Singletons: null for a class that is not one (see the header comment). Retained.
    VRefPtr<VJSONObject> GetSingleton(VDBLanguageContext* inLanguageContext, IJSONFunctionContext* ioContext);
    VRefPtr<VJSONObject> GetInternalSingleton(VDBLanguageContext* inLanguageContext,
                                              IJSONFunctionContext* ioContext);
    void ReleaseSingleton();

    // Class identifiers: "Name" (in inStore), "cs.Name" (inStore), "cs.Component.Name",
    // "Component.Name" (a component store of inStore), "Zq.Name" (the process store); the
    // prefixes "Zq" and "cs" in any case. Retained, or null.
    static VRefPtr<VJSONObject> GetClassObjectFromID(VJSONClassStore* inStore, const VString& inID);
    // Whether this class or a superclass is the one the id names; an empty id matches.
    bool MatchClassID(VJSONClassStore* inStore, const VString& inID) const;
    bool _MatchClassID(const VString& inStoreName, const VString& inClassName) const;

    // The obsolete flag, else (for a class with a definition file) whether the file is gone or
    // newer than the recorded time; then the superclass's answer.
    bool IsObsolete() const;
    // Script hosts flag a class whose definition they replaced.
    void SetObsolete() { fObsolete.store(true, std::memory_order_relaxed); }
    // The definition file, not retained; null for none.
    IFile* GetFile() const { return fFile; }

    // Called for every object that takes or drops the class (inline: every new plain object pays
    // this). Only the first instance retains the class object, so an instance costs one addition.
    void UseClassObject()
    {
        if ((fCounts.fetch_add(kOneCreatedInstance, std::memory_order_relaxed) & kInstanceMask) == 0)
            fClassObject->Retain();
    }
    void UnuseClassObject()
    {
        // acq_rel: the last instance's release must see every use before it.
        if ((fCounts.fetch_sub(1, std::memory_order_acq_rel) & kInstanceMask) == 1)
            fClassObject->Release();
    }
    void GetGetterNames(std::vector<VString>& ioNames) const;
    static bool IsFunctionHidden(const VJSONObject* inFunctionObject);

    // Member lookups for instances: the function or getter (setter) object of a name, or null.
    VJSONObject* FindFunction(const VString& inName) const;
    VJSONObject* FindGetter(const VString& inName) const;
    VJSONObject* FindSetter(const VString& inName) const;

    bool HasGetters() const { return !fGetters.empty(); }
    bool HasSetters() const { return !fSetters.empty(); }

    const VString& GetName() const { return fName; }
    const VString& GetStoreName() const { return fStoreName; }
    VJSONObject* GetClassObject() const { return fClassObject; }
    VJSONClass* GetSuperclass() const { return fSuperclass; }
    VJSONObject* GetPrototype() const { return fPrototype.Get(); }
    int32_t GetDepth() const { return fDepth; }
    uint32_t GetID() const { return fID; }
    uint32_t GetFlags() const { return fFlags; }
    bool IsFinalized() const { return fFinalized; }
    uint32_t GetInstanceCount() const
    {
        return static_cast<uint32_t>(fCounts.load(std::memory_order_relaxed) & kInstanceMask);
    }
    uint32_t GetCreationCount() const
    {
        return static_cast<uint32_t>(fCounts.load(std::memory_order_relaxed) >> kCreationShift);
    }

    // Native member functions of the root classes and the shared error functions. Their do_ names
    // are the ones script hosts know them by, hence the exemption from the naming check.
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_new(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_errorReadOnlyAttribute(const VJSONObject* inFunctionObject,
                                                 IJSONFunctionContext* ioContext);
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_errorWriteOnlyAttribute(const VJSONObject* inFunctionObject,
                                                  IJSONFunctionContext* ioContext);
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_errorOverridingFinalFunction(const VJSONObject* inFunctionObject,
                                                       IJSONFunctionContext* ioContext);

    // IJSONObject
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& ioCloner, VJSONValue& outClone,
                            VError* outError) override;

    static std::atomic<uint32_t> sSequenceID;

    // The keyword texts of class definitions, as script hosts name them. The function-type prefix
    // of property initialisers ("init x" on the prototype), alone and with its blank.
    // NOLINTBEGIN(readability-identifier-naming)
    static constexpr const char16_t* sFunctionType_init = u"init";
    static constexpr const char16_t* sFunctionType_init_withSpace = u"init ";
    // Properties of function definitions.
    static constexpr const char16_t* sFunctionProperty_local = u"local";
    static constexpr const char16_t* sFunctionProperty_exposed = u"exposed";
    static constexpr const char16_t* sFunctionProperty_onHTTPGet = u"onHTTPGet";
    static constexpr const char16_t* sFunctionProperty_eventName = u"eventName";
    static constexpr const char16_t* sFunctionProperty_resultType = u"resultType";
    static constexpr const char16_t* sFunctionProperty_resultTypeCode = u"resultTypeCode";
    static constexpr const char16_t* sFunctionProperty_resultClass = u"resultClass";
    static constexpr const char16_t* sFunctionProperty_shared = u"shared";
    // Properties of class definitions, their aliases and their declared properties.
    static constexpr const char16_t* sClassProperty_singleton = u"singleton";
    static constexpr const char16_t* sClassProperty_session = u"session";
    static constexpr const char16_t* sClassProperty_aliases = u"aliases";
    static constexpr const char16_t* sAliasProperty_name = u"name";
    static constexpr const char16_t* sAliasProperty_path = u"path";
    static constexpr const char16_t* sClassProperty_properties = u"properties";
    static constexpr const char16_t* sClassProperty_property_value = u"value";
    static constexpr const char16_t* sClassProperty_property_type = u"type";
    static constexpr const char16_t* sClassProperty_property_content = u"content";
    // NOLINTEND(readability-identifier-naming)

protected:
    // The initialisers of this class on an instance (shared classes: inside the instance's user);
    // _CallProperties runs them, stopping at the first that does not succeed.
    virtual EJSONStatus _InitProperties(VJSONObject* ioInstance, IJSONFunctionContext* ioContext);
    virtual EJSONStatus _CallProperties(VJSONObject* ioInstance, IJSONFunctionContext* ioContext);

private:
    friend class VJSONClassStore;

    // The instance of "new": instantiated and constructed; null when not finalized.
    VJSONObject* _NewConstructedInstance(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    // Empties the singleton slot under the class lock; the caller releases the instance.
    VRefPtr<VJSONObject> _TakeSingleton();

    VJSONClass(const VString& inName, VJSONClass* inSuperclass, VJSONObject* inSuperclassObject,
               IFile* inFile, const VString& inStoreName, uint32_t inFlags);
    ~VJSONClass() override;
    // Drops the member functions (the store breaks the root classes' cycles with it).
    void _ReleaseMembers();
    // The class object is made after the class; the class keeps a pointer to it.
    void _SetClassObject(VJSONObject* inObject) { fClassObject = inObject; }
    // Records inFunction under the property name in the getter (setter) object and map.
    static void _Record(VRefPtr<VJSONObject>& ioHolder, FunctionMap& ioMap, const VString& inName,
                        VJSONObject* inFunction);
    static VJSONObject* _Lookup(const FunctionMap& inMap, const VString& inName);
    // The store's "Object" class object; the class objects of "Class" and "Function" made with
    // no process store yet use the store given here.
    static VJSONObject* _NewClassObject(VJSONClass* inClass, VJSONClass* inClassOfClassObject);

    VString fName;
    VString fStoreName;
    VJSONObject* fClassObject = nullptr; // not retained
    VJSONClass* fSuperclass = nullptr;   // not retained
    VRefPtr<VJSONObject> fSuperclassObject;
    VRefPtr<VJSONObject> fPrototype;
    VRefPtr<VJSONObject> fGetterObject;
    VRefPtr<VJSONObject> fSetterObject;
    VRefPtr<VJSONObject> fConstructor;
    VRefPtr<VJSONObject> fSingleton; // guarded by fLock
    VCriticalSection fLock;
    Instantiator fInstantiator = nullptr;
    FunctionMap fFunctions;
    FunctionMap fGetters;
    FunctionMap fSetters;
    VRefPtr<VJSONObject> fInitObject;
    FunctionMap fInits;
    VRefPtr<VJSONObject> fReadOnlyErrorSetter;
    VRefPtr<VJSONObject> fWriteOnlyErrorGetter;
    int32_t fDepth = 0;
    uint32_t fID = 0;
    IFile* fFile = nullptr; // retained through the class-file entry
    // The definition file's modification time at creation; the creation time without file.
    VTime fModificationTime;
    bool fFinalized = false;
    std::atomic<bool> fObsolete{false};
    uint32_t fFlags = 0;
    // The creation count (high 32 bits) and the instance count (low 32 bits) in one word, so that
    // taking the class costs every new object one atomic addition; the instance count never goes
    // below 0, so its decrement never borrows from the creation count.
    static constexpr int kCreationShift = 32;
    static constexpr uint64_t kInstanceMask = 0xFFFFFFFFu;
    static constexpr uint64_t kOneCreatedInstance = (uint64_t{1} << kCreationShift) | 1u;
    std::atomic<uint64_t> fCounts{0};
};

class VJSONMemberFunction : public VObject, public IJSONObject
{
public:
    // A shared function object of class "Function" (the caller's reference) named
    // class name + "." + inName; flag bit 0 sets "final", bit 1 "__hidden".
    static VJSONObject* Create(VJSONClass::NativeFunction inFunction, const VString& inName,
                               VJSONClass* inClass, uint32_t inFlags);

    // The do_ names are the ones script hosts know ("apply" and "call" of class "Function").
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_apply(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_call(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);

    // IJSONObject
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    bool IJSON_Clear(VJSONObject* inObject) override;
    bool IJSON_IsEmpty(const VJSONObject* inObject) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    EJSONStatus IJSON_CloneImpl(const VJSONObject* inObject, VJSONCloner& ioCloner,
                                VRefPtr<IJSONObject>& outImplementation, bool* outShared,
                                VError* outError) override;
    EJSONStatus IJSON_CallAsFunction(const VJSONObject* inObject, IJSONFunctionContext* ioContext) override;
    VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* inObject) override;

private:
    VJSONMemberFunction(VJSONClass::NativeFunction inFunction, const VString& inFullName,
                        VJSONClass* inClass);

    VJSONClass::NativeFunction fFunction;
    VString fFullName;
    VJSONClass* fClass; // not retained
};

class VJSONClassStore : public VObject, public IJSONObject
{
public:
    static constexpr uint32_t kNotVisible = 0x1;

    explicit VJSONClassStore(const VString& inName);
    VJSONClassStore(const VJSONClassStore&) = delete;
    VJSONClassStore& operator=(const VJSONClassStore&) = delete;

    // The process's store: installed by the process object at start-up (retained), null before.
    static VJSONClassStore* GetProcessStore() { return sProcessStore.load(std::memory_order_acquire); }
    static void SetProcessStore(VJSONClassStore* inStore);
    // The process store's root "Object" class (the class of every new plain object); null before
    // the store is installed. Cached once, read without a lock.
    static VJSONClass* GetProcessObjectClass() { return sObjectClass.load(std::memory_order_acquire); }

    void AddRootClasses();
    void AddClass(VJSONObject* inClassObject, uint32_t inFlags);
    // A new class of this store, registered visible; the store holds it (the result is not retained).
    VJSONObject* AddClass(const VString& inName,
                          const std::vector<VJSONClass::FunctionDescriptor>& inFunctions,
                          VJSONObject* inSuperclassObject, VJSONClass::NativeFunction inConstructor,
                          VJSONClass::Instantiator inInstantiator, uint32_t inFlags);
    // Class names compare unit for unit, or with A-Z folded to a-z (and nothing else folded).
    static bool EqualClassName(const VString& inName, const VString& inOther, bool inCaseInsensitive);
    // Retained for the caller, or null.
    VRefPtr<VJSONObject> GetClassObject(const VString& inName, bool inCaseInsensitive = false) const;
    VRefPtr<VJSONObject> GetVisibleClassObject(const VString& inName, bool inCaseInsensitive = false) const;
    // Copies, taken under the store lock.
    std::vector<std::pair<VString, VRefPtr<VJSONObject>>> GetClasses() const;
    std::vector<std::pair<VString, VRefPtr<VJSONObject>>> GetVisibleClasses() const;
    size_t GetCount() const;

    // Component stores, retained by this one under their names.
    void AddComponentClassStore(const VString& inName, VJSONClassStore* inStore);
    VRefPtr<VJSONClassStore> GetComponentClassStore(const VString& inName) const;
    std::vector<std::pair<VString, VRefPtr<VJSONClassStore>>> GetComponentClassStores() const;
    void RemoveComponentClassStores();

    // "Component.Name" names a class of a component store, "Name" one of this store. Retained.
    VRefPtr<VJSONObject> GetClassObjectFromIdentifier(const VString& inID) const;
    VRefPtr<VJSONObject> GetSingletonObjectFromIdentifier(const VString& inID,
                                                          VDBLanguageContext* inLanguageContext) const;
    // Appends inPrefix + name for each visible shared singleton class, then "component.name" for
    // those of the component stores.
    void GetPublicSharedSingletonIdentifiers(std::vector<VString>& ioIDs, const VString& inPrefix) const;

    // Current definition files by class name (not retained).
    using FileMap = std::unordered_map<std::u16string, IFile*>;
    // Removes the classes whose file left inFiles or is obsolete, and the classes without file that
    // inFiles names or that are obsolete; appends the names of the removed classes that had a file.
    // The root classes are never removed.
    void RemoveObsoleteClasses(const FileMap& inFiles, std::vector<VString>& ioRemoved);
    // Releases the singleton of every class (also when the store goes).
    void ReleaseSingletons();

    const VString& GetName() const { return fName; }
    VJSONObject* GetRootObjectClass() const { return fRootObject; }
    VJSONObject* GetRootClassClass() const { return fRootClass; }
    VJSONObject* GetRootFunctionClass() const { return fRootFunction; }

    // IJSONObject
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    bool IJSON_Clear(VJSONObject* inObject) override;
    bool IJSON_IsEmpty(const VJSONObject* inObject) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;

protected:
    ~VJSONClassStore() override;

private:
    using ClassMap = std::unordered_map<std::u16string, VJSONObject*>; // retained
    static VRefPtr<VJSONObject> _Find(const ClassMap& inMap, const VString& inName, bool inCaseInsensitive);
    static std::vector<std::pair<VString, VRefPtr<VJSONObject>>> _Copy(const ClassMap& inMap);
    void _AddClass(VJSONObject* inClassObject, uint32_t inFlags);

    mutable VCriticalSection fLock;
    VString fName;
    ClassMap fClasses;
    ClassMap fVisibleClasses;
    std::unordered_map<std::u16string, VJSONClassStore*> fComponentStores; // retained
    VJSONObject* fRootObject = nullptr;
    VJSONObject* fRootClass = nullptr;
    VJSONObject* fRootFunction = nullptr;

    static std::atomic<VJSONClassStore*> sProcessStore;
    static std::atomic<VJSONClass*> sObjectClass;
};

// Whether the object (the value's object) is an instance of the process store's root class
// "Function"; false for null, for a value that is no object and without a process store.
bool IsObjectAFormula(const VJSONObject* inObject);
bool IsObjectAFormula(const VJSONValue& inValue);

// One instance per class, kept in the caller's map: the instance stored for inClass (retained), else
// a new instance (VJSONClass::CreateInstance with the class object and ioContext, or without one a
// function context over inLanguageContext), stored and returned. Null for a null class and when no
// instance can be made (the class is not finalized, or has no instantiator: -10749); nothing is
// stored then.
VRefPtr<VJSONObject> GetSingletonFromMap(std::map<const VJSONClass*, VRefPtr<VJSONObject>>& ioMap,
                                         const VJSONClass* inClass, VDBLanguageContext* inLanguageContext,
                                         IJSONFunctionContext* ioContext);

} // namespace zorn
