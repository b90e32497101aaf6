#include "toolbox/kernel/values/VArrayValue.h"

#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/streams/VStream.h"

#include <cstring>

namespace zorn
{

// ---- ISortable ----

CompareResult ISortable::MultiCriteriaCompare(ISortable* const* inArrays, void* const* inBlocks,
                                              const uint8_t* inDescending, int32_t inKeyCount, int32_t inA,
                                              int32_t inB)
{
    for (int32_t key = 0; key < inKeyCount; ++key)
    {
        CompareResult result = inArrays[key]->CompareElements(inBlocks[key], inA, inB);
        if (result != CR_EQUAL)
        {
            return inDescending[key] != 0 ? -result : result;
        }
    }
    return CR_EQUAL;
}

void ISortable::MultiCriteriaSwap(ISortable* const* inArrays, void* const* inBlocks, int32_t inA, int32_t inB)
{
    for (int32_t i = 0; inArrays[i] != nullptr; ++i)
    {
        inArrays[i]->SwapElements(inBlocks[i], inA, inB);
    }
}

void ISortable::MultiCriteriaQSort(ISortable* const* inArrays, const uint8_t* inDescending,
                                   int32_t inKeyCount, int32_t inFirst, int32_t inLast)
{
    if (inLast <= inFirst || inFirst < 0)
    {
        return;
    }
    int32_t arrayCount = 0;
    while (inArrays[arrayCount] != nullptr)
    {
        ++arrayCount;
    }
    if (inKeyCount < 1 || inKeyCount > arrayCount)
    {
        return;
    }
    void** blocks =
        static_cast<void**>(VMemory::NewPtr(sizeof(void*) * static_cast<size_t>(arrayCount), kTagSort));
    if (blocks == nullptr)
    {
        return;
    }
    for (int32_t i = 0; i < arrayCount; ++i)
    {
        blocks[i] = inArrays[i]->LockAndGetData();
    }
    if (inKeyCount == 1 && arrayCount == 1)
    {
        // One array alone: no loop over the list per compare and swap.
        ISortable* array = inArrays[0];
        void* block = blocks[0];
        const bool descending = inDescending[0] != 0;
        detail::QuickSortRange(
            inFirst, inLast,
            [=](int32_t a, int32_t b)
            {
                CompareResult result = array->CompareElements(block, a, b);
                return descending ? -result : result;
            },
            [=](int32_t a, int32_t b) { array->SwapElements(block, a, b); });
    }
    else
    {
        detail::QuickSortRange(
            inFirst, inLast,
            [=](int32_t a, int32_t b)
            { return MultiCriteriaCompare(inArrays, blocks, inDescending, inKeyCount, a, b); },
            [=](int32_t a, int32_t b) { MultiCriteriaSwap(inArrays, blocks, a, b); });
    }
    for (int32_t i = 0; i < arrayCount; ++i)
    {
        inArrays[i]->UnlockData();
    }
    VMemory::DisposePtr(blocks);
}

// ---- VArrayValue: the block ----

VArrayValue::~VArrayValue()
{
    VMemory::DisposePtr(fData);
}

bool VArrayValue::_ResizeBlock(size_t inSize)
{
    if (inSize == fDataSize)
    {
        return true;
    }
    if (inSize == 0)
    {
        VMemory::DisposePtr(fData);
        fData = nullptr;
        fDataSize = 0;
        return true;
    }
    void* block =
        fData == nullptr ? VMemory::NewPtr(inSize, kTagValueArray) : VMemory::SetPtrSize(fData, inSize);
    if (block == nullptr)
    {
        return false;
    }
    if (inSize > fDataSize)
    {
        std::memset(static_cast<char*>(block) + fDataSize, 0, inSize - fDataSize);
    }
    fData = block;
    fDataSize = inSize;
    return true;
}

bool VArrayValue::SetDataSize(size_t inSize)
{
    return _ResizeBlock(inSize);
}

bool VArrayValue::SetCount(int32_t inCount)
{
    if (inCount < 0)
    {
        inCount = 0;
    }
    if (inCount == fCount)
    {
        return true;
    }
    if (inCount < fCount)
    {
        DeleteElements(inCount, fCount - inCount);
        if (fElemSize == 0)
        {
            // Dropped bits are cleared so that growing again gives false elements.
            uint8_t* bits = static_cast<uint8_t*>(fData);
            const size_t keep = (static_cast<size_t>(inCount) + 7) / 8;
            if (inCount % 8 != 0)
            {
                bits[inCount / 8] &= static_cast<uint8_t>((1u << (inCount % 8)) - 1);
            }
            std::memset(bits + keep, 0, fDataSize - keep);
        }
    }
    const size_t size = inCount == 0 ? 0 : _BlockSizeFor(inCount);
    if (!_ResizeBlock(size))
    {
        if (inCount < fCount)
        {
            // The dropped elements are gone already; only the block keeps its old size.
            fCount = inCount;
            return true;
        }
        return false;
    }
    fCount = inCount;
    return true;
}

bool VArrayValue::Insert(int32_t inAt, int32_t inCount)
{
    if (!_CanInsert(inAt, inCount))
    {
        return inCount == 0;
    }
    const int32_t oldCount = fCount;
    if (!_ResizeBlock(_BlockSizeFor(oldCount + inCount)))
    {
        return false;
    }
    char* data = static_cast<char*>(fData);
    const size_t at = static_cast<size_t>(inAt - 1) * fElemSize;
    const size_t opened = static_cast<size_t>(inCount) * fElemSize;
    std::memmove(data + at + opened, data + at, static_cast<size_t>(oldCount - (inAt - 1)) * fElemSize);
    std::memset(data + at, 0, opened);
    fCount = oldCount + inCount;
    return true;
}

void VArrayValue::Delete(int32_t inAt, int32_t inCount)
{
    if (!_ClampDeletion(inAt, inCount))
    {
        return;
    }
    DeleteElements(inAt - 1, inCount);
    char* data = static_cast<char*>(fData);
    const size_t at = static_cast<size_t>(inAt - 1) * fElemSize;
    const size_t removed = static_cast<size_t>(inCount) * fElemSize;
    std::memmove(data + at, data + at + removed,
                 static_cast<size_t>(fCount - (inAt - 1) - inCount) * fElemSize);
    // The tail now holds stale copies of moved elements: zero them before the block shrinks, so
    // that a failed shrink leaves nothing owned twice.
    std::memset(data + static_cast<size_t>(fCount - inCount) * fElemSize, 0, removed);
    const int32_t newCount = fCount - inCount;
    _ResizeBlock(newCount == 0 ? 0 : _BlockSizeFor(newCount));
    fCount = newCount;
}

void VArrayValue::MoveElements(int32_t inFrom, int32_t inTo, int32_t inCount)
{
    if (!_CanMove(inFrom, inTo, inCount))
    {
        return;
    }
    char* data = static_cast<char*>(fData);
    std::memmove(data + static_cast<size_t>(inTo) * fElemSize, data + static_cast<size_t>(inFrom) * fElemSize,
                 static_cast<size_t>(inCount) * fElemSize);
}

bool VArrayValue::Copy(const VArrayValue& inOther)
{
    if (&inOther == this)
    {
        return true;
    }
    SetCount(0);
    if (inOther.GetValueKind() != GetValueKind() || inOther.fElemSize != fElemSize)
    {
        return false;
    }
    if (inOther.fCount == 0)
    {
        return true;
    }
    if (!_ResizeBlock(inOther.fDataSize))
    {
        return false;
    }
    std::memcpy(fData, inOther.fData, inOther.fDataSize);
    fCount = inOther.fCount;
    CloneElements();
    return true;
}

int32_t VArrayValue::Find(const VValueSingle&, int32_t, bool, CompareMethod) const
{
    return -1;
}

// ---- VArrayValue: sorting ----

bool VArrayValue::Sort(int32_t inFirst, int32_t inLast, bool inDescending)
{
    if (inFirst < 0 || inLast >= fCount || inFirst > inLast)
    {
        return false;
    }
    ISortable* arrays[2] = {this, nullptr};
    const uint8_t descending = inDescending ? 1 : 0;
    MultiCriteriaQSort(arrays, &descending, 1, inFirst, inLast);
    return true;
}

bool VArrayValue::SynchronizedSort(bool inDescending, VArrayValue* inKeys,
                                   std::initializer_list<VArrayValue*> inFollowers)
{
    constexpr size_t kMaxFollowers = 14;
    if (inKeys == nullptr || inFollowers.size() > kMaxFollowers)
    {
        return false;
    }
    ISortable* arrays[kMaxFollowers + 2] = {inKeys};
    size_t count = 1;
    for (VArrayValue* follower : inFollowers)
    {
        // A shorter follower would be read and written past its end.
        if (follower == nullptr || follower->GetCount() < inKeys->GetCount())
        {
            return false;
        }
        arrays[count++] = follower;
    }
    arrays[count] = nullptr;
    const uint8_t descending = inDescending ? 1 : 0;
    MultiCriteriaQSort(arrays, &descending, 1, 0, inKeys->GetCount() - 1);
    return true;
}

void VArrayValue::Unsort()
{
    if (fCount < 2)
    {
        return;
    }
    void* data = LockAndGetData();
    const int32_t last = fCount - 1;
    int32_t q = last;
    for (int32_t p = 0; p < last; p += 2)
    {
        if (p != q)
        {
            SwapElements(data, p, q);
        }
        q -= 3;
        if (q < 0)
        {
            q = last;
        }
    }
    UnlockData();
}

// ---- VArrayValue: stream helpers ----

VError VArrayValue::_WriteHeader(VStream* ioStream, int32_t inParam) const
{
    if (inParam == kStreamParamWithKind)
    {
        const int32_t kind = static_cast<int32_t>(GetValueKind());
        ioStream->PutLongs(&kind, 1);
    }
    return ioStream->PutLongs(&fCount, 1);
}

VError VArrayValue::_BeginStreamRead(VStream* ioStream, int32_t& outCount)
{
    SetCount(0);
    int32_t count = 0;
    int32_t got = 1;
    if (ioStream->GetLongs(&count, &got) != VE_OK || got != 1)
    {
        return _FailStreamRead(ioStream, VE_STREAM_EOF);
    }
    if (count < 0)
    {
        return _ThrowError(VE_VALUE_ARRAY_STREAM_INVALID);
    }
    const auto left = static_cast<int64_t>(ioStream->GetBytesLeft());
    if (left < _MinStreamBytesFor(count))
    {
        return _ThrowError(VE_STREAM_EOF);
    }
    if (!SetCount(count))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    outCount = count;
    return VE_OK;
}

VError VArrayValue::_FailStreamRead(VStream* ioStream, VError inError)
{
    SetCount(0);
    const VError streamError = ioStream->GetLastError();
    return _ThrowError(streamError != VE_OK ? streamError : inError);
}

// ---- The number arrays' stream form ----

template <class TArray, class TElem, ValueKind kKind>
VError VArrayNumberOf<TArray, TElem, kKind>::WriteToStream(VStream* ioStream, int32_t inParam) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    _WriteHeader(ioStream, inParam);
    if (fCount > 0)
    {
        const Type* data = Data();
        if constexpr (sizeof(Type) == 1)
        {
            ioStream->PutData(data, static_cast<size_t>(fCount));
        }
        else if constexpr (sizeof(Type) == 2)
        {
            ioStream->PutWords(data, fCount);
        }
        else if constexpr (sizeof(Type) == 4)
        {
            ioStream->PutLongs(data, fCount);
        }
        else if constexpr (std::is_floating_point_v<Type>)
        {
            ioStream->PutReals(data, fCount);
        }
        else
        {
            ioStream->PutLong8s(reinterpret_cast<const int64_t*>(data), fCount);
        }
    }
    return ioStream->GetLastError();
}

