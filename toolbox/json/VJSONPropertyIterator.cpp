#include "toolbox/json/VJSONPropertyIterator.h"

#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/VJSONClass.h"

#include <algorithm>

namespace zorn
{

// The shared walk

VJSONPropertyIteratorBase::VJSONPropertyIteratorBase(const VJSONObject* inObject)
    : fObject(inObject), fRemovals(0)
{
    if (fObject != nullptr)
    {
        // A shared object's count changes under its lock.
        StJSONChangeLock lock(fObject, StJSONChangeLock::ReadOnly());
        fRemovals = fObject->fRemovals;
    }
}

const VString* VJSONPropertyIteratorBase::_CurrentListedName() const
{
    if (fNamePosition < fNames.size())
    {
        return &fNames[fNamePosition];
    }
    if (fEntryPosition >= fEntries.size() && fGetterPosition < fGetterNames.size())
    {
        return &fGetterNames[fGetterPosition];
    }
    return nullptr;
}

const VString& VJSONPropertyIteratorBase::GetName() const
{
    if (const VString* name = _CurrentListedName())
    {
        return *name;
    }
    if (fEntryPosition < fEntries.size())
    {
        if (fEntryNamePosition != fEntryPosition)
        {
            std::u16string_view units = fEntries[fEntryPosition].fKey.GetUnits();
            fEntryName.FromUniCString(reinterpret_cast<const UniChar*>(units.data()),
                                      static_cast<int32_t>(units.size()));
            fEntryNamePosition = fEntryPosition;
        }
        return fEntryName;
    }
    return VString::GetEmptyString();
}

std::u16string_view VJSONPropertyIteratorBase::GetNameUnits() const
{
    if (const VString* name = _CurrentListedName())
    {
        return {reinterpret_cast<const char16_t*>(name->GetCPointer()),
                static_cast<size_t>(name->GetLength())};
    }
    if (fEntryPosition < fEntries.size())
    {
        return fEntries[fEntryPosition].fKey.GetUnits();
    }
    return {};
}

const VJSONValue* VJSONPropertyIteratorBase::GetOwnValue() const
{
    if (!_IsOnEntry())
    {
        return nullptr;
    }
    const OwnProperty* property = _Resolve(fEntries[fEntryPosition]);
    return property != nullptr ? &property->fValue : nullptr;
}

void VJSONPropertyIteratorBase::_AddClassGetterNames()
{
    if (VJSONClass* theClass = fObject->GetClass(); theClass != nullptr && theClass->HasGetters())
    {
        theClass->GetGetterNames(fGetterNames);
        std::erase_if(fGetterNames,
                      [this](const VString& inName) { return fObject->HasOwnProperty(inName); });
    }
}

bool VJSONPropertyIteratorBase::_AddImplementationNames()
{
    IJSONObject* implementation = fObject != nullptr ? fObject->GetImplementation() : nullptr;
    return implementation != nullptr &&
           implementation->IJSON_GetPropertyNames(fNames) != eJSONStatusNotHandled;
}

void VJSONPropertyIteratorBase::_RemoveOwnNamesFromList()
{
    std::erase_if(fNames, [this](const VString& inName) { return fObject->HasOwnProperty(inName); });
}

bool VJSONPropertyIteratorBase::_ListsOwnPropertiesByName() const
{
    // A shared object's properties are read under its lock (by GetProperty), never held.
    return fObject->IsShared();
}

void VJSONPropertyIteratorBase::_AddEntry(size_t inPosition)
{
    fEntries.push_back(Entry{inPosition, fObject->fProperties[inPosition].fKey});
}

// Storage order is insertion order: both orders walk the entries as stored.
void VJSONPropertyIteratorBase::_AddOwnNames(bool /*inOrdered*/)
{
    StJSONChangeLock lock(fObject, StJSONChangeLock::ReadOnly());
    fNames.reserve(fNames.size() + fObject->fProperties.size());
    for (const OwnProperty& property : fObject->fProperties)
    {
        fNames.push_back(property.fKey.GetString());
    }
}

void VJSONPropertyIteratorBase::_AddOwnEntries(bool /*inOrdered*/)
{
    fEntries.reserve(fEntries.size() + fObject->fProperties.size());
    for (size_t i = 0; i < fObject->fProperties.size(); ++i)
    {
        _AddEntry(i);
    }
}

const VJSONObject::OwnProperty* VJSONPropertyIteratorBase::_Resolve(const Entry& inEntry) const
{
    if (fObject->fRemovals == fRemovals)
    {
        return &fObject->fProperties[inEntry.fPosition];
    }
    size_t position = fObject->_Find(inEntry.fKey);
    return position < fObject->fProperties.size() ? &fObject->fProperties[position] : nullptr;
}

void VJSONPropertyIteratorBase::_SkipRemovedEntries()
{
    if (fNamePosition < fNames.size())
    {
        return;
    }
    while (fEntryPosition < fEntries.size() && _Resolve(fEntries[fEntryPosition]) == nullptr)
    {
        ++fEntryPosition;
    }
}

void VJSONPropertyIteratorBase::_Start()
{
    fNamePosition = 0;
    fEntryPosition = 0;
    fGetterPosition = 0;
    _SkipRemovedEntries();
}

void VJSONPropertyIteratorBase::_Next()
{
    if (fNamePosition < fNames.size())
    {
        ++fNamePosition;
    }
    else if (fEntryPosition < fEntries.size())
    {
        ++fEntryPosition;
    }
    else if (fGetterPosition < fGetterNames.size())
    {
        ++fGetterPosition;
    }
    _SkipRemovedEntries();
}

VJSONValue VJSONPropertyIteratorBase::_GetValue(VDBLanguageContext* inContext) const
{
    if (const VString* name = _CurrentListedName())
    {
        return fObject->GetProperty(*name, inContext);
    }
    if (fEntryPosition < fEntries.size())
    {
        // The entry is read without the object's lock: entries exist only for objects that are
        // never locked.
        if (const OwnProperty* property = _Resolve(fEntries[fEntryPosition]))
        {
            return property->fValue;
        }
    }
    return VJSONValue(JSON_undefined);
}

// The iterators

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* inObject,
                                                                     uint32_t inOptions)
    : VJSONPropertyIteratorBase(inObject)
{
    if (fObject == nullptr)
    {
        return;
    }
    bool answered = (inOptions & eNoImplementationNames) == 0 && _AddImplementationNames();
    // The implementation's names come first, those of own properties are visited once, as own
    // properties.
    _RemoveOwnNamesFromList();
    if (_ListsOwnPropertiesByName())
    {
        _AddOwnNames(true);
    }
    else
    {
        _AddOwnEntries(true);
    }
    // Unless the implementation answered (or eNoClassGetters), the class's getters are listed.
    if (!answered && (inOptions & eNoClassGetters) == 0)
    {
        _AddClassGetterNames();
    }
    _Start();
}

