// The typed-value model: VValue (a value that knows its kind, can be null and dirty, compares
// itself with values of the same kind and converts to and from text, JSON, raw memory and
// streams), VValueSingle (one scalar-like datum) and VValueMultiple (several, e.g. typed arrays).
// Each kind is described by a VValueInfo found in a process-wide registry (VValueInfo.h).
//
// Defaults: an operation that a kind does not support raises 'zorn' 2 (VE_UNIMPLEMENTED) and
// returns it, or answers 0, false or null, as noted per group below.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/errors/VError.h"

namespace zorn
{

class VString;
class VTime;
class VDuration;
class VUUID;
class VBlob;
class VStream;
class VJSONValue;
class VJSONObject;
class VIntlMgr;
class VValueInfo;
class VValueSingle;
class VCompareOptions;

// Option word of the JSON text forms (shared numbering with the JSON writer).
using JSONStringOptions = uint32_t;

class VValue : public VObject
{
public:
    VValue() = default;
    explicit VValue(bool inIsNull) : fFlags(static_cast<uint8_t>(kDirty | (inIsNull ? kNull : 0))) {}
    VValue(const VValue& inOther) = default;
    VValue& operator=(const VValue& inOther) = default;
    ~VValue() override = default;

    // Flag bits. Strings use further bits of the same byte for their buffer ownership.
    static constexpr uint8_t kNull = 1;
    static constexpr uint8_t kDirty = 2;

    bool IsNull() const { return (fFlags & kNull) != 0; }
    bool IsDirty() const { return (fFlags & kDirty) != 0; }
    // Changes the null bit (calling DoNullChanged), then marks the value dirty when it was clean.
    void SetNull(bool inSet);
    // Changes the dirty bit, calling DoDirtyChanged when it changes.
    void SetDirty(bool inSet);

    static CompareResult InvertCompResult(CompareResult inResult)
    {
        return inResult == CR_BIGGER ? CR_SMALLER : (inResult == CR_SMALLER ? CR_BIGGER : inResult);
    }

    // The kind registry (the infos are not owned; each info registers itself when built).
    static void RegisterValueInfo(const VValueInfo* inInfo);
    static void UnregisterValueInfo(const VValueInfo* inInfo);
    static const VValueInfo* ValueInfoFromValueKind(ValueKind inKind);
    // A new empty value of the kind, or null for an unregistered kind.
    static VValue* NewValueFromValueKind(ValueKind inKind);

    ValueKind GetValueKind() const;
    ValueKind GetTrueValueKind() const;

    // The value's descriptor. The default is an info of kind 65535, created once.
    virtual const VValueInfo* GetValueInfo() const;
    virtual void Clear() = 0;
    virtual const VValueSingle* IsVValueSingle() const { return nullptr; }
    virtual VValueSingle* IsVValueSingle() { return nullptr; }

    // JSON forms: unsupported by default ('zorn' 2).
    virtual VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0);
    virtual VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const;
    virtual VError FromJSONValue(const VJSONValue& inJSONValue);
    virtual VError GetJSONValue(VJSONValue& outJSONValue) const;