template <class TArray, class TElem, ValueKind kKind>
VError VArrayNumberOf<TArray, TElem, kKind>::ReadFromStream(VStream* ioStream, int32_t)
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
    if (count == 0)
    {
        return ioStream->GetLastError();
    }
    Type* data = Data();
    int32_t got = count;
    if constexpr (sizeof(Type) == 1)
    {
        size_t bytes = 0;
        ioStream->GetData(data, static_cast<size_t>(count), &bytes);
        got = static_cast<int32_t>(bytes);
    }
    else if constexpr (sizeof(Type) == 2)
    {
        ioStream->GetWords(data, &got);
    }
    else if constexpr (sizeof(Type) == 4)
    {
        ioStream->GetLongs(data, &got);
    }
    else if constexpr (std::is_floating_point_v<Type>)
    {
        ioStream->GetReals(data, &got);
    }
    else
    {
        ioStream->GetLong8s(reinterpret_cast<int64_t*>(data), &got);
    }
    if (got != count)
    {
        return _FailStreamRead(ioStream, VE_STREAM_EOF);
    }
    return ioStream->GetLastError();
}

template class VArrayNumberOf<VArrayByte, VByte, VK_ARRAY_BYTE>;
template class VArrayNumberOf<VArrayWord, VWord, VK_ARRAY_WORD>;
template class VArrayNumberOf<VArrayLong, VLong, VK_ARRAY_LONG>;
template class VArrayNumberOf<VArrayLong8, VLong8, VK_ARRAY_LONG8>;
template class VArrayNumberOf<VArrayReal, VReal, VK_ARRAY_REAL>;
template class VArrayNumberOf<VArrayTime, VTime, VK_ARRAY_TIME>;
template class VArrayNumberOf<VArrayDuration, VDuration, VK_ARRAY_DURATION>;

