// VArgOption<T>: an option that writes what the command line gives into a variable of the
// application (not owned), and Argument<T>, the conversions of a value text into each type.
//
// What each kind does with a value and with a bare flag:
//   bool                  Argument<bool>                 flag: true
//   int                   Argument<int>                  flag: 1
//   VString               the value as it is             flag: "1"
//   std::vector<VString>  the value appended             flag: exactly one empty string
//   other T below         Argument<T>                    flag: nothing
// A value the conversion refuses leaves the variable as it was, prints one line through the
// parser (see VOptionBase::PrintInvalidValue, with the kind's kExpected) and stops the parse.
//
// The conversions (Append: whether the text converted; the value changes only when it did):
// - bool: "1" or "true" give true, "0" or "false" give false; the words are compared by the
//   current collator without diacritics, so "TRUE" is true.
// - Integers (int, uint32_t, int64_t, uint64_t): C-locale white space is skipped at both ends;
//   what remains must be 1 to 30 characters of digits, '-' and '+', convert whole (strtoll,
//   strtoull) and fit the type: "3000000000" is no int, " 42 " is 42, "1-2" and "4x" are
//   nothing. The unsigned types refuse a leading '-' (strtoull would wrap "-1" round).
// - VFilePath: the text (a POSIX path, relative ones from the working folder) resolved by
//   realpath, so it must exist; a folder gets a folder path. VRefPtr<VFile> and VRefPtr<VFolder>:
//   the same, and it must be a file, respectively a folder; the variable gets a new object. A
//   symbolic link is followed to its target.
// - VJSONValue: a variable that holds a string takes the text as a string; one that holds a
//   boolean takes "1", "true", "on" (true) or "0", "false", "off" (false), compared as for bool;
//   any other reads the text as JSON (VJSONValue::ParseFromString, whose errors stay inside).
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/process/VOptionBase.h"

#include <cstdint>
#include <type_traits>
#include <vector>

namespace zorn
{

class VFile;
class VFolder;

template <class T>
struct Argument;

template <>
struct Argument<bool>
{
    static constexpr const char* kExpected = "expected 0, 1, true or false";
    static bool Append(const VString& inText, bool& ioValue);
};

template <>
struct Argument<int>
{
    static constexpr const char* kExpected = "expected a signed integral";
    static bool Append(const VString& inText, int& ioValue);
};

template <>
struct Argument<uint32_t>
{
    static constexpr const char* kExpected = "expected an unsigned integral";
    static bool Append(const VString& inText, uint32_t& ioValue);
};

template <>
struct Argument<int64_t>
{
    static constexpr const char* kExpected = "expected a signed integral";
    static bool Append(const VString& inText, int64_t& ioValue);
};

template <>
struct Argument<uint64_t>
{
    static constexpr const char* kExpected = "expected an unsigned integral";
    static bool Append(const VString& inText, uint64_t& ioValue);
};

template <>
struct Argument<VFilePath>
{
    static constexpr const char* kExpected = "expected an existing path";
    static bool Append(const VString& inText, VFilePath& ioValue);
};

template <>
struct Argument<VRefPtr<VFile>>
{
    static constexpr const char* kExpected = "expected an existing file";
    static bool Append(const VString& inText, VRefPtr<VFile>& ioValue);
};

template <>
struct Argument<VRefPtr<VFolder>>
{
    static constexpr const char* kExpected = "expected an existing folder";
    static bool Append(const VString& inText, VRefPtr<VFolder>& ioValue);
};

template <>
struct Argument<VJSONValue>
{
    static constexpr const char* kExpected = "expected a JSON value";
    static bool Append(const VString& inText, VJSONValue& ioValue);
};

template <class T>
class VArgOption : public VOptionBase
{
public:
    VArgOption(UniChar inShortName, const VString& inLongName, const VString& inDescription, T* inVariable)
        : VOptionBase(inShortName, inLongName, inDescription), fVariable(inVariable)
    {
    }

    int32_t AppendArgument(VCommandLineParser& inParser, const VString& inValue) override
    {
        if constexpr (std::is_same_v<T, VString>)
        {
            fVariable->FromString(inValue);
            return 0;
        }
        else if constexpr (std::is_same_v<T, std::vector<VString>>)
        {
            fVariable->push_back(inValue);
            return 0;
        }
        else
        {
            return Argument<T>::Append(inValue, *fVariable)
                       ? 0
                       : PrintInvalidValue(inParser, inValue, Argument<T>::kExpected);
        }
    }

    void SetFlag() override
    {
        if constexpr (std::is_same_v<T, bool>)
        {
            *fVariable = true;
        }
        else if constexpr (std::is_same_v<T, int>)
        {
            *fVariable = 1;
        }
        else if constexpr (std::is_same_v<T, VString>)
        {
            fVariable->FromCString("1");
        }
        else if constexpr (std::is_same_v<T, std::vector<VString>>)
        {
            fVariable->assign(1, VString());
        }
    }

private:
    T* fVariable;
};

} // namespace zorn
