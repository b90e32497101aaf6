// VJSONObject: the reference-counted JSON object. Own properties live in a hash map keyed by the
// exact UTF-16 name; each remembers its insertion index (0 .. n-1, renumbered on removal), so
// ordered walks give insertion order, and a replaced value keeps its place. A stored value is a
// copy (with its own stamp) and is never undefined: storing undefined removes the property.
//
// A native implementation (IJSONObject) is asked first for property access, cloning, comparison
// and names. Script classes, storage lockers and the object graph attach to objects in later
// layers; until they exist every object is plain (no class, no locker, no graph), is never
// locked, and belongs to one task at a time like any plain container. "__LockerID" is then an
// ordinary name.
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
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/hasher_VString.h"

#include <atomic>
#include <unordered_map>
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
    // A stored value and its insertion index.
    using Property = std::pair<VJSONValue, size_t>;
    using PropertyMap = std::unordered_map<VString, Property, hasher_VString, hasher_VString>;
    using NamedValues = std::vector<std::pair<VString, VJSONValue>>;

    // The largest index at which setting by path may grow an array.
    static constexpr int64_t kMaxPathIndex = 999999;

    // Retains the implementation (may be null). One reference, the creator's. With inUnmonitored
    // the object is left out of the task counter below.
    explicit VJSONObject(IJSONObject* inImplementation = nullptr, bool inUnmonitored = false);
    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

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
    // Undefined removes the property (true). Otherwise the implementation, then the own map.
    bool SetProperty(const VString& inName, const VJSONValue& inValue,
                     VDBLanguageContext* inContext = nullptr);
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
    PropertyMap GetInternalProperties() const;
    // The implementation's indexed properties; without an implementation undefined and 0, with
    // status "not handled".
    VJSONValue GetPropertyByIndex(size_t inIndex, EJSONStatus* outStatus) const;
    size_t GetCountPropertiesByIndex(EJSONStatus* outStatus) const;
    // The implementation's name, else "Object".
    void GetClassName(VString& outName) const;
    // "[object Object]".
    void GetString(VString& outString) const;

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

    // The own properties in insertion order.
    std::vector<const PropertyMap::value_type*> GetOrderedProperties() const;

protected:
    ~VJSONObject() override;

private:
    // The iterators hold pointers to the map's nodes, and trust them while fRemovals is unchanged.
    friend class VJSONPropertyIteratorBase;

    bool _SetOwnProperty(const VString& inName, const VJSONValue& inValue);
    void _RemoveInternalProperty(PropertyMap::iterator inEntry);
    void _CountTreeChange();

    PropertyMap fProperties;
    // The object graph, the storage locker and the script class attach here when they exist.
    [[maybe_unused]] VJSONGraph* fGraph = nullptr;
    IJSONObject* fImplementation = nullptr; // retained
    [[maybe_unused]] VStorageLocker* fLocker = nullptr;
    VJSONStamp* fStamp = nullptr; // retained
    [[maybe_unused]] VJSONClass* fClass = nullptr;
    uint32_t fConstructionLevel = 0;
    // Counts the removals of own properties, which free nodes of the map (64 bits never wrap).
    uint64_t fRemovals = 0;
    [[maybe_unused]] uint32_t fContainerCount = 0;
    [[maybe_unused]] bool fUnderConstruction = false;
    bool fUnmonitored;
};

} // namespace zorn