// ---- Descriptors ----

#define ZORN_ARRAY_INFO(TArray, kKind)                                                                       \
    const VValueInfo_array<TArray>& TArray::Info()                                                           \
    {                                                                                                        \
        static const VValueInfo_array<TArray> sInfo(kKind);                                                  \
        return sInfo;                                                                                        \
    }

ZORN_ARRAY_INFO(VArrayBoolean, VK_ARRAY_BOOLEAN)
ZORN_ARRAY_INFO(VArrayByte, VK_ARRAY_BYTE)
ZORN_ARRAY_INFO(VArrayWord, VK_ARRAY_WORD)
ZORN_ARRAY_INFO(VArrayLong, VK_ARRAY_LONG)
ZORN_ARRAY_INFO(VArrayLong8, VK_ARRAY_LONG8)
ZORN_ARRAY_INFO(VArrayReal, VK_ARRAY_REAL)
ZORN_ARRAY_INFO(VArrayTime, VK_ARRAY_TIME)
ZORN_ARRAY_INFO(VArrayDuration, VK_ARRAY_DURATION)
ZORN_ARRAY_INFO(VArrayString, VK_ARRAY_STRING)
ZORN_ARRAY_INFO(VArrayBlob, VK_ARRAY_BLOB)
ZORN_ARRAY_INFO(VArrayImage, VK_ARRAY_IMAGE)

#undef ZORN_ARRAY_INFO

const VValueInfo* VArrayBoolean::GetValueInfo() const
{
    return &Info();
}

void InitArrayValueInfos()
{
    (void)VArrayBoolean::Info();
    (void)VArrayByte::Info();
    (void)VArrayWord::Info();
    (void)VArrayLong::Info();
    (void)VArrayLong8::Info();
    (void)VArrayReal::Info();
    (void)VArrayTime::Info();
    (void)VArrayDuration::Info();
    (void)VArrayString::Info();
    (void)VArrayBlob::Info();
    (void)VArrayImage::Info();
}

} // namespace zorn