    // Comparison with options (diacritical, pattern, international manager, epsilon).
    virtual CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                                       const VCompareOptions& inOptions) const;
    virtual bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const;
    virtual CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                          const VCompareOptions& inOptions) const;
    virtual bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                               const VCompareOptions& inOptions) const;
    virtual CompareResult Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                               const VCompareOptions& inOptions) const;

    // Comparison; the default compares as equal (0).
    virtual CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const;
    virtual bool FromValueSameKind(const VValue* inValue);
    virtual CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                               bool inDiacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr(const void* inPtrToValueData,
                                                    bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr(const void* inPtrToValueData,
                                                       bool inDiacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr(const void* inPtrToValueData,
                                                     bool inDiacritical = false) const;
    virtual bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const;

    // Pattern ("like") comparison; each defaults to its plain counterpart.
    virtual CompareResult CompareToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind_Like(const VValue* inValue,
                                                         bool inDiacritical = false) const;
    virtual bool EqualToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const;
    virtual CompareResult CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                                    bool inDiacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                                         bool inDiacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                            bool inDiacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                          bool inDiacritical = false) const;
    virtual bool EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const;
    virtual bool Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const;

    // Raw memory (the packed form of a kind) and streams. Defaults read and write nothing.
    virtual const void* LoadFromPtr(const void* inData, bool inRefOnly = false);
    virtual void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const;
    virtual size_t GetSpace(size_t inMax = 0) const;
    virtual bool CanBeStreamed() const { return false; }
    virtual size_t GetFullSpaceOnDisk() const { return GetSpace(); }
    virtual VError ReadFromStream(VStream* ioStream, int32_t inParam = 0);
    virtual VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const;
    virtual size_t GetStreamSpace() const { return GetSpace(); }
    virtual VError Flush(void* /*inDataPtr*/, void* /*inContext*/) const { return VE_OK; }

    // Hooks for values stored outside their record (blobs, pictures); none do anything here.
    virtual void SetReservedBlobNumber(int32_t /*inBlobNum*/) {}
    virtual VValue* FullyClone(bool inForAnotherRecord = false) const;
    virtual void RestoreFromPop(void* /*inContext*/) {}
    virtual void Detach(bool /*inMayEmpty*/ = false) {}
    virtual bool WillContainBlobData() const { return false; }
    virtual void SetOutsidePath(const VString& /*inPath*/, bool /*inIsRelative*/ = false) {}
    virtual void GetOutsidePath(VString& outPath, bool* outIsRelative = nullptr) const;
    virtual void SetOutsideSuffixe(const VString& /*inExtension*/) {}
    virtual bool IsOutsidePath() const { return false; }
    virtual bool IsStoredOnDisk() const { return false; }
    virtual VError ReloadFromOutsidePath() { return VE_OK; }
    virtual bool ForcePathIfEmpty() const { return false; }
    virtual void SetForcePathIfEmpty(bool /*inForcePath*/) {}
    virtual void ResetOutsidePath() {}
    virtual void SetHintRecNum(int32_t /*inTableNum*/, int32_t /*inFieldNum*/, int32_t /*inHint*/) {}
    virtual void AssociateRecord(void* /*inPrimaryKey*/, int32_t /*inFieldNum*/) {}
    virtual bool HasInternalPropertyChanged() const { return false; }
    virtual void ResetInternalPropertyChanged() {}
    virtual void AddJSONStamp(void* /*inStamp*/) {}
    virtual VError ReadRawFromStream(VStream* ioStream, int32_t inParam = 0)
    {
        return ReadFromStream(ioStream, inParam);
    }
    virtual void* GetDataBlob() const { return nullptr; }

    // A new copy that keeps the null bit and sets the dirty bit.
    virtual VValue* Clone() const = 0;
    virtual bool CanBeEvaluated() const { return false; }

protected:
    // Called after the null bit changed, and after the dirty bit changed.
    virtual void DoNullChanged() {}
    virtual void DoDirtyChanged() {}

    // The flags byte. Bits 0 and 1 are the value model's; derived kinds may use the others.
    uint8_t fFlags = kDirty;
};

class VValueSingle : public VValue
{
public:
    VValueSingle() = default;
    explicit VValueSingle(bool inIsNull) : VValue(inIsNull) {}

    const VValueSingle* IsVValueSingle() const override { return this; }
    VValueSingle* IsVValueSingle() override { return this; }
    bool CanBeStreamed() const override { return true; }

    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    VError GetJSONValue(VJSONValue& outJSONValue) const override;

    // Getters convert the datum to the asked type; the defaults answer 0 or clear the output.
    virtual bool GetBoolean() const { return false; }
    virtual int8_t GetByte() const { return 0; }
    virtual int16_t GetWord() const { return 0; }
    virtual int32_t GetLong() const { return 0; }
    virtual int64_t GetLong8() const { return 0; }
    virtual int64_t GetLong8OrMilliSeconds() const { return GetLong8(); }
    virtual double GetReal() const { return 0; }
    // The defaults clear the output.
    virtual void GetDuration(VDuration& outValue) const;
    virtual void GetTime(VTime& outValue) const;
    virtual void GetVUUID(VUUID& outValue) const;
    virtual void GetString(VString& outValue) const;
    virtual void GetValue(VValueSingle& outValue) const;

