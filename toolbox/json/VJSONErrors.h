// Error codes raised by the JSON object model.
#pragma once

#include "toolbox/kernel/errors/VError.h"

namespace zorn
{

// JSON containers nested deeper than the walks allow (StJSONNestingGuard), or too little stack
// left on the task to go one level deeper.
constexpr VError VE_JSON_NESTING_TOO_DEEP = MakeVError(kCOMPONENT_ZORN, 108);
// An array's text would contain the array itself.
constexpr VError VE_JSON_CIRCULAR_ARRAY = MakeVError(kCOMPONENT_ZORN, 900);
// A path part opens an index with "[" and does not close it with "]".
constexpr VError VE_JSON_PATH_UNCLOSED_INDEX = MakeVError(kCOMPONENT_ZORN, 901);
// A path has an empty name or an empty index.
constexpr VError VE_JSON_PATH_EMPTY_PART = MakeVError(kCOMPONENT_ZORN, 902);
// Setting by path met a value that is neither object nor array where an index (digits) followed;
// the error's "p1" is the part that led there.
constexpr VError VE_JSON_PATH_INDEX_IN_SCALAR = MakeVError(kCOMPONENT_ZORN, 903);
// The same where a name followed.
constexpr VError VE_JSON_PATH_NAME_IN_SCALAR = MakeVError(kCOMPONENT_ZORN, 904);
// The text writer met a native object with a compact form of its own (option 0x100).
constexpr VError VE_JSON_BINARY_OBJECT = MakeVError(kCOMPONENT_ZORN, 911);
// The text writer met an object that is not generic (option 0x8000).
constexpr VError VE_JSON_NOT_GENERIC = MakeVError(kCOMPONENT_ZORN, 914);
// The text writer met an object a second time (option 0x10000).
constexpr VError VE_JSON_OBJECT_REPEATED = MakeVError(kCOMPONENT_ZORN, 916);
// A native implementation has no compact stream form of its own.
constexpr VError VE_JSON_NO_BINARY_FORM = MakeVError(kCOMPONENT_ZORN, 915);
// The comparator of an array sort failed (it threw, or changed the array it was sorting).
constexpr VError VE_JSON_SORT_COMPARATOR_FAILED = MakeVError(kCOMPONENT_ZORN, 917);
// An array index past the end where the array may not grow.
constexpr VError VE_JSON_INDEX_OUT_OF_RANGE = MakeVError(kCOMPONENT_SCRIPT, -10713);
// A change to a shared object (array) by a task that does not hold its storage locker.
constexpr VError VE_JSON_OBJECT_NOT_IN_USE = MakeVError(kCOMPONENT_SCRIPT, -10719);
constexpr VError VE_JSON_ARRAY_NOT_IN_USE = MakeVError(kCOMPONENT_SCRIPT, -10720);
// A value other than an object, an array or null stored into a class-internal shared object.
constexpr VError VE_JSON_SCALAR_IN_CLASS_INTERNAL = MakeVError(kCOMPONENT_SCRIPT, -10727);
// A value that is neither shared nor a sharable native object stored into a shared container.
constexpr VError VE_JSON_NOT_SHARED = MakeVError(kCOMPONENT_SCRIPT, -10721);
// An object (array) of one shared graph stored into another shared graph.
constexpr VError VE_JSON_OBJECT_IN_OTHER_GRAPH = MakeVError(kCOMPONENT_SCRIPT, -10724);
constexpr VError VE_JSON_ARRAY_IN_OTHER_GRAPH = MakeVError(kCOMPONENT_SCRIPT, -10725);
// A shared value not yet in any graph stored while another task uses it.
constexpr VError VE_JSON_SHARED_VALUE_IN_USE = MakeVError(kCOMPONENT_SCRIPT, -10753);

} // namespace zorn
