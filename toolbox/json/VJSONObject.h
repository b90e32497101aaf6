// VJSONObject: the reference-counted JSON object. Own properties live in one vector of (name,
// value) entries in insertion order, so storage order is the order of ordered walks and a replaced
// value keeps its place. Names are compact keys (VJSONKey) with a cached hash. Up to
// kLinearLimit properties a lookup scans the vector (comparing cached hashes first); above that the
// object adds an open-addressing index of entry positions, rebuilt when it fills to half or when a
// property is removed. A removal shifts the later entries: O(n), as designed. A stored value is a
// copy (with its own stamp) and is never undefined: storing undefined removes the property.
//
// Storage: the entries live in a VJSONInlineVector. An object made for a known number of
// properties (NewWithRoom: readers, clones) holds them in its own block, carved from the
// document's slabs when a builder or cloner makes it (VJSONSlab); it moves them to the heap only
// when it grows past that room. Every object is a container block, freed by VJSONSlab.
//
// The builder path (VJSONBuilder, the text and compact readers) appends by move: AppendOwn takes
// the key and value as they are (one lookup; a repeated name replaces the earlier value) and
// AssignOwn fills a fresh object from a span with one exact-size allocation. The values keep the
// stamps the builder gave them. GetOwnProperties reads the entries by reference, for the writers
// and walkers that must not pay a copy (a stamp, a retain and a release) per value.
//
// A native implementation (IJSONObject) is asked first for property access, cloning, comparison
// and names. An object shared between tasks carries a storage locker (VStorageLocker), set by
// SetStorageLocker, by a store into a shared container or by a clone with the cloner's locker; it
// then answers "__LockerID" with the locker's id and is a "Shared Object" when nothing else names
// its class. A shared object may be changed only by the task that holds its locker ('ZqRT' -10719;
// "__LockerID" is refused without an error), a container stored into it is first brought under
// the locker (VStorageLocker::Assign: -10721, -10724, -10725, -10753, the object unchanged), and a
// class-internal locker takes no scalar but null (-10727). Its reads and changes take
// StGraphLocker::sMutex and then its locker's critical section (StJSONChangeLock); a plain object
// takes no lock. Script classes: see VJSONClass; an object's class answers the names it lacks (member
// functions, getters) and takes writes through its setters.
//
// Object graph: a container stored by a setter is linked into the object graph (VJSONGraph), which
// frees reference cycles; the builder path links nothing until a setter links the tree. Retain
// and Release keep the graph's reference total (see VJSONGraph for the locks they take).
//
// Dropping the last reference to an object whose properties hold the last references to further
// containers never recurses: the children go to the task's pending release list (VJSONRelease),
// which the outermost container being destroyed drains, so a tree of any depth can be dropped.
//
// Paths: dotted names with bracketed indexes, "a.b[2][0].c". Pieces between dots lose leading
// and trailing blanks (U+0020); an empty name or index fails with 'zorn' 902, an index without
// its "]" with 'zorn' 901. Index texts are read by VString::GetLong, so they are not checked for
// digits; "length" on an array gives its count. Setting by path creates missing objects, and
// arrays where the next part is digits; an array grows by path only up to kMaxPathIndex
// (a larger index is refused with 'zorn' 3), so a stray index cannot exhaust memory. Setting by
// path fails (false) when a part meets a value that is neither object nor array ('zorn' 903 for an
// index, 904 for a name).
#pragma once

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONInlineVector.h"
#include "toolbox/json/VJSONKey.h"
#include "toolbox/json/VJSONSlab.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <atomic>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace zorn
{

class VJSONCloner;
class VJSONGraph;
class VStorageLocker;
class VCompareOptions;

class VJSONObject : public VObject, public IRefCountable
{
public:
    // An own property: its name and its stored value.
    struct OwnProperty
    {
        VJSONKey fKey;
        VJSONValue fValue;
    };
    using NamedValues = std::vector<std::pair<VString, VJSONValue>>;

    // Up to this many own properties a lookup scans them; above it the object keeps an index.
    static constexpr size_t kLinearLimit = 16;

    // The largest index at which setting by path may grow an array.
    static constexpr int64_t kMaxPathIndex = 999999;

    // Retains the implementation (may be null). One reference, the creator's.
    explicit VJSONObject(IJSONObject* inImplementation = nullptr);
    // Also retains the storage locker (may be null): a locker makes the object shared. With
    // inUnmonitored the object is left out of the task counter below.
    VJSONObject(IJSONObject* inImplementation, VStorageLocker* inLocker, bool inUnmonitored = false);
    // With inShared, a shared object with a new storage locker of its own (unbound: it may still
    // join another shared graph).
    VJSONObject(IJSONObject* inImplementation, bool inShared);
    // The same, of a class: the class object's class (retained while the object lives, through
    // VJSONClass::UseClassObject). A null class object, and the constructors above, take the
    // process store's root "Object" class (no class before the store exists).
    VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, VStorageLocker* inLocker,
                bool inUnmonitored);
    VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, bool inShared);
    // A new empty plain object (of the root class, as the default constructor makes it) with room
    // for inCount properties in its own block, carved from the slabs of ioSlabs when given (see
    // VJSONSlab); null when memory runs out or inCount is past 2^32 - 1.
    static VJSONObject* NewWithRoom(size_t inCount, VJSONSlabCursor* ioSlabs = nullptr);
    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

    // Every object is a container block (VJSONSlab): on the heap, or in a slab for NewWithRoom.
    static void* operator new(size_t inSize) { return VJSONSlabCursor::AllocateOnHeap(inSize); }
    static void operator delete(void* inMemory) noexcept { VJSONSlabCursor::Free(inMemory); }

    // Debugging aid: while a task id is set, objects built and destroyed on that task are counted.
    static std::atomic<uint32_t> sTaskToMonitor;
    static std::atomic<uint32_t> sTaskCounter;

    IJSONObject* GetImplementation() const { return fImplementation; }

    // Properties. inContext is passed through to the implementation and may be null.
    // The implementation's answer, else the own property; undefined when absent.
    VJSONValue GetProperty(const VString& inName, VDBLanguageContext* inContext = nullptr) const;
    VJSONValue GetOwnProperty(const VString& inName) const;
    bool HasProperty(const VString& inName, VDBLanguageContext* inContext = nullptr) const;
    bool HasOwnProperty(const VString& inName) const;
    // Undefined removes the property (true). Otherwise the implementation, then the own properties.
    bool SetProperty(const VString& inName, const VJSONValue& inValue,
                     VDBLanguageContext* inContext = nullptr);
    // The same, storing the value by move (no retain and release of its payload); the stored value
    // takes a new stamp, as a stored copy does.
    bool SetProperty(const VString& inName, VJSONValue&& inValue, VDBLanguageContext* inContext = nullptr);
    bool SetOwnProperty(const VString& inName, const VJSONValue& inValue);
    // Sets the pairs in order until one fails, between the implementation's begin and end hooks.
    bool SetProperties(const NamedValues& inValues, VDBLanguageContext* inContext = nullptr);
    void RemoveProperty(const VString& inName);
    void RemoveOwnProperty(const VString& inName);
    // Sets an existing property to its cleared value (true to false, a string to "", a number or
    // date to 0, a container to null); an absent one changes nothing (true).
    bool ClearProperty(const VString& inName, VDBLanguageContext* inContext = nullptr);
    void Clear();
    void ClearInternalProperties();
    bool IsEmpty() const;
    // Copies of the own properties, in insertion order.
    NamedValues GetInternalProperties() const;
    // The own properties in insertion order, by reference: valid until the object next changes.
    std::span<const OwnProperty> GetOwnProperties() const { return fProperties; }
    size_t GetOwnCount() const { return fProperties.size(); }
    // The stored value of an own property, by reference (valid until the object next changes), or
    // null when there is none.
    const VJSONValue* FindOwnProperty(const VString& inName) const;

    // The builder path (see the header comment). The value is stored as it is (undefined too is
    // the caller's concern: builders never make it), keeping its stamp; a name already present
    // has its value replaced in place. The tree's stamp, when the object has one, is spread and
    // counted as for SetOwnProperty.
    void AppendOwn(VJSONKey&& inKey, VJSONValue&& inValue);
    // Replaces the own properties by the span's, moved out of it, with one allocation for them
    // all; a repeated name keeps its first place and its last value.
    void AssignOwn(std::span<OwnProperty> inProperties);
    // The implementation's indexed properties; without an implementation undefined and 0, with
    // status "not handled".
    VJSONValue GetPropertyByIndex(size_t inIndex, EJSONStatus* outStatus) const;
    size_t GetCountPropertiesByIndex(EJSONStatus* outStatus) const;
    // The implementation's name, else "Object".
    void GetClassName(VString& outName) const;
    // "[object Object]".
    void GetString(VString& outString) const;
    // The implementation's description, else the object's compact JSON text (quoted names and
    // strings); with inTruncate cut after about 512 characters and ended with "...". An object
    // the writer refuses (a cycle) leaves outText empty.
    void GetDescription(VString& outText, bool inTruncate, VDBLanguageContext* inContext = nullptr) const;
    // True without class or with the root class "Object".
    bool IsGenericObject() const;

    // Script classes. The class and its class object (null without class), its prototype.
    VJSONClass* GetClass() const { return fClass; }
    VJSONObject* GetClassObject() const;
    VJSONObject* _GetPrototype() const;
    // Walks the class and its superclasses. The class-object form raises 'ZqRT' -10745 (false)
    // when its argument is not a class object.
    bool IsInstanceOf(const VJSONClass* inClass) const;
    bool IsInstanceOf(const VJSONObject* inClassObject) const;
    // The implementation's call; not handled (1) without one.
    EJSONStatus CallAsFunction(IJSONFunctionContext* ioContext) const;
    uint32_t GetConstructionLevel() const { return fConstructionLevel; }
    // Set while VJSONClass::ConstructInstance runs the initialisers and constructors.
    bool IsUnderConstruction() const { return fUnderConstruction; }

    // Paths (see the header comment).
    static VError ExtractPath(const VString& inPath, std::vector<VString>& outParts);
    VJSONValue GetPropertyWithPath(const VString& inPath, VDBLanguageContext* inContext = nullptr) const;
    VJSONValue GetPropertyWithPath(const std::vector<VString>& inParts,
                                   VDBLanguageContext* inContext = nullptr) const;
    bool SetPropertyWithPath(const VString& inPath, const VJSONValue& inValue,
                             VDBLanguageContext* inContext = nullptr);
    // Sets each pair by path in order and stops at the first failure.
    bool SetPropertiesWithPaths(const NamedValues& inValues);

    // Stamps: a stored value's stamp (0 when absent), and touching it (a new stamp, and one
    // change of the tree).
    uint32_t GetPropertyStamp(const VString& inName) const;
    void TouchPropertyStamp(const VString& inName);
    uint32_t GetPropertyStampWithPath(const VString& inPath) const;
    void TouchPropertyStampWithPath(const VString& inPath);
    // The tree's change stamp (retained; null for none).
    void SetJSONStamp(VJSONStamp* inStamp);
    VJSONStamp* GetJSONStamp() const { return fStamp; }

    // Sets each own property of inOther on this object in insertion order; with inOnlyMissing,
    // names this object has are skipped. Containers end up shared by both objects.
    void MergeWith(const VJSONObject* inOther, bool inOnlyMissing);
    // A deep copy through the cloner, which keeps shared containers shared in the copy.
    VError Clone(VJSONValue& outClone, VJSONCloner& ioCloner) const;
    // Replaces the target's properties with clones of this object's, in insertion order.
    VError CloneProperties(VJSONCloner& ioCloner, VJSONObject* ioTarget) const;
    bool DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions) const;
    bool DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions,
                     VJSONVisitedPairs& ioPath) const;

    // Sharing between tasks. The storage locker with a reference for the caller, null for a plain
    // container (read under StGraphLocker::sMutex).
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    // Replaces the locker under StGraphLocker::sMutex (the new one retained, the old released).
    void SetStorageLocker(VStorageLocker* inLocker);
    // 0 without a locker; else the locker's id, negated for a class-internal or unbound locker.
    int32_t GetSharedID() const;
    // Whether the object has a locker (read without taking a lock, for a quick test).
    bool HasStorageLocker() const { return fLocker.load(std::memory_order_relaxed) != nullptr; }
    // A locker, else what the native implementation's IJSON_IsSharable answers.
    bool IsShared() const;
    // A locker, or a graph with a shared member.
    bool IsSharedGraph() const
    {
        VJSONGraph* graph = GetGraph();
        return HasStorageLocker() || (graph != nullptr && graph->IsShared());
    }
    void MakeGraphShared();
    // For a shared object and a container value: when the value's tree can take this object's
    // locker (plain containers, the same locker or an unbound one, sharable natives), every
    // container of it takes it. This object's locker is bound in any case.
    void MakeValueSharedIfNecessary(VJSONValue& ioValue);

    // Reference counting: a container in a graph keeps the graph's total, and a release that
    // leaves a garbage cycle frees it (VJSONGraph). Shared containers do both under
    // StGraphLocker::sMutex; plain ones take no lock.
    uint32_t Retain(const char* inDebugInfo = nullptr) const override;
    uint32_t Release(const char* inDebugInfo = nullptr) const override;

    // The object graph (see VJSONGraph): null until the object is linked with another container.
    VJSONGraph* GetGraph() const { return fGraph.load(std::memory_order_acquire); }
    // For native implementations that hold containers: links (unlinks) one into this object's
    // graph, so that a cycle through it is counted.
    void ConnectImplementationProperty(const VJSONValue& inValue);
    void DisconnectImplementationProperty(const VJSONValue& inValue);
    // The references of the own properties are no longer counted in the graph (they stay stored).
    void DisconnectAll();
    // Takes the properties out of the graph's counts and removes them all.
    void ClearFromGraph();

