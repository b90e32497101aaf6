// VDuration: the value kind 9, a signed span of time counted in milliseconds (one 64-bit field).
// It lives in the kernel beside the scalars because tasks, errors and JSON values need it and the
// kernel may not call up.
//
// Units: second 1000, minute 60000, hour 3600000, day 86400000 ms. Splits into parts truncate
// toward zero, so a negative span has negative (or zero) parts.
//
// Choices and limits:
// - Numbers given to the value setters (FromLong, FromReal...) are seconds; the JSON text form is
//   milliseconds; JSON values are seconds (or, with option 2, milliseconds; option 4 "H:MM:SS",
//   hours unbounded, a negative span as "-" before the text of its size).
// - Products of a count and a unit are formed in 64 bits. A real turned into milliseconds
//   (FromReal, Multiply, Divide, the decimal hours) is truncated and saturates at the int64
//   range; NaN gives 0.
// - Remainder by a zero duration is refused: the value stays as it is and the quotient is 0.
//   INT64_MIN by -1 gives the remainder 0 and the quotient INT64_MAX.
// - XML text: whole seconds, or with option 1 ISO 8601 ("P1DT1H1M1.00100000000000S"). Reading
//   ISO 8601 maps a month to 30 days and a year to 360.
// - The stream form is the 8-byte count in the stream's byte order, no kind and no null flag;
//   the pointer form is the count in this machine's order.
// - Comparisons never look at the null flags.
#pragma once

#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <cstdint>

namespace zorn
{

class VDuration;
using VDuration_info = VValueInfo_scalar<VDuration, VK_DURATION, int64_t>;

class VDuration : public VValueSingle
{
public:
    static constexpr int64_t kSecond = 1000;
    static constexpr int64_t kMinute = 60000;
    static constexpr int64_t kHour = 3600000;
    static constexpr int64_t kDay = 86400000;

    VDuration() = default;
    explicit VDuration(int64_t inMilliseconds) : fMilliseconds(inMilliseconds) {}
    // The other's count; the copy is never null.
    VDuration(const VDuration& inOther) : VValueSingle(), fMilliseconds(inOther.fMilliseconds) {}
    // From raw data (flags dirty only), or count 0 when inUseDefault.
    VDuration(const int64_t* inData, bool inUseDefault);
    VDuration& operator=(const VDuration& inOther)
    {
        FromDuration(inOther);
        return *this;
    }
    ~VDuration() override = default;

    static const VDuration_info& Info();
    const VValueInfo* GetValueInfo() const override { return &Info(); }
    VValue* Clone() const override { return new VDuration(*this); }
    bool CanBeEvaluated() const override { return true; }
    // Count 0, not null.
    void Clear() override { _Set(0); }

    // Readers (the null flag is not looked at). The integer getters give whole seconds.
    bool GetBoolean() const override { return fMilliseconds != 0; }
    int8_t GetByte() const override { return static_cast<int8_t>(ConvertToSeconds()); }
    int16_t GetWord() const override { return static_cast<int16_t>(ConvertToSeconds()); }
    int32_t GetLong() const override { return static_cast<int32_t>(ConvertToSeconds()); }
    int64_t GetLong8() const override { return ConvertToSeconds(); }
    int64_t GetLong8OrMilliSeconds() const override { return fMilliseconds; }
    double GetReal() const override { return static_cast<double>(fMilliseconds) / 1000.0; }
    int64_t ConvertToMilliseconds() const { return fMilliseconds; }
    int64_t ConvertToSeconds() const { return fMilliseconds / kSecond; }
    int64_t ConvertToMinutes() const { return fMilliseconds / kMinute; }
    int64_t ConvertToHours() const { return fMilliseconds / kHour; }
    double GetDecimalHour() const { return static_cast<double>(fMilliseconds) / 3600000.0; }
    // Copies the count into the other, whose flags stay as they are.
    void GetDuration(VDuration& outDuration) const override { outDuration.fMilliseconds = fMilliseconds; }
    void GetValue(VValueSingle& outValue) const override { outValue.FromDuration(*this); }
    // The count of milliseconds in decimal; empty for a null duration.
    void GetString(VString& outValue) const override;

    int32_t GetDay() const { return static_cast<int32_t>(fMilliseconds / kDay); }
    int32_t GetHour() const { return static_cast<int32_t>((fMilliseconds % kDay) / kHour); }
    int32_t GetMinute() const { return static_cast<int32_t>((fMilliseconds % kHour) / kMinute); }
    int32_t GetSecond() const { return static_cast<int32_t>((fMilliseconds % kMinute) / kSecond); }
    int32_t GetMillisecond() const { return static_cast<int32_t>(fMilliseconds % kSecond); }
    // The five parts; -1 in all five for a null duration.
    void GetDuration(int32_t& outDays, int32_t& outHours, int32_t& outMinutes, int32_t& outSeconds,
                     int32_t& outMilliseconds) const;

