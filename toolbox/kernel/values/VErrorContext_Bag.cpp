// The bag forms of error contexts: a saved context ("error" elements holding each error's bag
// form) and the error stack ("__ERROR" elements) that describes a task's errors.
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

namespace
{

const VValueBag::StKey& ErrorKey()
{
    static const VValueBag::StKey sKey("error");
    return sKey;
}

// A new error read from a saved error's bag, or null with the reason pushed on the task.
VErrorBase* ReadError(const VValueBag& inBag, VError& outError)
{
    static const VValueBag::StKey sCodeKey("error_code");
    if (!inBag.AttributeExists(sCodeKey))
    {
        const VString what("error_code");
        outError = _ThrowError(VE_ERROR_BAG_INVALID, &what);
        return nullptr;
    }
    auto* error = new VErrorBase();
    outError = error->LoadFromBag(inBag);
    if (outError != VE_OK)
    {
        error->Release();
        return nullptr;
    }
    return error;
}

} // namespace

VError VErrorContext::SaveToBag(VValueBag& ioBag) const
{
    for (const VErrorBase* error : fErrors)
    {
        auto* saved = new VValueBag();
        error->SaveToBag(*saved);
        ioBag.AddElement(ErrorKey(), saved);
        saved->Release();
    }
    return VE_OK;
}

VError VErrorContext::LoadFromBag(const VValueBag& inBag)
{
    VError first = VE_OK;
    const VBagArray* list = inBag.GetElements(ErrorKey());
    for (int32_t i = 1; list != nullptr && i <= list->GetCount(); ++i)
    {
        VError err = VE_OK;
        if (VErrorBase* error = ReadError(*list->GetNth(i), err))
        {
            PushError(error);
            error->Release();
        }
        else if (first == VE_OK)
        {
            first = err;
        }
    }
    return first;
}

VError VErrorTaskContext::PushErrorsFromBag(const VValueBag& inBag)
{
    const VBagArray* list = inBag.GetElements(ErrorKey());
    for (int32_t i = 1; list != nullptr && i <= list->GetCount(); ++i)
    {
        VError err = VE_OK;
        VErrorBase* error = ReadError(*list->GetNth(i), err);
        if (error == nullptr)
        {
            return err;
        }
        bool filtered = false;
        PushError(error, &filtered);
        error->Release();
    }
    return VE_OK;
}

void VErrorTaskContext::BuildErrorStack(VValueBag& ioBag) const
{
    static const VValueBag::StKey sStackKey("__ERROR");
    static const VValueBag::StKey sMessageKey("message");
    static const VValueBag::StKey sComponentKey("componentSignature");
    static const VValueBag::StKey sNumberKey("errCode");
    VErrorContext all;
    GetErrors(all);
    for (const VErrorBase* error : all.GetErrorList())
    {
        auto* entry = new VValueBag();
        VString text;
        error->GetErrorDescription(text);
        entry->SetString(sMessageKey, text);
        const OsType component = ComponentOfVError(error->GetError());
        const char letters[] = {
            static_cast<char>(component >> 24), static_cast<char>((component >> 16) & 0xFF),
            static_cast<char>((component >> 8) & 0xFF), static_cast<char>(component & 0xFF), 0};
        entry->SetString(sComponentKey, VString(letters));
        entry->SetLong(sNumberKey, NumberOfVError(error->GetError()));
        ioBag.AddElement(sStackKey, entry);
        entry->Release();
    }
}

} // namespace zorn