    // Setters; the defaults do nothing.
    virtual void FromBoolean(bool /*inValue*/) {}
    virtual void FromByte(int8_t /*inValue*/) {}
    virtual void FromWord(int16_t /*inValue*/) {}
    virtual void FromLong(int32_t /*inValue*/) {}
    virtual void FromLong8(int64_t /*inValue*/) {}
    virtual void FromReal(double /*inValue*/) {}
    virtual void FromDuration(const VDuration& /*inValue*/) {}
    virtual void FromTime(const VTime& /*inValue*/) {}
    virtual void FromString(const VString& /*inValue*/) {}
    virtual void FromVUUID(const VUUID& /*inValue*/) {}
    virtual void FromValue(const VValueSingle& /*inValue*/) {}
    virtual void FromRESTValue(const VValueSingle& inValue) { FromValue(inValue); }

    virtual void GetXMLString(VString& outValue, JSONStringOptions inOptions = 0) const;
    virtual bool FromXMLString(const VString& inValue);

    virtual CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const = 0;
    virtual bool EqualTo(const VValueSingle& inValue, bool inDiacritical = false) const
    {
        return CompareTo(inValue, inDiacritical) == CR_EQUAL;
    }

    using VObject::DebugDump;
    // The GetString text as native UTF-16, cut to half of ioSize units; nothing without a process.
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

    // A new value of inKind filled by GetValue and carrying this value's null state; null when the
    // kind is unregistered or not a single value.
    VValueSingle* ConvertTo(ValueKind inKind) const;

    // The JSON type code a scalar kind maps to: Boolean gives true (2),
    // Real number (4), Time date (8), String string (3), anything else null (0).
    static int32_t ValueKindToJsonType(ValueKind inKind);

    // The scalar that stands for a value in JSON, a new value owned by the caller: the integer
    // kinds (2 to 5, 7, 16) a VReal of GetReal, the kinds with a text form (13, 14, 17, 19, 20) a
    // VString, a duration (9) a VReal of its milliseconds, or of seconds unless
    // inDurationsInMilliseconds; any other kind a clone. The null state is kept.
    static VValueSingle* ConvertVValueToJSONScalar(const VValueSingle& inValue,
                                                   bool inDurationsInMilliseconds);
};

class VValueMultiple : public VValue
{
public:
    ValueKind GetValueKind() const { return VValue::GetValueKind(); }
    virtual int32_t GetCount() const = 0;

    // Indexed setters; the defaults pass narrower kinds on to wider ones and ignore the rest.
    virtual void FromBoolean(bool inValue, int32_t inElement) { FromWord(inValue ? 1 : 0, inElement); }
    virtual void FromByte(int8_t inValue, int32_t inElement) { FromLong(inValue, inElement); }
    virtual void FromWord(int16_t inValue, int32_t inElement) { FromLong(inValue, inElement); }
    virtual void FromLong(int32_t inValue, int32_t inElement) { FromReal(inValue, inElement); }
    virtual void FromLong8(int64_t inValue, int32_t inElement)
    {
        FromReal(static_cast<double>(inValue), inElement);
    }
    virtual void FromReal(double /*inValue*/, int32_t /*inElement*/) {}
    virtual void FromString(const VString& /*inValue*/, int32_t /*inElement*/) {}
    virtual void FromDuration(const VDuration& /*inValue*/, int32_t /*inElement*/) {}
    virtual void FromTime(const VTime& /*inValue*/, int32_t /*inElement*/) {}

    // A multiple value does not compare with a scalar.
    virtual CompareResult CompareTo(const VValueSingle& /*inValue*/, bool /*inDiacritical*/ = false) const
    {
        return CR_UNRELEVANT;
    }
};

} // namespace zorn
