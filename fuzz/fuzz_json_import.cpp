// The JSON text importer on arbitrary input. Valid UTF-8 is read as text; anything else is taken
// two bytes a UTF-16 unit. Oracles:
// - nothing breaks at any depth, in any mode (the sanitizers watch); a failure is 550, or the
//   compact-form decoder's error when the text has a "__PRIVATE_BINARY_OBJECT" member;
// - round trip: when the lenient reading succeeds, its compact text (VJSONWriter option 0x1)
//   reads strictly into a deep-equal value, every number bit for bit (a non-finite number reads
//   back as null), and writing that value again gives the same text;
// - differential, on the bytes: decoding them strictly as UTF-8 (VJSONImporter::DecodeUTF8) and
//   reading the text strictly accepts exactly what nlohmann's json::accept accepts, except where
//   the two are known to part (Exception below); valid UTF-8 decodes as the string's own decoder
//   reads it.
#include "fuzz/FuzzJSONText.h"
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

struct Reading
{
    VError fResult = VE_OK;
    VJSONValue fValue;
    bool fTooDeep = false; // 'zorn' 108
};

Reading Read(const VString& inText, uint32_t inOptions)
{
    Reading reading;
    StErrorContextInstaller errors(false);
    reading.fResult = VJSONImporter::ParseString(inText, reading.fValue, inOptions);
    reading.fTooDeep = errors.GetContext()->Find(VE_JSON_NESTING_TOO_DEEP) != nullptr;
    // Every failure is 550 (a report, the nesting error's too), or the decoding error of a binary
    // object member, which is the documented result; never another code.
    Check(reading.fResult == VE_OK || reading.fResult == VE_JSON_MALFORMED ||
          zorn::fuzz::HasBinaryObjectMember(inText));
    return reading;
}

// The writer's numbers read back exactly, the sign of zero included.
bool SameNumber(double inFirst, double inSecond)
{
    return std::bit_cast<uint64_t>(inFirst) == std::bit_cast<uint64_t>(inSecond);
}

// The round trip's equality: the written and re-read value against the first reading.
bool SameValue(const VJSONValue& inFirst, const VJSONValue& inSecond)
{
    // What the text cannot carry is written null: non-finite numbers, and undefined (which a
    // binary member may decode to).
    if ((inFirst.IsNumber() && !std::isfinite(inFirst.GetNumber())) || inFirst.IsUndefined())
    {
        return inSecond.IsNull();
    }
    if (inFirst.GetType() != inSecond.GetType())
    {
        return false;
    }
    switch (inFirst.GetType())
    {
    case JSON_string:
        return inFirst.GetStringUnits() == inSecond.GetStringUnits();
    case JSON_number:
        return SameNumber(inFirst.GetNumber(), inSecond.GetNumber());
    case JSON_array:
    {
        std::span<const VJSONValue> first = inFirst.GetArray()->GetElements();
        std::span<const VJSONValue> second = inSecond.GetArray()->GetElements();
        if (first.size() != second.size())
        {
            return false;
        }
        for (size_t i = 0; i < first.size(); ++i)
        {
            if (!SameValue(first[i], second[i]))
            {
                return false;
            }
        }
        return true;
    }
    case JSON_object:
    {
        std::span<const VJSONObject::OwnProperty> first = inFirst.GetObject()->GetOwnProperties();
        std::span<const VJSONObject::OwnProperty> second = inSecond.GetObject()->GetOwnProperties();
        if (first.size() != second.size())
        {
            return false;
        }
        for (size_t i = 0; i < first.size(); ++i)
        {
            if (first[i].fKey.GetUnits() != second[i].fKey.GetUnits() ||
                !SameValue(first[i].fValue, second[i].fValue))
            {
                return false;
            }
        }
        return true;
    }
    default:
        return true;
    }
}

