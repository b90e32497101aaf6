// StStringConverterBase and StStringConverter<T>: a stack guard that gives the bytes of a VString
// in a character set, zero-terminated, for a call that wants a C string. Text that fits stays in
// a 512-byte buffer inside the guard; longer text goes to a block of the memory manager that the
// guard frees. The pointer it returns is never null and stays valid until the next conversion or
// the guard's end; IsOK tells whether the last conversion was whole and clean.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

#include <cstddef>

namespace zorn
{

class VFromUnicodeConverter;
class VString;

class StStringConverterBase
{
public:
    explicit StStringConverterBase(CharSet inCharSet, ECarriageReturnMode inMode = eCRM_NONE);
    // Keeps the settings and the converter, and copies the output.
    StStringConverterBase(const StStringConverterBase& inOther);
    // Takes over a heap output (the source returns to its empty inline buffer) or copies the
    // inline bytes.
    StStringConverterBase(StStringConverterBase&& inOther) noexcept;
    StStringConverterBase& operator=(const StStringConverterBase&) = delete;
    StStringConverterBase& operator=(StStringConverterBase&&) = delete;
    ~StStringConverterBase();

    // Converts inCount units, then writes inTerminatorSize 0 bytes after the text. Line endings
    // are left as they are.
    const void* _ConvertString(const UniChar* inUnits, int32_t inCount, size_t inTerminatorSize);
    // Converts the string, its line endings first rewritten to the guard's mode.
    const void* _ConvertString(const VString& inString, size_t inTerminatorSize);

    const void* GetOutput() const { return fOutput; }
    // Bytes of text produced by the last conversion, without the terminator.
    size_t GetSize() const { return fSize; }
    bool IsOK() const { return fOK; }

    static constexpr size_t kInlineSize = 512;

private:
    // Enough for the widest terminator (one UTF-32 unit).
    static constexpr size_t kMaxTerminatorSize = 4;

    void _CopyOutput(const StStringConverterBase& inOther);

    void* fOutput;
    size_t fSize = 0;
    ECarriageReturnMode fMode;
    bool fOK = false;
    size_t fCapacity = kInlineSize;
    void* fHeap = nullptr; // when set, it is the output
    VFromUnicodeConverter* fConverter;
    alignas(8) char fInline[kInlineSize];
};

template <class T>
class StStringConverter : public StStringConverterBase
{
public:
    explicit StStringConverter(CharSet inCharSet, ECarriageReturnMode inMode = eCRM_NONE)
        : StStringConverterBase(inCharSet, inMode)
    {
    }

    const T* ConvertString(const VString& inString)
    {
        return static_cast<const T*>(_ConvertString(inString, sizeof(T)));
    }
    const T* GetCPointer() const { return static_cast<const T*>(GetOutput()); }
};

} // namespace zorn