VJSONPropertyConstIterator::VJSONPropertyConstIterator(const VJSONObject* inObject)
    : VJSONPropertyIteratorBase(inObject)
{
    if (fObject == nullptr)
    {
        return;
    }
    bool answered = _AddImplementationNames();
    _RemoveOwnNamesFromList();
    if (_ListsOwnPropertiesByName())
    {
        _AddOwnNames(false);
    }
    else
    {
        _AddOwnEntries(false);
    }
    if (!answered)
    {
        _AddClassGetterNames();
    }
    _Start();
}

VJSONPropertyIterator::VJSONPropertyIterator(VJSONObject* inObject)
    : VJSONPropertyIteratorBase(inObject), fUser(inObject), fWritableObject(inObject)
{
    if (fObject == nullptr)
    {
        return;
    }
    // Without the implementation's names, the class's getter names are listed. A shared object is
    // walked by name, as by the other iterators.
    bool answered = _AddImplementationNames();
    _RemoveOwnNamesFromList();
    if (_ListsOwnPropertiesByName())
    {
        _AddOwnNames(false);
    }
    else
    {
        _AddOwnEntries(false);
    }
    if (!answered)
    {
        _AddClassGetterNames();
    }
    _Start();
}

bool VJSONPropertyIterator::SetValue(const VJSONValue& inValue, VDBLanguageContext* inContext)
{
    if (!IsValid())
    {
        return false;
    }
    if (_IsOnEntry() && inValue.IsUndefined())
    {
        return true;
    }
    return fWritableObject->SetProperty(GetName(), inValue, inContext);
}

} // namespace zorn
