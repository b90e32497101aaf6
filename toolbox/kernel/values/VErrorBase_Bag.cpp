// The bag form of an error (saved errors, log records). It lives with the value bags because the
// errors below them know bags only by name; the parameters cross to and from JSON through the
// JSON layer's entries in the kernel's hook table.
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cmath>
#include <limits>

namespace zorn
{

namespace
{

// The names of the bag form.
struct Keys
{
    const char* fErrorCodeName = "error_code";
    const char* fTaskIDName = "task_id";
    const char* fTaskNameName = "task_name";
    VValueBag::StKey fErrorCode{fErrorCodeName};
    VValueBag::StKey fTaskID{fTaskIDName};
    VValueBag::StKey fTaskName{fTaskNameName};
    VValueBag::StKey fParameters{"parameters"};

    static const Keys& Get()
    {
        static const Keys sKeys;
        return sKeys;
    }
};

// The attribute's value, or null when the bag has no such attribute.
const VValueSingle* FindAttribute(const VValueBag& inBag, const char* inName)
{
    VString name;
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (name.EqualToUSASCIICString(inName))
        {
            return value;
        }
    }
    return nullptr;
}

// The integer a stored value holds when it is one (a real only with an integral value), within
// [inMin, inMax].
bool ReadInteger(const VValueSingle& inValue, int64_t inMin, int64_t inMax, int64_t& outInteger)
{
    if (inValue.IsNull())
    {
        return false;
    }
    switch (inValue.GetValueKind())
    {
    case VK_BYTE:
    case VK_WORD:
    case VK_LONG:
    case VK_LONG8:
        outInteger = inValue.GetLong8();
        break;
    case VK_REAL:
    {
        // 2^63 itself is out of range: the bound below is exact in a double.
        const double real = inValue.GetReal();
        if (!std::isfinite(real) || std::trunc(real) != real || real < -0x1p63 || real >= 0x1p63)
        {
            return false;
        }
        outInteger = static_cast<int64_t>(real);
        break;
    }
    default:
        return false;
    }
    return outInteger >= inMin && outInteger <= inMax;
}

VError ThrowInvalid(const char* inWhat)
{
    const VString what(inWhat);
    return _ThrowError(VE_ERROR_BAG_INVALID, &what);
}

} // namespace

VError VErrorBase::SaveToBag(VValueBag& ioBag) const
{
    const Keys& keys = Keys::Get();
    ioBag.SetLong8(keys.fErrorCode, static_cast<int64_t>(fError));
    ioBag.SetLong(keys.fTaskID, fTaskID);
    ioBag.SetString(keys.fTaskName, fTaskName);
    const detail::VBagJSONAccess* access = detail::BagJSON();
    if (access != nullptr && fParameters != nullptr)
    {
        // Parameters the bag form cannot carry leave the element out, without an error of their
        // own: this runs while errors are being logged.
        StErrorContextInstaller silent(false, true);
        auto* parameters = new VValueBag();
        if (access->fObjectToBag(fParameters, *parameters) == VE_OK)
        {
            ioBag.ReplaceElement(keys.fParameters, parameters);
        }
        parameters->Release();
    }
    return VE_OK;
}

VError VErrorBase::LoadFromBag(const VValueBag& inBag)
{
    const Keys& keys = Keys::Get();
    int64_t code = static_cast<int64_t>(fError);
    if (const VValueSingle* value = FindAttribute(inBag, keys.fErrorCodeName);
        value != nullptr &&
        !ReadInteger(*value, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), code))
    {
        return ThrowInvalid("error_code");
    }
    int64_t taskID = fTaskID;
    if (const VValueSingle* value = FindAttribute(inBag, keys.fTaskIDName);
        value != nullptr && !ReadInteger(*value, std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max(), taskID))
    {
        return ThrowInvalid("task_id");
    }
    VString taskName = fTaskName;
    if (const VValueSingle* value = FindAttribute(inBag, keys.fTaskNameName); value != nullptr)
    {
        if (value->GetValueKind() != VK_STRING)
        {
            return ThrowInvalid("task_name");
        }
        value->GetString(taskName);
    }
    VJSONObject* parameters = nullptr;
    if (const VBagArray* list = inBag.GetElements(keys.fParameters); list != nullptr && list->GetCount() > 0)
    {
        const detail::VBagJSONAccess* access = detail::BagJSON();
        if (access == nullptr)
        {
            return _ThrowError(VE_UNIMPLEMENTED);
        }
        // Straight from the bag, not through its JSON text, so that reals come back bit for bit.
        VError err = VE_OK;
        parameters = access->fBagToObject(*list->GetNth(1), err);
        if (err != VE_OK)
        {
            return err;
        }
        if (parameters == nullptr)
        {
            return ThrowInvalid("parameters");
        }
    }
    fError = static_cast<VError>(code);
    fTaskID = static_cast<int32_t>(taskID);
    fTaskName = taskName;
    if (parameters != nullptr)
    {
        const detail::VJSONObjectAccess* json = detail::JSONObjects();
        if (fParameters != nullptr)
        {
            json->fRelease(fParameters);
        }
        fParameters = parameters;
    }
    return VE_OK;
}

} // namespace zorn
