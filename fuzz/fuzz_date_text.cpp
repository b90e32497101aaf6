// Text of any kind read as a date: the RFC 3339 reader, the XML reader ("!!" markers, else the
// loose reader), the RFC 822 reader, the loose numeric reader and the compiler's build-date reader
// (the input cut at its first newline into the date and the time). Besides the sanitizers' checks
// (no overflowing conversion, no read past the reader's buffer): when a UTC full form
// ("YYYY-MM-DDThh:mm:ss...Z") reads true and gives a dated time, the text written back for it
// reads back to the same time. Every result goes through the writers.
//
// Input: UTF-8 text.

#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <cstdint>
#include <cstring>
#include <string>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

void Write(const VTime& inTime)
{
    VString text;
    for (uint32_t options : {0u, 1u, 2u, 4u, 8u, 16u, 33u})
    {
        inTime.GetRfc3339String(text, options);
    }
    inTime.GetJSONString(text, 0x1201);
    inTime.GetRfc822String(text);
    inTime.toSimpleDateString(text);
    inTime.GetStringLocalTime(text);
}

bool IsUTCFullForm(const uint8_t* inData, size_t inSize)
{
    const void* t = std::memchr(inData, 'T', inSize);
    return t != nullptr && static_cast<const uint8_t*>(t) - inData == 10 &&
           std::memchr(inData, 'Z', inSize) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    VString text(inData, inSize, CharSet::VTC_UTF_8);

    VTime rfc3339;
    const bool read = rfc3339.FromRfc3339String(text);
    Write(rfc3339);
    if (read && !rfc3339.IsNull() && rfc3339.GetYear() != 0 && IsUTCFullForm(inData, inSize))
    {
        VString written;
        rfc3339.GetRfc3339String(written, VTime::eRfc3339_UTC);
        VTime again;
        Check(again.FromRfc3339String(written));
        Check(!again.IsNull() && again == rfc3339);
    }

    VTime xml;
    xml.FromXMLString(text);
    Write(xml);
    VTime rfc822;
    rfc822.FromRfc822String(text);
    Write(rfc822);
    VTime loose;
    loose.FromString(text);
    Write(loose);

    const std::string bytes(reinterpret_cast<const char*>(inData), inSize);
    const size_t newline = bytes.find('\n');
    const std::string date = bytes.substr(0, newline);
    const std::string time = newline == std::string::npos ? std::string() : bytes.substr(newline + 1);
    VTime compiled;
    compiled.FromCompilerDateTime(date.c_str(), time.c_str());
    Write(compiled);
    return 0;
}
