// Error contexts: each task collects raised errors in a stack of contexts. A caller that wants to
// know whether a sequence of calls failed opens a scope (StErrorContextInstaller), calls, and reads
// the scope's context; when the scope closes its errors pass to the enclosing context (keep) or
// are dropped. A scope may name codes it expects: such an error makes it silent and drops its
// errors. Errors leaving a silent context for a non-silent one go to the process logger.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

#include <initializer_list>
#include <vector>

namespace zorn
{

class VErrorBase;
class VJSONValue;
class VString;
class VValueBag;

class VErrorContext : public VObject, public IRefCountable
{
public:
    VErrorContext() = default;
    // Copies the errors (retained) and the failed-for-memory flag; nothing filtered, not silent,
    // keeping.
    VErrorContext(const VErrorContext& inOther);
    VErrorContext& operator=(const VErrorContext&) = delete;
    ~VErrorContext() override;

    // Appends the error (retained); 'zorn' 100 sets the failed-for-memory flag. False for null.
    bool PushError(VErrorBase* inError);
    // Appends the other's errors and takes its failed-for-memory flag, which it returns.
    bool PushErrors(const VErrorContext* inOther);
    void Flush();

    bool IsEmpty() const { return fErrors.empty(); }
    const std::vector<VErrorBase*>& GetErrorList() const { return fErrors; }
    VErrorBase* GetFirst() const { return fErrors.empty() ? nullptr : fErrors.front(); }
    VErrorBase* GetLast() const { return fErrors.empty() ? nullptr : fErrors.back(); }
    VError GetLastError() const;
    // The oldest error with exactly that code, or null.
    VErrorBase* Find(VError inError) const;
    // Whether any error has one of the codes; a list starting with 0 gives false.
    bool FindAny(std::initializer_list<VError> inErrors) const;

    void AddFilteredError(VError inError) { fFiltered.push_back(inError); }
    bool IsErrorFiltered(VError inError) const;
    bool HasFilteredErrors() const { return !fFiltered.empty(); }

    bool IsFailedForMemory() const { return fFailedForMemory; }
    void SetFailedForMemory(bool inSet) { fFailedForMemory = inSet; }
    bool IsSilent() const { return fSilent; }
    void SetSilent(bool inSet) { fSilent = inSet; }
    bool IsKeepingErrors() const { return fKeep; }
    void SetKeepingErrors(bool inSet) { fKeep = inSet; }

    // Each error's dump, in order; whether there were errors.
    bool DebugDisplay(VString& outText) const;
    // Hands every error, oldest first, to the process logger inside a silent scope of its own.
    void SendErrorsToLogger() const;
    // Undefined when the context holds no errors; otherwise an array of each error's
    // CreateJSONObject, oldest first. Nothing while the JSON layer has not started.
    void SaveToJSONArray(VJSONValue& outValue) const;
    // Bag form (VErrorContext_Bag.cpp): one element "error" per error, oldest first, each the
    // error's own SaveToBag form; returns 0.
    VError SaveToBag(VValueBag& ioBag) const;
    // Appends an error read from each "error" element, oldest first; an element that does not
    // read (see VErrorBase::LoadFromBag; a missing "error_code" too) pushes its error on the
    // task and is skipped. Returns the first such error, or 0.
    VError LoadFromBag(const VValueBag& inBag);

private:
    std::vector<VErrorBase*> fErrors; // retained, oldest first
    std::vector<VError> fFiltered;
    bool fFailedForMemory = false;
    bool fSilent = false;
    bool fKeep = true;
};

// The stack of a task's error contexts, outermost first.
class VErrorTaskContext : public VObject, public IRefCountable
{
public:
    VErrorTaskContext();
    ~VErrorTaskContext() override;
    VErrorTaskContext(const VErrorTaskContext&) = delete;
    VErrorTaskContext& operator=(const VErrorTaskContext&) = delete;

    // Appends a context (the spare one when there is one) with the flags; the stack holds a
    // reference, and the returned pointer is valid while it is on the stack.
    VErrorContext* PushNewContext(bool inKeepingErrors, bool inSilent);
    void PopContext();
    // Keeps an empty, unshared context as the spare; releases it otherwise.
    void RecycleContext(VErrorContext* inContext);

    // Pushes on the top context (creating one when the stack is empty). outFiltered tells whether
    // a silent context or a context expecting the code was met, searching from the top.
    bool PushError(VErrorBase* inError, bool* outFiltered);
    void PushErrorsFromContext(const VErrorContext* inContext);
    // Inserts the errors, in order, before every error of the outermost context.
    void InsertFrontErrors(const std::vector<VErrorBase*>& inErrors);
    void MergeAndFlushLastContext(bool inSilent);
    // Appends every error of every context, outermost first, to ioContext.
    void GetErrors(VErrorContext& ioContext) const;
    // Pushes (PushError) an error read from each "error" element of a saved context's bag, oldest
    // first, stopping at the first element that does not read; returns its error, or 0.
    VError PushErrorsFromBag(const VValueBag& inBag);
    // Adds an element "__ERROR" per error, in the order of GetErrors, with "message" (the
    // description), "componentSignature" (the four letters) and "errCode" (the number, a VLong).
    void BuildErrorStack(VValueBag& ioBag) const;

    VErrorBase* GetFirst() const;
    VErrorBase* GetLast() const;
    VError GetLastError() const;
    VErrorBase* Find(VError inError) const;
    bool IsErrorFiltered(VError inError) const;
    bool FailedForMemory() const;
    VErrorContext* GetTop() const { return fStack.empty() ? nullptr : fStack.back(); }
    size_t GetDepth() const { return fStack.size(); }
    void Flush();

private:
    VErrorContext* fSpare = nullptr;
    std::vector<VErrorContext*> fStack; // retained, outermost first
};

// Opens an error scope on the current task for the guard's lifetime. Without a task it works on a
// free-standing context (errors raised meanwhile are dropped by the task layer).
class StErrorContextInstaller
{
public:
    explicit StErrorContextInstaller(bool inKeepingErrors = true, bool inSilent = false);
    // A keeping, non-silent scope that expects these codes (a 0 ends the list).
    StErrorContextInstaller(std::initializer_list<VError> inFilteredErrors);
    ~StErrorContextInstaller();
    StErrorContextInstaller(const StErrorContextInstaller&) = delete;
    StErrorContextInstaller& operator=(const StErrorContextInstaller&) = delete;

    VErrorContext* GetContext() const { return fContext; }
    VError GetLastError() const { return fContext == nullptr ? VE_OK : fContext->GetLastError(); }
    VErrorBase* Find(VError inError) const { return fContext == nullptr ? nullptr : fContext->Find(inError); }
    void Flush()
    {
        if (fContext != nullptr)
        {
            fContext->Flush();
        }
    }

private:
    void _Init(bool inKeepingErrors, bool inSilent);

    VErrorTaskContext* fTaskContext = nullptr;
    VErrorContext* fContext = nullptr; // one reference
    bool fSilent = false;
};

} // namespace zorn
