#include "toolbox/kernel/errors/VErrorContext.h"

#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <algorithm>
#include <vector>

namespace zorn
{

// VErrorContext

VErrorContext::VErrorContext(const VErrorContext& inOther)
    : VObject(inOther), IRefCountable(inOther), fErrors(inOther.fErrors),
      fFailedForMemory(inOther.fFailedForMemory)
{
    for (VErrorBase* error : fErrors)
    {
        error->Retain();
    }
}

VErrorContext::~VErrorContext()
{
    Flush();
}

bool VErrorContext::PushError(VErrorBase* inError)
{
    if (inError == nullptr)
    {
        return false;
    }
    if (inError->GetError() == VE_MEMORY_FULL)
    {
        fFailedForMemory = true;
    }
    inError->Retain();
    fErrors.push_back(inError);
    return true;
}

bool VErrorContext::PushErrors(const VErrorContext* inOther)
{
    for (VErrorBase* error : inOther->fErrors)
    {
        error->Retain();
        fErrors.push_back(error);
    }
    fFailedForMemory = inOther->fFailedForMemory;
    return fFailedForMemory;
}

void VErrorContext::Flush()
{
    for (VErrorBase* error : fErrors)
    {
        error->Release();
    }
    fErrors.clear();
    fFailedForMemory = false;
}

VError VErrorContext::GetLastError() const
{
    return fErrors.empty() ? VE_OK : fErrors.back()->GetError();
}

VErrorBase* VErrorContext::Find(VError inError) const
{
    auto found = std::find_if(fErrors.begin(), fErrors.end(),
                              [inError](VErrorBase* e) { return e->GetError() == inError; });
    return found == fErrors.end() ? nullptr : *found;
}

bool VErrorContext::FindAny(std::initializer_list<VError> inErrors) const
{
    for (VError wanted : inErrors)
    {
        if (wanted == VE_OK)
        {
            break; // the list ends at the first 0
        }
        if (Find(wanted) != nullptr)
        {
            return true;
        }
    }
    return false;
}

bool VErrorContext::IsErrorFiltered(VError inError) const
{
    return std::find(fFiltered.begin(), fFiltered.end(), inError) != fFiltered.end();
}

bool VErrorContext::DebugDisplay(VString& outText) const
{
    outText.Clear();
    std::u16string all;
    for (VErrorBase* error : fErrors)
    {
        VString dump;
        error->DumpToString(dump);
        all.append(reinterpret_cast<const char16_t*>(dump.GetCPointer()),
                   static_cast<size_t>(dump.GetLength()));
    }
    outText.FromUniCString(reinterpret_cast<const UniChar*>(all.data()), static_cast<int32_t>(all.size()));
    return !fErrors.empty();
}

void VErrorContext::SendErrorsToLogger() const
{
    IProcessServices* process = IProcessServices::Get();
    ILogger* logger = process == nullptr ? nullptr : process->GetLogger();
    if (logger == nullptr)
    {
        return;
    }
    // Errors raised while logging are dropped silently.
    StErrorContextInstaller silent(false, true);
    for (VErrorBase* error : fErrors)
    {
        logger->LogErrorIfNecessary(error);
    }
}

void VErrorContext::SaveToJSONArray(VJSONValue& outValue) const
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (json == nullptr)
    {
        return;
    }
    if (fErrors.empty())
    {
        detail::SetJSONUndefined(outValue);
        return;
    }
    std::vector<VJSONObject*> objects;
    objects.reserve(fErrors.size());
    for (VErrorBase* error : fErrors)
    {
        objects.push_back(error->CreateJSONObject());
    }
    detail::SetJSONObjectArray(outValue, objects.data(), objects.size());
    for (VJSONObject* object : objects)
    {
        json->fRelease(object);
    }
}

// VErrorTaskContext

VErrorTaskContext::VErrorTaskContext() : fSpare(new VErrorContext()) {}

VErrorTaskContext::~VErrorTaskContext()
{
    for (VErrorContext* context : fStack)
    {
        context->Release();
    }
    if (fSpare != nullptr)
    {
        fSpare->Release();
    }
}

VErrorContext* VErrorTaskContext::PushNewContext(bool inKeepingErrors, bool inSilent)
{
    VErrorContext* context = fSpare != nullptr ? fSpare : new VErrorContext();
    fSpare = nullptr;
    context->SetKeepingErrors(inKeepingErrors);
    context->SetSilent(inSilent);
    context->SetFailedForMemory(false);
    fStack.push_back(context);
    return context;
}

void VErrorTaskContext::PopContext()
{
    if (fStack.empty())
    {
        return;
    }
    VErrorContext* top = fStack.back();
    if (top->IsEmpty() || !top->IsKeepingErrors())
    {
        fStack.pop_back();
        top->Release();
        return;
    }
    if (fStack.size() > 1)
    {
        fStack.pop_back();
        VErrorContext* below = fStack.back();
        if (top->IsSilent() && !below->IsSilent())
        {
            top->SendErrorsToLogger();
        }
        below->PushErrors(top);
        top->Release();
        return;
    }
    // The outermost context stays on the task as a copy, so that its last errors remain readable
    // (the exit status is read from them).
    VErrorContext* copy = new VErrorContext(*top);
    fStack.back() = copy;
    if (top->IsSilent())
    {
        copy->SendErrorsToLogger();
    }
    top->Release();
}

void VErrorTaskContext::RecycleContext(VErrorContext* inContext)
{
    if (inContext == nullptr)
    {
        return;
    }
    if (fSpare == nullptr && inContext->IsEmpty() && !inContext->HasFilteredErrors() &&
        inContext->GetRefCount() == 1)
    {
        fSpare = inContext;
        return;
    }
    inContext->Release();
}

