// VErrorBase: a reference-counted error object: the 64-bit code, the task that raised it and
// named parameters (a JSON object: "p1".."p3" of _ThrowError, "message" once the description is
// fixed, "action_description", and any the raiser adds). Errors are pushed on the current task's
// error contexts, never thrown as exceptions.
//
// Descriptions come, in order, from the "message" parameter, the localizer registered for the
// error's component (or the process localizer) with {name} placeholders filled from the
// parameters (VString::Format: absent ones removed, "{{name}}" and names with a space kept), the
// native text of 'POSX' (strerror) codes, and last the error string "Error code: %d (%.4s)"; so a
// description is never empty.
//
// Parameters live in a JSON object that the JSON layer provides. Until that layer has started,
// errors carry no parameters and every reader treats them as empty.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/linux/XLinuxStackCrawl.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

class ILocalizer;
class VJSONObject;
class VValueBag;

// A saved error's bag that cannot be read back: "error_code" or "task_id" that is no integer of
// its size, "task_name" that is no string, "parameters" that is no object, or an "error" element
// without a code. The parameter "p1" names the attribute or element.
constexpr VError VE_ERROR_BAG_INVALID = MakeVError(kCOMPONENT_ZORN, 227);

class VErrorBase : public VObject, public IRefCountable
{
public:
    // Code 0, no task, empty parameters.
    VErrorBase();
    // Records the current task and sets "componentSignature" and "errCode".
    explicit VErrorBase(VError inError);
    // Retains inParameters (may be null) as the parameters, adding nothing to them.
    VErrorBase(VError inError, VJSONObject* inParameters);
    // Copies code and task; the parameters are a deep clone.
    VErrorBase(const VErrorBase& inOther);
    VErrorBase& operator=(const VErrorBase&) = delete;
    ~VErrorBase() override;

    // An error built from a parameters object: the component is "componentSignature" when that is
    // a string, else inDefaultComponent (written back); the number is "errCode" when it is a
    // number, else -1 (written back). Both 0 gives 'zorn' 1.
    static VErrorBase* Create(VJSONObject* inParameters, OsType inDefaultComponent);

    VError GetError() const { return fError; }
    int32_t GetTaskID() const { return fTaskID; }
    VJSONObject* GetParameters() const { return fParameters; }

    void SetString(const VString& inName, const VString& inValue);
    void SetLong(const VString& inName, int32_t inValue);
    void SetLong8(const VString& inName, int64_t inValue);
    void SetDescription(const VString& inText);
    // Stores the current description as "message" so that it no longer depends on a localizer.
    void FreezeDescription();

    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;
    using VObject::DebugDump;
    // "Error code: %d (%.4s)": the number and the component's four letters.
    virtual void GetErrorString(VString& outText) const;
    virtual void GetErrorDescription(VString& outText) const;
    virtual void GetActionDescription(VString& outText) const;
    virtual void GetLocation(VString& outText) const;
    virtual void GetTaskName(VString& outName, int32_t* outTaskID) const;
    virtual void DumpToString(VString& outText) const;
    // The dump of the stack crawl the error carries (see XLinuxStackCrawl::Dump); empty, as
    // nothing captures one when errors are raised.
    void GetStackCrawl(VString& outText) const;
    // The captured stack as names only, one line per frame (the form log records condense).
    void GetStackCrawlNames(VString& outText) const;
    // A new JSON object (the caller's reference) with "errCode", "componentSignature", "message"
    // (the description), and "extraDescription" and "seriousError" when the parameters hold them.
    // Null while the JSON layer has not started.
    VJSONObject* CreateJSONObject() const;

    // Bag form (VErrorBase_Bag.cpp, with the value bags): "error_code" (VLong8, the whole code),
    // "task_id" (VLong), "task_name" (string), each replaced or appended, then the parameters as
    // the only element "parameters" (as the JSON importer reads an object into a bag, but strings
    // stay strings; nothing is stored when that fails or the JSON layer is absent). Returns 0.
    // Read back, parameters keep what a bag's JSON text carries: numbers keep 14 significant
    // digits, an empty array is lost, a null becomes "", and an array inside an array leaves the
    // whole element out.
    VError SaveToBag(VValueBag& ioBag) const;
    // Reads what SaveToBag wrote; an absent attribute leaves its field, an absent "parameters"
    // the parameters. A bag read from outside may hold anything: a field of the wrong kind or
    // range, or parameters that are no object, push VE_ERROR_BAG_INVALID (or the JSON layer's
    // error) and change nothing.
    VError LoadFromBag(const VValueBag& inBag);

    // Localizers per component (not owned). Registered at start-up, read afterwards.
    static void RegisterLocalizer(OsType inComponent, ILocalizer* inLocalizer);
    static void UnregisterLocalizer(OsType inComponent);
    static ILocalizer* GetLocalizer(OsType inComponent);
    // Asks inLocalizer (or the process localizer when null) for the code's text and fills its
    // placeholders from inParameters. Code 0 is true at once; no text clears outText, false.
    static bool CallLocalizer(ILocalizer* inLocalizer, VError inError, VString& outText,
                              const VJSONObject* inParameters = nullptr);

protected:
    void _SetParameterString(const char16_t* inName, const VString& inValue);
    bool _GetParameterString(const char16_t* inName, VString& outValue) const;

private:
    void _RecordCurrentTask();

    VError fError = VE_OK;
    int32_t fTaskID = 0;
    VString fTaskName;
    VJSONObject* fParameters = nullptr; // one reference
    XLinuxStackCrawl fStackCrawl;       // empty unless filled; not copied
};

// An error read back from another process; its text is the description.
class VErrorImported : public VErrorBase
{
public:
    VErrorImported(VError inError, const VString& inText) : VErrorBase(inError), fText(inText) {}
    void GetErrorDescription(VString& outText) const override { outText = fText; }
    void GetLocation(VString& outText) const override;
    void DumpToString(VString& outText) const override { outText = fText; }

private:
    VString fText;
};

// An error whose description the raiser wrote.
class VErrorUserGenerated : public VErrorBase
{
public:
    VErrorUserGenerated(VError inError, const VString& inText) : VErrorBase(inError), fText(inText) {}
    void GetErrorDescription(VString& outText) const override { outText = fText; }
    void DumpToString(VString& outText) const override { outText = fText; }

private:
    VString fText;
};

// Pushes an error whose reference the caller hands over. A non-zero inAccompanying code is pushed
// first as an error of its own, unless the current context filters the error's code.
void _PushRetainedError(VErrorBase* inError, VError inAccompanying = VE_OK);
// Pushes a VErrorUserGenerated with the code and text; returns the code.
VError vThrowUserGeneratedError(VError inError, const VString& inText);

// Holds an error (reference handed over) and pushes it when the scope ends.
class StThrowError
{
public:
    explicit StThrowError(VErrorBase* inError, VError inAccompanying = VE_OK)
        : fError(inError), fAccompanying(inAccompanying)
    {
    }
    ~StThrowError() { _PushRetainedError(fError, fAccompanying); }
    StThrowError(const StThrowError&) = delete;
    StThrowError& operator=(const StThrowError&) = delete;

private:
    VErrorBase* fError;
    VError fAccompanying;
};

} // namespace zorn
