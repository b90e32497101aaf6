// VError: the toolbox's 64-bit error code (component signature in the high 32 bits, number in
// the low 32), the codes the core runtime raises, and _ThrowError, which puts an error on the
// current task's error context.
#pragma once

#include "toolbox/kernel/ZornTypes.h"

namespace zorn
{

class VString;

using VError = uint64_t;

constexpr VError VE_OK = 0;

constexpr VError MakeVError(OsType inComponent, int32_t inNumber)
{
    return (static_cast<VError>(inComponent) << 32) | static_cast<uint32_t>(inNumber);
}
constexpr OsType ComponentOfVError(VError inError)
{
    return static_cast<OsType>(inError >> 32);
}
constexpr int32_t NumberOfVError(VError inError)
{
    return static_cast<int32_t>(static_cast<uint32_t>(inError & 0xFFFFFFFFu));
}

constexpr OsType kCOMPONENT_ZORN = MakeOsType('z', 'o', 'r', 'n');

constexpr VError VE_UNKNOWN_ERROR = MakeVError(kCOMPONENT_ZORN, 1);
// A virtual operation that this kind of value does not support.
constexpr VError VE_UNIMPLEMENTED = MakeVError(kCOMPONENT_ZORN, 2);
// A block allocation failed.
constexpr VError VE_MEMORY_FULL = MakeVError(kCOMPONENT_ZORN, 100);
// A string could not be given the buffer it needs (negative length, size limit, no memory).
constexpr VError VE_STRING_ALLOC_FAILED = MakeVError(kCOMPONENT_ZORN, 107);
// A character-set converter could not get the memory for its output.
constexpr VError VE_CHARSET_CONVERSION_FAILED = MakeVError(kCOMPONENT_ZORN, 300);

// Raises an error on the current task's innermost error context and returns its code. Raising
// never fails visibly: without a process object, or before the error model is linked in, the
// call only returns the code.
VError _ThrowError(VError inError, const VString* inP1 = nullptr, const VString* inP2 = nullptr,
                   const VString* inP3 = nullptr);

namespace detail
{
// The error model installs its raiser here when it starts; until then raising only returns the
// code. This keeps the string and value layers below the error objects that are built on them.
using ErrorRaiser = void (*)(VError inError, const VString* inP1, const VString* inP2, const VString* inP3);
ErrorRaiser SetErrorRaiser(ErrorRaiser inRaiser);
} // namespace detail

} // namespace zorn