    // Setters: not null, dirty (FromValue, FromValueSameKind and FromRESTValue copy the
    // source's null flag). Numbers are seconds.
    void FromBoolean(bool inValue) override { _Set(inValue ? kSecond : 0); }
    void FromByte(int8_t inValue) override { _Set(inValue * kSecond); }
    void FromWord(int16_t inValue) override { _Set(inValue * kSecond); }
    void FromLong(int32_t inValue) override { _Set(inValue * kSecond); }
    void FromLong8(int64_t inValue) override;
    void FromReal(double inValue) override;
    void FromDuration(const VDuration& inValue) override { _Set(inValue.fMilliseconds); }
    void FromNbDays(int64_t inDays) { _Set(_Scaled(inDays, kDay)); }
    void FromNbHours(int64_t inHours) { _Set(_Scaled(inHours, kHour)); }
    void FromNbMinutes(int64_t inMinutes) { _Set(_Scaled(inMinutes, kMinute)); }
    void FromNbSeconds(int64_t inSeconds) { _Set(_Scaled(inSeconds, kSecond)); }
    void FromNbMilliseconds(int64_t inMilliseconds) { _Set(inMilliseconds); }
    void SetDuration(int32_t inDays, int32_t inHours, int32_t inMinutes, int32_t inSeconds,
                     int32_t inMilliseconds);
    void AddDuration(int32_t inDays, int32_t inHours, int32_t inMinutes, int32_t inSeconds,
                     int32_t inMilliseconds);
    void AddDays(int32_t inDays) { _Set(_Sum(fMilliseconds, int64_t{inDays} * kDay)); }
    void AddHours(int32_t inHours) { _Set(_Sum(fMilliseconds, int64_t{inHours} * kHour)); }
    void AddMinutes(int32_t inMinutes) { _Set(_Sum(fMilliseconds, int64_t{inMinutes} * kMinute)); }
    void AddSeconds(int32_t inSeconds) { _Set(_Sum(fMilliseconds, int64_t{inSeconds} * kSecond)); }
    void AddMilliseconds(int64_t inMilliseconds) { _Set(_Sum(fMilliseconds, inMilliseconds)); }
    // Replace one part, keeping the others.
    void AdjustDay(int32_t inDays) { _Set(_Sum(int64_t{inDays} * kDay, fMilliseconds % kDay)); }
    void AdjustHour(int32_t inHours) { _Set(_Sum(fMilliseconds, (int64_t{inHours} - GetHour()) * kHour)); }
    void AdjustMinute(int32_t inMinutes)
    {
        _Set(_Sum(fMilliseconds, (int64_t{inMinutes} - GetMinute()) * kMinute));
    }
    void AdjustSecond(int32_t inSeconds)
    {
        _Set(_Sum(fMilliseconds, (int64_t{inSeconds} - GetSecond()) * kSecond));
    }
    void AdjustMillisecond(int32_t inMilliseconds)
    {
        _Set(_Sum(fMilliseconds - fMilliseconds % kSecond, inMilliseconds));
    }
    void FromDecimalHour(double inHours);
    void AddDecimalHour(double inHours);
    void FromValue(const VValueSingle& inValue) override;
    bool FromValueSameKind(const VValue* inValue) override;
    // A non-zero GetLong8 of the value is taken as milliseconds; otherwise its GetDuration.
    void FromRESTValue(const VValueSingle& inValue) override;

    // Arithmetic; the flags stay as they are.
    void Add(const VDuration& inOther) { fMilliseconds = _Sum(fMilliseconds, inOther.fMilliseconds); }
    void Substract(const VDuration& inOther);
    void Multiply(double inFactor);
    void Divide(double inDivisor);
    // This count divided by the other's, as a real; nothing changes.
    double Divide(const VDuration& inDivisor) const;
    // Replaces the count by its remainder by the other's and returns the quotient (see above).
    int64_t Remainder(const VDuration& inDivisor);

    // Comparisons of the counts.
    CompareResult CompareTo(const VDuration& inOther) const;
    // The other value is read with its GetDuration first.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                       bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;
    bool operator==(const VDuration& inOther) const { return fMilliseconds == inOther.fMilliseconds; }
    bool operator!=(const VDuration& inOther) const { return fMilliseconds != inOther.fMilliseconds; }
    bool operator<(const VDuration& inOther) const { return fMilliseconds < inOther.fMilliseconds; }
    bool operator<=(const VDuration& inOther) const { return fMilliseconds <= inOther.fMilliseconds; }
    bool operator>(const VDuration& inOther) const { return fMilliseconds > inOther.fMilliseconds; }
    bool operator>=(const VDuration& inOther) const { return fMilliseconds >= inOther.fMilliseconds; }

    // Text forms.
    // Without ':' the text's GetLong8 in seconds; else h:m:s:ms, h:m:s or m:s.
    void FromString(const VString& inValue) override;
    void GetXMLString(VString& outValue, JSONStringOptions inOptions = 0) const override;
    // ISO 8601 when the text begins with 'P', else as FromString; always true.
    bool FromXMLString(const VString& inValue) override;
    // Appends "d:h:m:s:ms".
    void GetFormattedString(VString& ioText) const;

    // JSON: the text form is the count of milliseconds.
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
    VError GetJSONValue(VJSONValue& outJSONValue) const override { return GetJSONValue(outJSONValue, 0); }
    // Option 4: a string "H:MM:SS"; option 2: milliseconds; else seconds. Null gives JSON null.
    VError GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions inOptions) const;
    // JSON null gives a null duration; any other value its number, in seconds.
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

    // Raw memory and streams.
    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t /*inMax*/ = 0) const override { return sizeof(fMilliseconds); }
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

    // A real number of milliseconds, truncated and held in the int64 range; NaN gives 0.
    static int64_t MillisecondsFromReal(double inMilliseconds);

private:
    // Products and sums that leave the int64 range saturate rather than wrap.
    static int64_t _Scaled(int64_t inCount, int64_t inUnit);
    static int64_t _Sum(int64_t inA, int64_t inB);
    void _Set(int64_t inMilliseconds);

    int64_t fMilliseconds = 0;
};

} // namespace zorn