bool VErrorTaskContext::PushError(VErrorBase* inError, bool* outFiltered)
{
    if (outFiltered != nullptr)
    {
        *outFiltered = false;
    }
    if (inError == nullptr)
    {
        return false;
    }
    if (fStack.empty())
    {
        PushNewContext(true, false);
    }
    VErrorContext* top = fStack.back();
    if (!top->PushError(inError))
    {
        return false;
    }
    bool filtered = false;
    for (auto context = fStack.rbegin(); context != fStack.rend(); ++context)
    {
        if ((*context)->IsSilent())
        {
            filtered = true;
            break;
        }
        if ((*context)->IsErrorFiltered(inError->GetError()))
        {
            // An expected error: the scope that was waiting for it drops what it collected.
            top->SetSilent(true);
            top->SetKeepingErrors(false);
            filtered = true;
            break;
        }
    }
    if (outFiltered != nullptr)
    {
        *outFiltered = filtered;
    }
    return true;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* inContext)
{
    for (VErrorBase* error : inContext->GetErrorList())
    {
        PushError(error, nullptr);
    }
}

void VErrorTaskContext::InsertFrontErrors(const std::vector<VErrorBase*>& inErrors)
{
    if (fStack.empty())
    {
        PushNewContext(true, false);
    }
    VErrorContext* outermost = fStack.front();
    VErrorContext merged;
    for (VErrorBase* error : inErrors)
    {
        merged.PushError(error);
    }
    bool failedForMemory = outermost->IsFailedForMemory() || merged.IsFailedForMemory();
    merged.PushErrors(outermost);
    outermost->Flush();
    outermost->PushErrors(&merged);
    outermost->SetFailedForMemory(failedForMemory);
}

void VErrorTaskContext::MergeAndFlushLastContext(bool inSilent)
{
    if (fStack.empty() || fStack.back()->IsEmpty())
    {
        return;
    }
    VErrorContext* top = fStack.back();
    if (top->IsKeepingErrors())
    {
        if (inSilent)
        {
            top->SendErrorsToLogger();
        }
        if (fStack.size() == 1)
        {
            fStack.insert(fStack.begin(), new VErrorContext(*top));
        }
        else
        {
            fStack[fStack.size() - 2]->PushErrors(top);
        }
    }
    top->Flush();
    top->SetSilent(inSilent);
}

void VErrorTaskContext::GetErrors(VErrorContext& ioContext) const
{
    for (VErrorContext* context : fStack)
    {
        for (VErrorBase* error : context->GetErrorList())
        {
            ioContext.PushError(error);
        }
    }
}

VErrorBase* VErrorTaskContext::GetFirst() const
{
    for (VErrorContext* context : fStack)
    {
        if (!context->IsEmpty())
        {
            return context->GetFirst();
        }
    }
    return nullptr;
}

VErrorBase* VErrorTaskContext::GetLast() const
{
    for (auto context = fStack.rbegin(); context != fStack.rend(); ++context)
    {
        if (!(*context)->IsEmpty())
        {
            return (*context)->GetLast();
        }
    }
    return nullptr;
}

VError VErrorTaskContext::GetLastError() const
{
    return fStack.empty() ? VE_OK : fStack.back()->GetLastError();
}

VErrorBase* VErrorTaskContext::Find(VError inError) const
{
    for (VErrorContext* context : fStack)
    {
        if (VErrorBase* found = context->Find(inError))
        {
            return found;
        }
    }
    return nullptr;
}

bool VErrorTaskContext::IsErrorFiltered(VError inError) const
{
    return std::any_of(fStack.begin(), fStack.end(),
                       [inError](VErrorContext* c) { return c->IsErrorFiltered(inError); });
}

bool VErrorTaskContext::FailedForMemory() const
{
    return !fStack.empty() && fStack.back()->IsFailedForMemory();
}

void VErrorTaskContext::Flush()
{
    if (!fStack.empty())
    {
        fStack.back()->Flush();
    }
}

// StErrorContextInstaller

StErrorContextInstaller::StErrorContextInstaller(bool inKeepingErrors, bool inSilent)
{
    _Init(inKeepingErrors, inSilent);
}

StErrorContextInstaller::StErrorContextInstaller(std::initializer_list<VError> inFilteredErrors)
{
    _Init(true, false);
    if (fContext == nullptr)
    {
        return;
    }
    bool first = true;
    for (VError error : inFilteredErrors)
    {
        // The first code is always taken; the list ends at the first 0 after it.
        if (!first && error == VE_OK)
        {
            break;
        }
        fContext->AddFilteredError(error);
        first = false;
    }
}

void StErrorContextInstaller::_Init(bool inKeepingErrors, bool inSilent)
{
    fSilent = inSilent;
    VTask* task = VTask::GetCurrent();
    fTaskContext = task == nullptr ? nullptr : task->GetErrorContext(true);
    if (fTaskContext != nullptr)
    {
        fContext = fTaskContext->PushNewContext(inKeepingErrors, inSilent);
        fContext->Retain();
    }
    else
    {
        fContext = new VErrorContext();
        fContext->SetKeepingErrors(inKeepingErrors);
        fContext->SetSilent(inSilent);
    }
}

StErrorContextInstaller::~StErrorContextInstaller()
{
    if (fTaskContext != nullptr)
    {
        fTaskContext->PopContext();
        fTaskContext->RecycleContext(fContext);
    }
    else if (fContext != nullptr)
    {
        fContext->Release();
    }
}

} // namespace zorn