protected:
    ~VJSONObject() override;

private:
    // The iterators hold positions in fProperties, and trust them while fRemovals is unchanged.
    friend class VJSONPropertyIteratorBase;
    friend class VJSONGraph;
    friend class VJSONClassStore;
    friend class VJSONClass;          // construction level and flag
    friend class VJSONBinaryImporter; // gives an object read back its class and implementation

    // Takes inClass (UseClassObject) in place of the current class, with a construction level.
    void _SetClass(VJSONClass* inClass, uint32_t inLevel);
    // The class steps of the property access (VJSONObject_Classes.cpp): true when the class
    // answered (a member function, or a getter's result).
    bool _GetClassProperty(const VString& inName, VJSONValue& outValue, VDBLanguageContext* inContext) const;
    // A setter of the class: true when one ran, with its outcome in outDone.
    bool _CallClassSetter(const VString& inName, const VJSONValue& inValue, bool& outDone);

    // Empties the properties of a member being collected (no counting: the graph does that).
    void _EmptyForGraph();
    // The store of SetOwnProperty once the checks are passed: replaces or appends, links a
    // container value and unlinks the value it replaces.
    template <class TValue>
    void _StoreOwnProperty(std::u16string_view inUnits, uint32_t inHash, TValue&& inValue);

    static constexpr uint32_t kNoEntry = UINT32_MAX;

    static void* operator new(size_t, void* inPlace) noexcept { return inPlace; }
    static void operator delete(void*, void*) noexcept {}

    // The position of the property, or fProperties.size() when absent.
    size_t _Find(std::u16string_view inUnits, uint32_t inHash) const;
    size_t _Find(const VJSONKey& inKey) const { return _Find(inKey.GetUnits(), inKey.GetHash()); }
    size_t _Find(const VString& inName) const;
    template <class TValue>
    bool _SetOwnProperty(const VString& inName, TValue&& inValue);
    // Appends an entry known to be new, indexing it.
    void _Append(VJSONKey&& inKey, VJSONValue&& inValue);
    void _RemoveInternalProperty(size_t inPosition);
    // Adds the entry at inPosition to the index, building or growing the index when needed.
    void _Index(size_t inPosition);
    // Indexes the entries in a table with room for inRoomFor of them; none for kLinearLimit or
    // fewer.
    void _RebuildIndex(size_t inRoomFor);
    void _CountTreeChange();

    uint32_t fContainerCount = 0; // references counted in the graph (VJSONGraph)
    // Open addressing: entry positions (kNoEntry when free), a power of two in size, at most half
    // full; empty while the object has kLinearLimit properties or fewer (unless it was filled at
    // once with more).
    std::vector<uint32_t> fIndex;
    // The script class attaches here once it exists.
    std::atomic<VJSONGraph*> fGraph{nullptr}; // retained; see VJSONGraph
    IJSONObject* fImplementation = nullptr;   // retained
    // Retained; changed under StGraphLocker::sMutex (atomic so that the plain-object test of the
    // unlocked paths is a plain load).
    std::atomic<VStorageLocker*> fLocker{nullptr};
    VJSONStamp* fStamp = nullptr; // retained
    VJSONClass* fClass = nullptr; // held through UseClassObject
    // Counts the removals of own properties, which move later entries (64 bits never wrap).
    uint64_t fRemovals = 0;
    uint32_t fConstructionLevel = 0;
    bool fUnderConstruction = false;
    bool fUnmonitored;
    // Last: the room of NewWithRoom follows it.
    VJSONInlineVector<OwnProperty> fProperties;
};

} // namespace zorn
