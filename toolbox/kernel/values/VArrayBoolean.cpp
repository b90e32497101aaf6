#include "toolbox/kernel/values/VArrayValue.h"

#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <bit>
#include <cstring>

namespace zorn
{

void VArrayBoolean::_SetBit(int32_t inIndex, bool inValue)
{
    uint8_t& byte = static_cast<uint8_t*>(fData)[inIndex / 8];
    const uint8_t mask = static_cast<uint8_t>(1u << (inIndex % 8));
    byte = static_cast<uint8_t>(inValue ? (byte | mask) : (byte & ~mask));
}

bool VArrayBoolean::Insert(int32_t inAt, int32_t inCount)
{
    if (!_CanInsert(inAt, inCount))
    {
        return inCount == 0;
    }
    const int32_t oldCount = fCount;
    if (!SetCount(oldCount + inCount))
    {
        return false;
    }
    for (int32_t i = oldCount - 1; i >= inAt - 1; --i)
    {
        _SetBit(i + inCount, _Bit(i));
    }
    for (int32_t i = inAt - 1; i < inAt - 1 + inCount; ++i)
    {
        _SetBit(i, false);
    }
    return true;
}

void VArrayBoolean::Delete(int32_t inAt, int32_t inCount)
{
    if (!_ClampDeletion(inAt, inCount))
    {
        return;
    }
    for (int32_t i = inAt - 1; i + inCount < fCount; ++i)
    {
        _SetBit(i, _Bit(i + inCount));
    }
    SetCount(fCount - inCount);
}

void VArrayBoolean::MoveElements(int32_t inFrom, int32_t inTo, int32_t inCount)
{
    if (!_CanMove(inFrom, inTo, inCount))
    {
        return;
    }
    if (inTo < inFrom)
    {
        for (int32_t i = 0; i < inCount; ++i)
        {
            _SetBit(inTo + i, _Bit(inFrom + i));
        }
    }
    else
    {
        for (int32_t i = inCount - 1; i >= 0; --i)
        {
            _SetBit(inTo + i, _Bit(inFrom + i));
        }
    }
}

void VArrayBoolean::FromBoolean(bool inValue, int32_t inElement)
{
    if (ValidIndex(inElement))
    {
        _SetBit(inElement - 1, inValue);
    }
}

void VArrayBoolean::FromString(const VString& inValue, int32_t inElement)
{
    FromBoolean(inValue.GetBoolean(), inElement);
}

void VArrayBoolean::GetValue(VValueSingle& outValue, int32_t inElement) const
{
    if (ValidIndex(inElement))
    {
        outValue.FromBoolean(_Bit(inElement - 1));
    }
}

VValueSingle* VArrayBoolean::CloneValue(int32_t inElement) const
{
    return ValidIndex(inElement) ? new VBoolean(_Bit(inElement - 1)) : nullptr;
}

CompareResult VArrayBoolean::CompareTo(const VValueSingle& inValue, bool, int32_t inElement) const
{
    return detail::CompareNumbers<int>(GetBoolean(inElement) ? 1 : 0, inValue.GetBoolean() ? 1 : 0);
}

void VArrayBoolean::SwapElements(void* ioData, int32_t inA, int32_t inB)
{
    uint8_t* bits = static_cast<uint8_t*>(ioData);
    const bool a = (bits[inA / 8] >> (inA % 8) & 1) != 0;
    const bool b = (bits[inB / 8] >> (inB % 8) & 1) != 0;
    if (a != b)
    {
        bits[inA / 8] ^= static_cast<uint8_t>(1u << (inA % 8));
        bits[inB / 8] ^= static_cast<uint8_t>(1u << (inB % 8));
    }
}

CompareResult VArrayBoolean::CompareElements(const void* inData, int32_t inA, int32_t inB) const
{
    const uint8_t* bits = static_cast<const uint8_t*>(inData);
    const int a = bits[inA / 8] >> (inA % 8) & 1;
    const int b = bits[inB / 8] >> (inB % 8) & 1;
    return detail::CompareNumbers(a, b);
}

bool VArrayBoolean::Sort(int32_t inFirst, int32_t inLast, bool inDescending)
{
    if (inFirst < 1 || inLast > fCount || inFirst > inLast)
    {
        return false;
    }
    if (inFirst != 1 || inLast != fCount)
    {
        return VArrayValue::Sort(inFirst - 1, inLast - 1, inDescending);
    }
    // The whole array: count the set bits and write them grouped.
    uint8_t* bits = static_cast<uint8_t*>(fData);
    int32_t set = 0;
    for (size_t i = 0; i < fDataSize; ++i)
    {
        set += std::popcount(bits[i]);
    }
    const int32_t clear = fCount - set;
    for (int32_t i = 0; i < fCount; ++i)
    {
        _SetBit(i, inDescending ? i < set : i >= clear);
    }
    return true;
}

VError VArrayBoolean::WriteToStream(VStream* ioStream, int32_t inParam) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    _WriteHeader(ioStream, inParam);
    const size_t size = _BlockSizeFor(fCount);
    if (fData != nullptr)
    {
        ioStream->PutData(fData, size);
    }
    else
    {
        // An empty array still writes its one byte of bits.
        const uint8_t zero = 0;
        ioStream->PutData(&zero, 1);
    }
    return ioStream->GetLastError();
}

VError VArrayBoolean::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int32_t count = 0;
    if (VError error = _BeginStreamRead(ioStream, count); error != VE_OK)
    {
        return error;
    }
    const size_t size = _BlockSizeFor(count);
    uint8_t single = 0;
    void* target = count == 0 ? &single : fData;
    size_t got = 0;
    ioStream->GetData(target, size, &got);
    if (got != size)
    {
        return _FailStreamRead(ioStream, VE_STREAM_EOF);
    }
    // Bits past the count are not elements: keep them clear.
    const size_t keep = (static_cast<size_t>(count) + 7) / 8;
    uint8_t* bits = static_cast<uint8_t*>(target);
    if (count % 8 != 0)
    {
        bits[count / 8] &= static_cast<uint8_t>((1u << (count % 8)) - 1);
    }
    std::memset(bits + keep, 0, size - keep);
    return ioStream->GetLastError();
}

} // namespace zorn
