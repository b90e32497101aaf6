// PropertyList: a reader for the XML property-list format of bundle Info.plist files, small enough
// to run before main (the memory manager reads its allocator choice from Info.plist) and before
// the toolbox's XML parser is started. It uses the C++ standard library only.
//
// Input: UTF-8 bytes (an optional byte-order mark, an optional XML declaration whose encoding, if
// given, must be UTF-8). The root element is <plist> holding exactly one value. Values: <dict>
// (<key> then value, repeated), <array>, <string>, <integer>, <real>, <true/>, <false/>, <date> and
// <data>. Choices where the format allows several:
//  - Comments, processing instructions and a DOCTYPE without an internal subset are skipped; a
//    DOCTYPE with an internal subset is refused, since it could declare entities.
//  - Text may use the five predefined entities, decimal and hexadecimal character references and
//    CDATA sections; any other entity is refused. Text must be valid UTF-8 (no overlong forms, no
//    surrogates, nothing above U+10FFFF) and a character reference may not name U+0000 or a
//    surrogate.
//  - Attributes are checked for form and otherwise ignored (plist version included).
//  - <string> and <key> keep their text exactly, white space included. <integer> is a decimal
//    64-bit number with an optional sign, surrounded by optional white space; <real> is a decimal
//    number read independently of the locale. <date> and <data> keep their text (for <data>, the
//    Base64 text without white space); neither is decoded.
//  - In a <dict>, a key that occurs twice keeps its last value, as the system's reader does.
//  - Limits: nesting deeper than 256 elements and input larger than 16 MiB are refused.
// Anything else (mismatched tags, text outside <string>/<key>, a key without a value, trailing
// content) makes the whole parse fail with a short message; no partial result is returned.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zorn::platform
{

class PlistValue
{
public:
    enum class Type
    {
        String,
        Integer,
        Real,
        Boolean,
        Date,
        Data,
        Array,
        Dict
    };

    using Array = std::vector<PlistValue>;
    // Entries in document order; keys are unique.
    using Dict = std::vector<std::pair<std::string, PlistValue>>;

    PlistValue() = default;
    static PlistValue MakeString(std::string inText) { return PlistValue(Type::String, std::move(inText)); }
    static PlistValue MakeDate(std::string inText) { return PlistValue(Type::Date, std::move(inText)); }
    static PlistValue MakeData(std::string inText) { return PlistValue(Type::Data, std::move(inText)); }
    static PlistValue MakeInteger(int64_t inValue) { return PlistValue(Type::Integer, inValue); }
    static PlistValue MakeReal(double inValue) { return PlistValue(Type::Real, inValue); }
    static PlistValue MakeBoolean(bool inValue) { return PlistValue(Type::Boolean, inValue); }
    static PlistValue MakeArray(Array inItems) { return PlistValue(Type::Array, std::move(inItems)); }
    static PlistValue MakeDict(Dict inEntries) { return PlistValue(Type::Dict, std::move(inEntries)); }

    Type GetType() const { return fType; }
    bool IsString() const { return fType == Type::String; }

    // The text of a string, date or data value; empty for other types.
    const std::string& GetText() const;
    // The number of an integer value (a real is truncated); 0 for other types.
    int64_t GetInteger() const;
    double GetReal() const;
    bool GetBoolean() const;
    // The items of an array, the entries of a dict; empty for other types.
    const Array& GetArray() const;
    const Dict& GetDict() const;

    // The value of a dict entry, or null when this is not a dict or has no such key.
    const PlistValue* Find(std::string_view inKey) const;

private:
    using Storage = std::variant<std::monostate, std::string, int64_t, double, bool, Array, Dict>;
    PlistValue(Type inType, Storage inStorage) : fType(inType), fStorage(std::move(inStorage)) {}

    Type fType = Type::String;
    Storage fStorage = std::string();
};

// Parses a whole property list. On success sets outRoot to its one value and returns true; on
// failure leaves outRoot unchanged, stores a short reason in outError when given, returns false.
bool ParsePropertyList(std::string_view inXML, PlistValue& outRoot, std::string* outError = nullptr);

// The largest input ParsePropertyList accepts, in bytes.
constexpr size_t kMaxPropertyListSize = 16 * 1024 * 1024;

} // namespace zorn::platform
