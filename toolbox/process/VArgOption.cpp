#include "toolbox/process/VArgOption.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace zorn
{

// ------------------------------------------------------------------------------------------------
// Words

namespace
{

// Collated equality without diacritics, as the option words are compared.
bool IsWord(const VString& inText, const char* inWord)
{
    return inText.EqualToString(VString(inWord), false);
}

} // namespace

bool Argument<bool>::Append(const VString& inText, bool& ioValue)
{
    if (inText.EqualToUSASCIICString("1") || IsWord(inText, "true"))
    {
        ioValue = true;
        return true;
    }
    if (inText.EqualToUSASCIICString("0") || IsWord(inText, "false"))
    {
        ioValue = false;
        return true;
    }
    return false;
}

// ------------------------------------------------------------------------------------------------
// Integers

namespace
{

// Longer texts are refused before conversion (no integer of these types needs more).
constexpr size_t kMaxIntegerText = 30;

// The C locale's space class.
bool IsCSpace(UniChar inUnit)
{
    return inUnit == u' ' || (inUnit >= u'\t' && inUnit <= u'\r');
}

// The text without surrounding white space, when it is 1 to 30 characters of digits, '-' and '+'.
bool IntegerText(const VString& inText, std::string& outText)
{
    const UniChar* units = inText.GetCPointer();
    int32_t begin = 0;
    int32_t end = inText.GetLength();
    while (begin < end && IsCSpace(units[begin]))
    {
        ++begin;
    }
    while (end > begin && IsCSpace(units[end - 1]))
    {
        --end;
    }
    if (begin == end || static_cast<size_t>(end - begin) > kMaxIntegerText)
    {
        return false;
    }
    for (int32_t i = begin; i < end; ++i)
    {
        const UniChar unit = units[i];
        if ((unit < u'0' || unit > u'9') && unit != u'-' && unit != u'+')
        {
            return false;
        }
        outText.push_back(static_cast<char>(unit));
    }
    return true;
}

template <class Int>
bool ConvertSigned(const VString& inText, Int& ioValue)
{
    std::string text;
    if (!IntegerText(inText, text))
    {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || end != text.c_str() + text.size() || value < std::numeric_limits<Int>::min() ||
        value > std::numeric_limits<Int>::max())
    {
        return false;
    }
    ioValue = static_cast<Int>(value);
    return true;
}

template <class Int>
bool ConvertUnsigned(const VString& inText, Int& ioValue)
{
    std::string text;
    if (!IntegerText(inText, text) || text.front() == '-')
    {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno == ERANGE || end != text.c_str() + text.size() || value > std::numeric_limits<Int>::max())
    {
        return false;
    }
    ioValue = static_cast<Int>(value);
    return true;
}

} // namespace

bool Argument<int>::Append(const VString& inText, int& ioValue)
{
    return ConvertSigned(inText, ioValue);
}

bool Argument<uint32_t>::Append(const VString& inText, uint32_t& ioValue)
{
    return ConvertUnsigned(inText, ioValue);
}

bool Argument<int64_t>::Append(const VString& inText, int64_t& ioValue)
{
    return ConvertSigned(inText, ioValue);
}

bool Argument<uint64_t>::Append(const VString& inText, uint64_t& ioValue)
{
    return ConvertUnsigned(inText, ioValue);
}

// ------------------------------------------------------------------------------------------------
// Paths, files and folders

namespace
{

// The existing item the POSIX text names, every link followed: a folder path for a folder, else
// a file path. False for a text that names nothing or cannot be a path.
bool ResolvePath(const VString& inText, VFilePath& outPath)
{
    const std::string bytes = XLinuxFile::AllocatePosixPathFromString(inText);
    std::string resolved;
    if (bytes.empty() || !XLinuxFile::RealPath(bytes, true, resolved) || resolved.empty())
    {
        return false;
    }
    VFilePath folder;
    XLinuxFile::GetFilePathFromPosixPath(resolved.c_str(), true, folder);
    if (folder.IsValid() && VFolder(folder).Exists())
    {
        outPath = folder;
        return true;
    }
    XLinuxFile::GetFilePathFromPosixPath(resolved.c_str(), false, outPath);
    return outPath.IsValid();
}

} // namespace

bool Argument<VFilePath>::Append(const VString& inText, VFilePath& ioValue)
{
    VFilePath path;
    if (!ResolvePath(inText, path))
    {
        return false;
    }
    ioValue = path;
    return true;
}

namespace
{

// A new VFile for a resolved file path, or a new VFolder for a folder path.
template <class Object>
bool AppendObject(const VString& inText, VRefPtr<Object>& ioValue)
{
    VFilePath path;
    if (!ResolvePath(inText, path) || path.IsFolder() != std::is_same_v<Object, VFolder>)
    {
        return false;
    }
    ioValue.Adopt(new Object(path));
    return true;
}

} // namespace

bool Argument<VRefPtr<VFile>>::Append(const VString& inText, VRefPtr<VFile>& ioValue)
{
    return AppendObject(inText, ioValue);
}

bool Argument<VRefPtr<VFolder>>::Append(const VString& inText, VRefPtr<VFolder>& ioValue)
{
    return AppendObject(inText, ioValue);
}

// ------------------------------------------------------------------------------------------------
// JSON values

bool Argument<VJSONValue>::Append(const VString& inText, VJSONValue& ioValue)
{
    if (ioValue.IsString())
    {
        ioValue.SetString(inText);
        return true;
    }
    if (ioValue.IsBool())
    {
        if (inText.EqualToUSASCIICString("1") || IsWord(inText, "true") || IsWord(inText, "on"))
        {
            ioValue.SetBool(true);
            return true;
        }
        if (inText.EqualToUSASCIICString("0") || IsWord(inText, "false") || IsWord(inText, "off"))
        {
            ioValue.SetBool(false);
            return true;
        }
        return false;
    }
    // The option prints its own line; the reader's report stays in this scope.
    StErrorContextInstaller errors(false);
    VJSONValue value;
    if (value.ParseFromString(inText) != VE_OK)
    {
        return false;
    }
    ioValue = std::move(value);
    return true;
}

} // namespace zorn
