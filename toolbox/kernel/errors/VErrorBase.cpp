#include "toolbox/kernel/errors/VErrorBase.h"

#include "toolbox/kernel/errors/ILocalizer.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace zorn
{

namespace
{

// The four letters of a signature, first letter from the high byte (whatever the machine's
// byte order).
std::string SignatureLetters(OsType inSignature)
{
    return {static_cast<char>(inSignature >> 24), static_cast<char>((inSignature >> 16) & 0xFF),
            static_cast<char>((inSignature >> 8) & 0xFF), static_cast<char>(inSignature & 0xFF)};
}

VString SignatureString(OsType inSignature)
{
    return VString(SignatureLetters(inSignature).c_str());
}

std::u16string ToU16(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

void Assign(VString& outText, const std::u16string& inText)
{
    outText.FromUniCString(reinterpret_cast<const UniChar*>(inText.data()),
                           static_cast<int32_t>(inText.size()));
}

std::u16string AsciiToU16(const char* inText)
{
    return std::u16string(inText, inText + std::strlen(inText));
}

struct LocalizerRegistry
{
    std::mutex fMutex;
    std::map<OsType, ILocalizer*> fLocalizers;
};

LocalizerRegistry& Localizers()
{
    static LocalizerRegistry sRegistry;
    return sRegistry;
}

ILocalizer* ProcessLocalizer()
{
    IProcessServices* process = IProcessServices::Get();
    return process == nullptr ? nullptr : process->GetLocalizer();
}

// Native codes with a toolbox equivalent. Searched from the start; the end row's value is what a
// miss gives.
struct NativeMapping
{
    VError fNative;
    VError fToolbox;
};
constexpr VError Carbon(int32_t inStatus)
{
    return MakeVError(kNATIVE_CARBON, inStatus);
}
constexpr NativeMapping kNativeMappings[] = {
    {0, 0},
    {Carbon(-108), VE_MEMORY_FULL},              // memFullErr
    {Carbon(-39), VE_STREAM_EOF},                // eofErr
    {Carbon(-34), VE_DISK_FULL},                 // dskFulErr
    {Carbon(-43), VE_FILE_NOT_FOUND},            // fnfErr
    {Carbon(-120), VE_FOLDER_NOT_FOUND},         // dirNFErr
    {Carbon(-45), VE_ACCESS_DENIED},             // fLckdErr
    {Carbon(-46), VE_ACCESS_DENIED},             // vLckdErr
    {Carbon(-192), VE_RES_NOT_FOUND},            // resNotFound
    {Carbon(-37), VE_FILE_BAD_NAME},             // bdNamErr
    {Carbon(-54), VE_ACCESS_DENIED},             // permErr
    {Carbon(-128), VE_USER_ABORT},               // userCanceledErr
    {MakeVErrorFromErrno(2), VE_FILE_NOT_FOUND}, // ENOENT
    {MakeVErrorFromErrno(13), VE_ACCESS_DENIED}, // EACCES
    {0, VE_UNKNOWN_ERROR},
};

VError LookUpNative(VError inNative, VError inFallback)
{
    // The first row maps 0 to 0; the search proper starts after it and ends at the 0 key.
    if (inNative == 0)
    {
        return 0;
    }
    for (size_t i = 1; kNativeMappings[i].fNative != 0; ++i)
    {
        if (kNativeMappings[i].fNative == inNative)
        {
            return kNativeMappings[i].fToolbox;
        }
    }
    return inFallback;
}

} // namespace

// Construction

VErrorBase::VErrorBase()
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects())
    {
        fParameters = json->fCreate();
    }
}

VErrorBase::VErrorBase(VError inError) : VErrorBase()
{
    fError = inError;
    _RecordCurrentTask();
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects();
        json != nullptr && fParameters != nullptr)
    {
        json->fSetString(fParameters, CVSTR("componentSignature"),
                         SignatureString(ComponentOfVError(inError)));
        json->fSetNumber(fParameters, CVSTR("errCode"), NumberOfVError(inError));
    }
}

VErrorBase::VErrorBase(VError inError, VJSONObject* inParameters) : fError(inError)
{
    _RecordCurrentTask();
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (json != nullptr && inParameters != nullptr)
    {
        json->fRetain(inParameters);
        fParameters = inParameters;
    }
}

