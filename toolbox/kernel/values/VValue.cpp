#include "toolbox/kernel/values/VValue.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VUUID.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace zorn
{

namespace
{

// The kind registry. Built on first registration; infos are not owned. Registration normally
// happens while statics are built, but a lock keeps late registrations (tests, plug-ins) safe.
struct Registry
{
    std::mutex fMutex;
    std::map<ValueKind, const VValueInfo*> fInfos;
};

Registry& GetRegistry()
{
    static Registry sRegistry;
    return sRegistry;
}

// The descriptor of values that name no kind of their own.
class VValueInfo_undefined : public VValueInfo
{
public:
    VValueInfo_undefined() : VValueInfo(VK_UNDEFINED) {}
    VValue* Generate() const override { return nullptr; }
    VValue* Generate(VBlob*) const override { return nullptr; }
    VValue* LoadFromPtr(const void*, bool) const override { return nullptr; }
    void* ByteSwapPtr(void* inData, bool) const override { return inData; }
};

// Kinds that the kernel itself defines are registered before the first look-up, whatever the
// order in which the program's static objects were built.
void EnsureKernelKinds()
{
    static const bool sDone = []
    {
        (void)VString::Info();
        (void)VEmpty::Info();
        (void)VBoolean::Info();
        (void)VByte::Info();
        (void)VWord::Info();
        (void)VLong::Info();
        (void)VLong8::Info();
        (void)VReal::Info();
        (void)VBlob::Info();
        (void)VUUID::Info();
        (void)VDuration::Info();
        (void)VTime::Info();
        InitArrayValueInfos();
        return true;
    }();
    (void)sDone;
}

} // namespace

void VValue::SetNull(bool inSet)
{
    if (IsNull() != inSet)
    {
        fFlags = static_cast<uint8_t>(inSet ? (fFlags | kNull) : (fFlags & ~kNull));
        DoNullChanged();
    }
    if (!IsDirty())
    {
        fFlags |= kDirty;
        DoDirtyChanged();
    }
}

void VValue::SetDirty(bool inSet)
{
    if (IsDirty() != inSet)
    {
        fFlags = static_cast<uint8_t>(inSet ? (fFlags | kDirty) : (fFlags & ~kDirty));
        DoDirtyChanged();
    }
}

void VValue::RegisterValueInfo(const VValueInfo* inInfo)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.fMutex);
    registry.fInfos[inInfo->GetTrueKind()] = inInfo;
}

void VValue::UnregisterValueInfo(const VValueInfo* inInfo)
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.fMutex);
    auto found = registry.fInfos.find(inInfo->GetTrueKind());
    // Only the entry this info holds: a replacement registered later stays.
    if (found != registry.fInfos.end() && found->second == inInfo)
    {
        registry.fInfos.erase(found);
    }
}

const VValueInfo* VValue::ValueInfoFromValueKind(ValueKind inKind)
{
    EnsureKernelKinds();
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.fMutex);
    auto found = registry.fInfos.find(inKind);
    return found == registry.fInfos.end() ? nullptr : found->second;
}

VValue* VValue::NewValueFromValueKind(ValueKind inKind)
{
    const VValueInfo* info = ValueInfoFromValueKind(inKind);
    return info == nullptr ? nullptr : info->Generate();
}

ValueKind VValue::GetValueKind() const
{
    return GetValueInfo()->GetKind();
}

ValueKind VValue::GetTrueValueKind() const
{
    return GetValueInfo()->GetTrueKind();
}

const VValueInfo* VValue::GetValueInfo() const
{
    static const VValueInfo_undefined sInfo;
    return &sInfo;
}

VError VValue::FromJSONString(const VString&, JSONStringOptions)
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::GetJSONString(VString&, JSONStringOptions) const
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::FromJSONValue(const VJSONValue&)
{
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValue::GetJSONValue(VJSONValue& outJSONValue) const
{
    detail::SetJSONUndefined(outJSONValue);
    return _ThrowError(VE_UNIMPLEMENTED);
}

CompareResult VValue::CompareToSameKindWithOptions(const VValue*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

bool VValue::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    return CompareToSameKindWithOptions(inValue, inOptions) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const
{
    return CR_EQUAL;
}

bool VValue::EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                           const VCompareOptions& inOptions) const
{
    return CompareToSameKindPtrWithOptions(inPtrToValueData, inOptions) == CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                           const VCompareOptions& inOptions) const
{
    return InvertCompResult(CompareToSameKindPtrWithOptions(inPtrToValueData, inOptions));
}

CompareResult VValue::CompareToSameKind(const VValue*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValue::CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical);
}

