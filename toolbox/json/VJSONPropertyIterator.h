// The property iterators of VJSONObject: VJSONPropertyConstOrderedIterator walks in insertion order
// (wherever order matters: merging, cloning, writing), VJSONPropertyConstIterator in the object's
// storage order, and VJSONPropertyIterator may also change values as it walks. Besides the own properties
// they list the names a native implementation reports, so computed properties are visited too
// and a script class's getters.
//
// An iterator first visits its list of names, whose values are read with GetProperty (so the
// implementation answers), then its entries, positions in the object's own properties with their
// keys, whose values are copies of the stored ones (GetOwnValue reads them by reference), and last
// the names of the class's getters (read with GetProperty, so the getter runs); a getter named like
// an own property is visited once, as that property. A name
// the implementation reports that is also an own property is visited once, as an entry. An object
// that is shared between tasks (a storage locker, or a sharable implementation) is walked by names only, own
// properties in insertion order, listed under the object's read lock and read by GetProperty, which
// takes it again. The object stores its properties in insertion order, so the storage order of
// the unordered iterators is insertion order too.
//
// Use:
//     for (VJSONPropertyConstOrderedIterator i(object, 3); i.IsValid(); ++i)
//         Use(i.GetName(), i.GetValue());
//
// The iterator does not retain the object; the caller keeps it alive. The object may change during
// the walk: positions survive additions and the index's rehashing, properties added during the
// walk are not visited, and removed ones are skipped. After any removal (which moves the later
// entries) the iterator finds the remaining entries by the keys it holds, so it never reads the
// wrong property; the property it stands on keeps its name and reads as undefined once removed.
#pragma once

#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VStorageLocker.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace zorn
{

// What the three iterators share: the two lists and the walk over them.
class VJSONPropertyIteratorBase : public VObject
{
public:
    VJSONPropertyIteratorBase(const VJSONPropertyIteratorBase&) = delete;
    VJSONPropertyIteratorBase& operator=(const VJSONPropertyIteratorBase&) = delete;

    // Whether the iterator stands on a property.
    bool IsValid() const
    {
        return fNamePosition < fNames.size() || fEntryPosition < fEntries.size() ||
               fGetterPosition < fGetterNames.size();
    }
    // The current property's name; the empty string past the end.
    const VString& GetName() const;
    // The same as units, valid while the iterator lives (no string is made for an own property).
    std::u16string_view GetNameUnits() const;
    // The stored value of the current own property, by reference (valid until the object next
    // changes); null on a listed name (read those with GetValue), past the end, or once removed.
    const VJSONValue* GetOwnValue() const;

protected:
    using OwnProperty = VJSONObject::OwnProperty;

    explicit VJSONPropertyIteratorBase(const VJSONObject* inObject);

    // The implementation's names into fNames; whether it answered.
    bool _AddImplementationNames();
    // The names of the object's class getters, listed after the own properties.
    void _AddClassGetterNames();
    // Drops from fNames the names that are own properties.
    void _RemoveOwnNamesFromList();
    void _AddEntry(size_t inPosition);
    // The own property names in storage order (which is insertion order), appended to fNames.
    void _AddOwnNames(bool inOrdered);
    // Entries for the own properties in storage order (which is insertion order).
    void _AddOwnEntries(bool inOrdered);
    // Moves to the first property, or the next one, that is still there.
    void _Start();
    void _Next();
    VJSONValue _GetValue(VDBLanguageContext* inContext) const;
    // Whether the current property is an own property's entry (rather than a listed name).
    bool _IsOnEntry() const { return fNamePosition >= fNames.size() && fEntryPosition < fEntries.size(); }
    // The listed name the iterator stands on (before or after the entries); null on an entry or
    // past the end.
    const VString* _CurrentListedName() const;
    // Whether the object's own properties are listed by name: an implementation that may be shared
    // (or, once they exist, a storage locker) means the properties are read under its lock, never held.
    bool _ListsOwnPropertiesByName() const;

    const VJSONObject* fObject;

private:
    struct Entry
    {
        size_t fPosition;
        VJSONKey fKey;
    };
    // The entry's property, or null when it is gone. fPosition is trusted only while the object
    // has removed nothing since the entries were taken (additions move no entry).
    const OwnProperty* _Resolve(const Entry& inEntry) const;
    void _SkipRemovedEntries();

    std::vector<VString> fNames;
    size_t fNamePosition = 0;
    std::vector<Entry> fEntries;
    size_t fEntryPosition = 0;
    std::vector<VString> fGetterNames;
    size_t fGetterPosition = 0;
    // The name of the current entry, made when it is first asked for (GetName), and the entry
    // position it was made for.
    mutable VString fEntryName;
    mutable size_t fEntryNamePosition = SIZE_MAX;
    uint64_t fRemovals;
};

// Insertion order. inOptions: eNoImplementationNames leaves out the implementation's names,
// eNoClassGetters the class's getters; eOwnPropertiesOnly (both) walks the own properties alone.
class VJSONPropertyConstOrderedIterator : public VJSONPropertyIteratorBase
{
public:
    static constexpr uint32_t eNoImplementationNames = 1;
    static constexpr uint32_t eNoClassGetters = 2;
    static constexpr uint32_t eOwnPropertiesOnly = eNoImplementationNames | eNoClassGetters;

    VJSONPropertyConstOrderedIterator(const VJSONObject* inObject, uint32_t inOptions);

    VJSONPropertyConstOrderedIterator& operator++()
    {
        _Next();
        return *this;
    }
    VJSONValue GetValue(VDBLanguageContext* inContext = nullptr) const { return _GetValue(inContext); }
};

// Storage order.
class VJSONPropertyConstIterator : public VJSONPropertyIteratorBase
{
public:
    explicit VJSONPropertyConstIterator(const VJSONObject* inObject);

    VJSONPropertyConstIterator& operator++()
    {
        _Next();
        return *this;
    }
    VJSONValue GetValue(VDBLanguageContext* inContext = nullptr) const { return _GetValue(inContext); }
};

// Storage order, changing values on the way. While it exists it uses the object's storage locker
// (VJSONUser), so that its changes pass the locker check.
class VJSONPropertyIterator : public VJSONPropertyIteratorBase
{
public:
    explicit VJSONPropertyIterator(VJSONObject* inObject);

    VJSONPropertyIterator& operator++()
    {
        _Next();
        return *this;
    }
    VJSONValue GetValue(VDBLanguageContext* inContext = nullptr) const { return _GetValue(inContext); }
    // Sets the current property with VJSONObject::SetProperty and returns its result. Undefined on
    // an own property is ignored (true): the walk never removes the entry it stands on. Nothing
    // past the end (false).
    bool SetValue(const VJSONValue& inValue, VDBLanguageContext* inContext = nullptr);

private:
    VJSONUser fUser;
    VJSONObject* fWritableObject;
};

} // namespace zorn