VErrorBase::VErrorBase(const VErrorBase& inOther)
    : VObject(inOther), IRefCountable(inOther), fError(inOther.fError), fTaskID(inOther.fTaskID),
      fTaskName(inOther.fTaskName)
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects())
    {
        fParameters = inOther.fParameters != nullptr ? json->fCloneDeep(inOther.fParameters) : nullptr;
        if (fParameters == nullptr)
        {
            fParameters = json->fCreate();
        }
    }
}

VErrorBase::~VErrorBase()
{
    if (fParameters != nullptr)
    {
        if (const detail::VJSONObjectAccess* json = detail::JSONObjects())
        {
            json->fRelease(fParameters);
        }
    }
}

void VErrorBase::_RecordCurrentTask()
{
    fTaskID = 0;
    fTaskName.Clear();
    if (VTask* task = VTask::GetCurrent())
    {
        fTaskID = task->GetID();
        task->GetName(fTaskName);
    }
}

VErrorBase* VErrorBase::Create(VJSONObject* inParameters, OsType inDefaultComponent)
{
    OsType component = inDefaultComponent;
    int32_t number = -1;
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (json != nullptr && inParameters != nullptr)
    {
        VString signature;
        if (json->fGetString(inParameters, CVSTR("componentSignature"), signature))
        {
            component = 0;
            for (int32_t i = 0; i < 4; ++i)
            {
                component = (component << 8) | (signature.GetUniChar(i + 1) & 0xFF);
            }
        }
        else
        {
            json->fSetString(inParameters, CVSTR("componentSignature"), SignatureString(component));
        }
        double code = 0;
        if (json->fGetNumber(inParameters, CVSTR("errCode"), code))
        {
            // Truncated toward zero to 32 bits; NaN and out-of-range values give 0 and the bound.
            number = code != code ? 0
                                  : static_cast<int32_t>(std::clamp(code, static_cast<double>(INT32_MIN),
                                                                    static_cast<double>(INT32_MAX)));
        }
        else
        {
            json->fSetNumber(inParameters, CVSTR("errCode"), number);
        }
    }
    VError error = MakeVError(component, number);
    if (component == 0 && number == 0)
    {
        error = VE_UNKNOWN_ERROR;
    }
    return new VErrorBase(error, inParameters);
}

// Parameters

void VErrorBase::_SetParameterString(const char16_t* inName, const VString& inValue)
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects();
        json != nullptr && fParameters != nullptr)
    {
        json->fSetString(fParameters, CVSTR_struct(inName), inValue);
    }
}

bool VErrorBase::_GetParameterString(const char16_t* inName, VString& outValue) const
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    return json != nullptr && fParameters != nullptr &&
           json->fGetString(fParameters, CVSTR_struct(inName), outValue);
}

void VErrorBase::SetString(const VString& inName, const VString& inValue)
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects();
        json != nullptr && fParameters != nullptr)
    {
        json->fSetString(fParameters, inName, inValue);
    }
}

void VErrorBase::SetLong(const VString& inName, int32_t inValue)
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects();
        json != nullptr && fParameters != nullptr)
    {
        json->fSetNumber(fParameters, inName, inValue);
    }
}

void VErrorBase::SetLong8(const VString& inName, int64_t inValue)
{
    if (const detail::VJSONObjectAccess* json = detail::JSONObjects();
        json != nullptr && fParameters != nullptr)
    {
        json->fSetNumber(fParameters, inName, static_cast<double>(inValue));
    }
}

void VErrorBase::SetDescription(const VString& inText)
{
    _SetParameterString(u"message", inText);
}

void VErrorBase::FreezeDescription()
{
    VString message;
    if (!_GetParameterString(u"message", message))
    {
        GetErrorDescription(message);
        SetDescription(message);
    }
}

// Text

void VErrorBase::GetErrorString(VString& outText) const
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "Error code: %d (%.4s)", NumberOfVError(fError),
                  SignatureLetters(ComponentOfVError(fError)).c_str());
    outText = VString(buffer);
}