// Whether the value holds what the text writes as null without being null: a non-finite number or
// undefined.
bool HasValueWrittenAsNull(const VJSONValue& inValue)
{
    if (inValue.IsUndefined())
    {
        return true;
    }
    if (inValue.IsNumber())
    {
        return !std::isfinite(inValue.GetNumber());
    }
    if (inValue.IsArray())
    {
        for (const VJSONValue& element : inValue.GetArray()->GetElements())
        {
            if (HasValueWrittenAsNull(element))
            {
                return true;
            }
        }
    }
    if (inValue.IsObject())
    {
        for (const auto& property : inValue.GetObject()->GetOwnProperties())
        {
            if (HasValueWrittenAsNull(property.fValue))
            {
                return true;
            }
        }
    }
    return false;
}

// Where the strict mode and nlohmann part, by design:
// - a \u escape of a surrogate: the RFC's grammar admits lone surrogates, nlohmann refuses them;
// - a "__PRIVATE_BINARY_OBJECT" member: the importer decodes it (when a reader is registered);
// - nesting deeper than StJSONNestingGuard allows: the importer stops with 'zorn' 108;
// - a number beyond the doubles: the grammar admits it (it reads as an infinity), nlohmann refuses;
// - a NUL byte: nlohmann's lexer takes it for the end of the text.
// (A leading byte-order mark is skipped by both.)
bool Exception(std::string_view inUTF8, const Reading& inStrict)
{
    static const std::regex sSurrogateEscape(R"(\\u[dD][89abcdefABCDEF])");
    return std::regex_search(inUTF8.begin(), inUTF8.end(), sSurrogateEscape) ||
           inUTF8.find("__PRIVATE_BINARY_OBJECT") != std::string_view::npos || inStrict.fTooDeep ||
           (inStrict.fResult == VE_OK && HasValueWrittenAsNull(inStrict.fValue)) ||
           inUTF8.find('\0') != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartTasks();
    VString text;
    const bool isUTF8 = text.FromBlock(data, size, CharSet::VTC_UTF_8);
    if (!isUTF8)
    {
        text.FromBlock(data, size & ~size_t{1}, CharSet::VTC_UTF_16);
    }

    // Every option at once besides the strict and quiet ones, for the paths, dates and lockers.
    Read(text, VJSONImporter::kPathsAndLines | VJSONImporter::kMarkedDates | VJSONImporter::kISODates |
                   VJSONImporter::kStorageLocker);
    Read(text, VJSONImporter::kStrict | VJSONImporter::kQuiet | VJSONImporter::kUndefinedOnError);

    Reading lenient = Read(text, 0);
    if (lenient.fResult == VE_OK)
    {
        VString written;
        if (lenient.fValue.Stringify(written, VJSONWriter::kQuoted) == VE_OK)
        {
            Reading again = Read(written, VJSONImporter::kStrict);
            Check(again.fResult == VE_OK);
            Check(SameValue(lenient.fValue, again.fValue));
            if (!HasValueWrittenAsNull(lenient.fValue))
            {
                VCompareOptions options;
                options.SetDiacritical(true);
                Check(lenient.fValue.DeepEqualTo(again.fValue, options));
                VString rewritten;
                Check(again.fValue.Stringify(rewritten, VJSONWriter::kQuoted) == VE_OK);
                Check(rewritten.EqualToStringRaw(written));
            }
        }
    }

    Read(text, VJSONImporter::kStrict);

    // The bytes themselves, as a file's are read.
    VString decoded;
    Reading strict;
    {
        StErrorContextInstaller errors(false);
        strict.fResult = VJSONImporter::DecodeUTF8(data, size, VJSONImporter::kStrict, VString(), decoded);
    }
    Check(strict.fResult == VE_OK || strict.fResult == VE_JSON_MALFORMED);
    if (isUTF8)
    {
        Check(strict.fResult == VE_OK);
        Check(decoded.EqualToStringRaw(text));
    }
    if (strict.fResult == VE_OK)
    {
        strict = Read(decoded, VJSONImporter::kStrict);
    }
    VString replaced;
    Check(VJSONImporter::DecodeUTF8(data, size, 0, VString(), replaced) == VE_OK);
    Check(strict.fResult != VE_OK || replaced.EqualToStringRaw(decoded));
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    bool accepted = nlohmann::json::accept(bytes);
    Check(accepted == (strict.fResult == VE_OK) || Exception(bytes, strict));
    return 0;
}