bool VValue::EqualToSameKind(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical) == CR_EQUAL;
}

bool VValue::FromValueSameKind(const VValue*)
{
    return false;
}

CompareResult VValue::CompareToSameKindPtr(const void*, bool) const
{
    return CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return InvertCompResult(CompareToSameKindPtr(inPtrToValueData, inDiacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return CompareToSameKind(inValue, inDiacritical);
}

CompareResult VValue::CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return CompareBeginingToSameKind(inValue, inDiacritical);
}

bool VValue::EqualToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    return EqualToSameKind(inValue, inDiacritical);
}

CompareResult VValue::CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return Swap_CompareToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                        bool inDiacritical) const
{
    return CompareBeginingToSameKindPtr(inPtrToValueData, inDiacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return IsTheBeginingToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return EqualToSameKindPtr(inPtrToValueData, inDiacritical);
}

bool VValue::Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    return EqualToSameKindPtr(inPtrToValueData, inDiacritical);
}

const void* VValue::LoadFromPtr(const void* inData, bool)
{
    return inData;
}

void* VValue::WriteToPtr(void* ioData, bool, size_t) const
{
    return ioData;
}

size_t VValue::GetSpace(size_t) const
{
    return 0;
}

VError VValue::ReadFromStream(VStream* ioStream, int32_t)
{
    return ioStream == nullptr ? VE_OK : ioStream->GetLastError();
}

VError VValue::WriteToStream(VStream* ioStream, int32_t) const
{
    return ioStream == nullptr ? VE_OK : ioStream->GetLastError();
}

VValue* VValue::FullyClone(bool) const
{
    return Clone();
}

void VValue::GetOutsidePath(VString& outPath, bool* outIsRelative) const
{
    outPath.Clear();
    if (outIsRelative != nullptr)
    {
        *outIsRelative = false;
    }
}

// VValueSingle

VError VValueSingle::FromJSONString(const VString& inJSONString, JSONStringOptions)
{
    FromString(inJSONString);
    return VE_OK;
}

VError VValueSingle::GetJSONString(VString& outJSONString, JSONStringOptions) const
{
    GetString(outJSONString);
    return VE_OK;
}

VError VValueSingle::FromJSONValue(const VJSONValue&)
{
    Clear();
    return _ThrowError(VE_UNIMPLEMENTED);
}

VError VValueSingle::GetJSONValue(VJSONValue& outJSONValue) const
{
    detail::SetJSONNull(outJSONValue);
    return _ThrowError(VE_UNIMPLEMENTED);
}

void VValueSingle::GetString(VString& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetVUUID(VUUID& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetValue(VValueSingle& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetXMLString(VString& outValue, JSONStringOptions) const
{
    GetString(outValue);
}

bool VValueSingle::FromXMLString(const VString& inValue)
{
    FromString(inValue);
    return true;
}

CharSet VValueSingle::DebugDump(char* ioBuffer, int& ioSize) const
{
    VString text;
    GetString(text);
    int maxUnits = std::max(ioSize, 0) / 2;
    int units = std::min(text.GetLength(), maxUnits);
    std::memcpy(ioBuffer, text.GetCPointer(), static_cast<size_t>(units) * sizeof(UniChar));
    ioSize = units * static_cast<int>(sizeof(UniChar));
    return CharSet::VTC_UTF_16;
}

VValueSingle* VValueSingle::ConvertTo(ValueKind inKind) const
{
    const VValueInfo* info = ValueInfoFromValueKind(inKind);
    if (info == nullptr)
    {
        return nullptr;
    }
    VValue* generated = info->Generate();
    VValueSingle* single = generated == nullptr ? nullptr : generated->IsVValueSingle();
    if (single == nullptr)
    {
        delete generated;
        return nullptr;
    }
    GetValue(*single);
    single->SetNull(IsNull());
    return single;
}

int32_t VValueSingle::ValueKindToJsonType(ValueKind inKind)
{
    switch (inKind)
    {
    case VK_BOOLEAN:
        return 2; // true
    case VK_REAL:
        return 4; // number
    case VK_TIME:
        return 8; // date
    case VK_STRING:
        return 3; // string
    default:
        return 0; // null
    }
}

void VValueSingle::GetDuration(VDuration& outValue) const
{
    outValue.Clear();
}

void VValueSingle::GetTime(VTime& outValue) const
{
    outValue.Clear();
}

} // namespace zorn