void VErrorBase::GetErrorDescription(VString& outText) const
{
    if (_GetParameterString(u"message", outText))
    {
        return;
    }
    outText.Clear();
    if (fError != VE_OK)
    {
        ILocalizer* localizer = GetLocalizer(ComponentOfVError(fError));
        if (localizer == nullptr)
        {
            localizer = ProcessLocalizer();
        }
        if (localizer != nullptr && localizer->LocalizeErrorMessage(fError, outText))
        {
            outText.Format(fParameters, true);
            if (!outText.IsEmpty())
            {
                return;
            }
        }
        outText.Clear();
        if (ComponentOfVError(fError) == kNATIVE_POSIX)
        {
            outText = VString(XLinuxSystem::GetErrnoText(NumberOfVError(fError)).c_str());
        }
    }
    if (outText.IsEmpty())
    {
        GetErrorString(outText);
    }
}

void VErrorBase::GetActionDescription(VString& outText) const
{
    if (!_GetParameterString(u"action_description", outText))
    {
        outText.Clear();
        return;
    }
    outText.Format(fParameters, true);
}

void VErrorBase::GetLocation(VString& outText) const
{
    OsType component = ComponentOfVError(fError);
    if (component == kCOMPONENT_ZORN)
    {
        outText = VString("nimbuskit");
        return;
    }
    outText = VString(("component: '" + SignatureLetters(component) + "'").c_str());
}

void VErrorBase::GetTaskName(VString& outName, int32_t* outTaskID) const
{
    outName = fTaskName;
    if (outTaskID != nullptr)
    {
        *outTaskID = fTaskID;
    }
}

void VErrorBase::DumpToString(VString& outText) const
{
    std::u16string dump;
    VString part;
    GetErrorString(part);
    dump += ToU16(part) + u"\n";
    GetErrorDescription(part);
    if (!part.IsEmpty())
    {
        dump += ToU16(part) + u"\n";
    }
    GetLocation(part);
    if (!part.IsEmpty())
    {
        dump += ToU16(part) + u"\n";
    }
    GetActionDescription(part);
    if (!part.IsEmpty())
    {
        dump += ToU16(part) + u"\n";
    }
    dump += AsciiToU16(("task " + std::to_string(fTaskID)).c_str());
    if (!fTaskName.IsEmpty())
    {
        dump += u", name: '" + ToU16(fTaskName) + u"'";
    }
    dump += u"\n";
    Assign(outText, dump);
}

void VErrorBase::GetStackCrawl(VString& outText) const
{
    fStackCrawl.Dump(outText);
}

void VErrorBase::GetStackCrawlNames(VString& outText) const
{
    fStackCrawl.DumpNames(outText);
}

VJSONObject* VErrorBase::CreateJSONObject() const
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (json == nullptr)
    {
        return nullptr;
    }
    VJSONObject* object = json->fCreate();
    json->fSetNumber(object, CVSTR("errCode"), NumberOfVError(fError));
    json->fSetString(object, CVSTR("componentSignature"), SignatureString(ComponentOfVError(fError)));
    VString message;
    GetErrorDescription(message);
    json->fSetString(object, CVSTR("message"), message);
    if (fParameters != nullptr)
    {
        json->fCopyProperty(fParameters, object, CVSTR("extraDescription"));
        json->fCopyProperty(fParameters, object, CVSTR("seriousError"));
    }
    return object;
}

CharSet VErrorBase::DebugDump(char* ioBuffer, int& ioSize) const
{
    if (IProcessServices::Get() != nullptr)
    {
        VString dump;
        DumpToString(dump);
        int32_t units = std::min(dump.GetLength(), std::max(ioSize, 0) / 2);
        std::memcpy(ioBuffer, dump.GetCPointer(), static_cast<size_t>(units) * sizeof(UniChar));
        ioSize = units * static_cast<int>(sizeof(UniChar));
        return CharSet::VTC_UTF_16;
    }
    int written = std::snprintf(ioBuffer, static_cast<size_t>(std::max(ioSize, 0)),
                                "Error code: %" PRId64 ", component: '%.4s', task ID: %d",
                                static_cast<int64_t>(NumberOfVError(fError)),
                                SignatureLetters(ComponentOfVError(fError)).c_str(), fTaskID);
    ioSize = std::clamp(written, 0, std::max(ioSize - 1, 0));
    return CharSet::VTC_UTF_8;
}

