// VJSONAlter: one-shot setters of a JSON value by property path. Constructing one does the whole
// work: the value is first made an object (a value that is not one is replaced by a new empty
// object), then the path is set with VJSONObject::SetPropertyWithPath, which creates the missing
// levels (objects, or arrays where the next part is an index). The object lives only for that.
//
// Choices and limits:
// - The path rules and errors are VJSONObject's: a part that meets a value which is neither object
//   nor array refuses the path ('zorn' 903 for an index, 904 for a name) and changes nothing there;
//   an empty part gives 902. The errors go on the task's error context.
// - The JSONType form stores a new value of the type (a new empty container for object and array)
//   and gives the new array, not retained, through outArray; outArray is null for other types and
//   when the path was refused (the array would not outlive the constructor).
// - The time form stores the time's JSON text (VTime::GetJSONString, options 0) as a string.
// - (value) alone only makes the value an object. (value, name) removes the property of that very
//   name (not split as a path: "a.b" removes a member named "a.b") when the value is an object,
//   and leaves any other value as it is.
#pragma once

#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

class VJSONArray;
class VTime;

class VJSONAlter : public VObject
{
public:
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, bool inValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, int inValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, double inValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VString& inValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const char* inValue);
    // A zero-terminated UTF-16 text.
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const UniChar* inValue);
    // Any other pointer would silently pick the boolean form (u"text" among them): refused.
    template <class T>
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const T* inValue) = delete;
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, JSONType inType, VJSONArray** outArray = nullptr);
    VJSONAlter(VJSONValue& ioValue, const VString& inPath, const VTime& inTime);
    explicit VJSONAlter(VJSONValue& ioValue);
    VJSONAlter(VJSONValue& ioValue, const VString& inName);
    ~VJSONAlter() override;
    VJSONAlter(const VJSONAlter&) = delete;
    VJSONAlter& operator=(const VJSONAlter&) = delete;

private:
    // Makes ioValue an object and sets the path; whether the path was set.
    static bool _Set(VJSONValue& ioValue, const VString& inPath, const VJSONValue& inValue);
    static void _MakeObject(VJSONValue& ioValue);
};

} // namespace zorn