void VErrorImported::GetLocation(VString& outText) const
{
    outText = VString("REST Imported Error");
}

// Localizers

void VErrorBase::RegisterLocalizer(OsType inComponent, ILocalizer* inLocalizer)
{
    LocalizerRegistry& registry = Localizers();
    std::lock_guard lock(registry.fMutex);
    registry.fLocalizers[inComponent] = inLocalizer;
}

void VErrorBase::UnregisterLocalizer(OsType inComponent)
{
    LocalizerRegistry& registry = Localizers();
    std::lock_guard lock(registry.fMutex);
    registry.fLocalizers.erase(inComponent);
}

ILocalizer* VErrorBase::GetLocalizer(OsType inComponent)
{
    LocalizerRegistry& registry = Localizers();
    std::lock_guard lock(registry.fMutex);
    auto found = registry.fLocalizers.find(inComponent);
    return found == registry.fLocalizers.end() ? nullptr : found->second;
}

bool VErrorBase::CallLocalizer(ILocalizer* inLocalizer, VError inError, VString& outText,
                               const VJSONObject* inParameters)
{
    if (inError == VE_OK)
    {
        return true;
    }
    ILocalizer* localizer = inLocalizer != nullptr ? inLocalizer : ProcessLocalizer();
    if (localizer == nullptr || !localizer->LocalizeErrorMessage(inError, outText))
    {
        outText.Clear();
        return false;
    }
    outText.Format(inParameters, true);
    return true;
}

// Native codes

VError EncodedNativeErrorToVError(VError inNativeError, VError inFallback)
{
    OsType component = ComponentOfVError(inNativeError);
    if (component == kNATIVE_CARBON || component == kNATIVE_POSIX)
    {
        return LookUpNative(inNativeError, inFallback);
    }
    if ((component == kNATIVE_MACH || component == kNATIVE_COCOA) && NumberOfVError(inNativeError) != 0)
    {
        return inFallback;
    }
    return inNativeError == VE_UNKNOWN_ERROR ? inFallback : inNativeError;
}

VError MAC_MapCarbonErrorToVError(int32_t inStatus)
{
    if (inStatus == 0)
    {
        return VE_OK;
    }
    VError native = MakeVError(kNATIVE_CARBON, inStatus);
    return LookUpNative(native, native);
}

// Raising

namespace
{
// Pushes the error, whose reference the caller hands over, on the current task; without a task
// it is dropped.
void PushOnCurrentTask(VErrorBase* inError)
{
    if (VTask* task = VTask::GetCurrent())
    {
        task->PushRetainedError(inError);
    }
    else
    {
        inError->Release();
    }
}
} // namespace

VError _ThrowError(VError inError, const VString* inP1, const VString* inP2, const VString* inP3)
{
    if (IProcessServices::Get() == nullptr)
    {
        return inError;
    }
    VErrorBase* error = new VErrorBase(inError);
    const char16_t* names[] = {u"p1", u"p2", u"p3"};
    const VString* values[] = {inP1, inP2, inP3};
    for (int i = 0; i < 3; ++i)
    {
        if (values[i] != nullptr)
        {
            error->SetString(CVSTR_struct(names[i]), *values[i]);
        }
    }
    PushOnCurrentTask(error);
    return inError;
}

void _PushRetainedError(VErrorBase* inError, VError inAccompanying)
{
    if (inError == nullptr)
    {
        return;
    }
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
    {
        inError->Release(); // without a task the error is dropped
        return;
    }
    VErrorTaskContext* context = task->GetErrorContext(false);
    if (inAccompanying != VE_OK && (context == nullptr || !context->IsErrorFiltered(inError->GetError())))
    {
        task->PushRetainedError(new VErrorBase(inAccompanying));
    }
    task->PushRetainedError(inError);
}

VError vThrowUserGeneratedError(VError inError, const VString& inText)
{
    VErrorUserGenerated* error = new VErrorUserGenerated(inError, inText);
    PushOnCurrentTask(error);
    return inError;
}

} // namespace zorn
