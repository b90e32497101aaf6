// The parse events of a JSON text recorded by RapidJSON's SAX reader (a tape), and the tree built
// from them as the readers build it (VJSONBuilder), for tests and benchmarks that need our values
// of real documents. Documents: twitter, citm_catalog and canada of the Debian package
// golang-github-valyala-fastjson-dev, when it is installed.
#pragma once

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"

#include <rapidjson/reader.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifndef ZORN_JSON_TESTDATA
#define ZORN_JSON_TESTDATA "/usr/share/gocode/src/github.com/valyala/fastjson/testdata"
#endif

namespace zorn::test
{

struct JSONTape
{
    enum Kind : uint8_t
    {
        kNull,
        kFalse,
        kTrue,
        kNumber,
        kString,
        kKey,
        kStartObject,
        kEndObject,
        kStartArray,
        kEndArray,
    };
    struct Event
    {
        Kind fKind;
        uint32_t fCount; // members, elements or string units
        size_t fOffset;  // of a string in fText
        double fNumber;
    };

    std::u16string_view Text(const Event& inEvent) const
    {
        return {fText.data() + inEvent.fOffset, inEvent.fCount};
    }

    std::vector<Event> fEvents;
    std::u16string fText;
    size_t fValues = 0; // scalars and containers, names not counted
};

// RapidJSON's SAX handler that records a tape.
struct JSONTapeRecorder : rapidjson::BaseReaderHandler<rapidjson::UTF16<char16_t>, JSONTapeRecorder>
{
    explicit JSONTapeRecorder(JSONTape& ioTape) : fTape(ioTape) {}
    bool Add(JSONTape::Kind inKind, uint32_t inCount = 0, double inNumber = 0)
    {
        fTape.fEvents.push_back({inKind, inCount, 0, inNumber});
        if (inKind != JSONTape::kKey && inKind != JSONTape::kEndObject && inKind != JSONTape::kEndArray)
        {
            ++fTape.fValues;
        }
        return true;
    }
    bool AddText(JSONTape::Kind inKind, const char16_t* inText, rapidjson::SizeType inLength)
    {
        Add(inKind, inLength);
        fTape.fEvents.back().fOffset = fTape.fText.size();
        fTape.fText.append(inText, inLength);
        return true;
    }
    bool Null() { return Add(JSONTape::kNull); }
    bool Bool(bool inValue) { return Add(inValue ? JSONTape::kTrue : JSONTape::kFalse); }
    bool Int(int inValue) { return Double(inValue); }
    bool Uint(unsigned inValue) { return Double(inValue); }
    bool Int64(int64_t inValue) { return Double(static_cast<double>(inValue)); }
    bool Uint64(uint64_t inValue) { return Double(static_cast<double>(inValue)); }
    bool Double(double inValue) { return Add(JSONTape::kNumber, 0, inValue); }
    bool String(const char16_t* inText, rapidjson::SizeType inLength, bool)
    {
        return AddText(JSONTape::kString, inText, inLength);
    }
    bool Key(const char16_t* inText, rapidjson::SizeType inLength, bool)
    {
        return AddText(JSONTape::kKey, inText, inLength);
    }
    bool StartObject() { return Add(JSONTape::kStartObject); }
    bool EndObject(rapidjson::SizeType inCount) { return Add(JSONTape::kEndObject, inCount); }
    bool StartArray() { return Add(JSONTape::kStartArray); }
    bool EndArray(rapidjson::SizeType inCount) { return Add(JSONTape::kEndArray, inCount); }

    JSONTape& fTape;
};

// The UTF-8 text of a test document, or nothing when it is not installed.
inline std::optional<std::string> ReadJSONTestDocument(const char* inName)
{
    std::ifstream file(std::string(ZORN_JSON_TESTDATA) + "/" + inName + ".json", std::ios::binary);
    if (!file)
    {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The tape of a UTF-8 text; false when it does not parse.
inline bool RecordJSONTape(const std::string& inText, JSONTape& outTape)
{
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF16<char16_t>> reader;
    JSONTapeRecorder recorder(outTape);
    rapidjson::StringStream stream(inText.c_str());
    return !reader.Parse(stream, recorder).IsError();
}

// The tree of the tape, built as a reader builds it: values gathered on stacks, each container
// made at its end from a span of its members.
inline VJSONValue ReplayJSONTape(const JSONTape& inTape)
{
    VJSONBuilder builder;
    std::vector<VJSONValue> elements;
    std::vector<VJSONObject::OwnProperty> members;
    std::vector<VJSONKey> keys;
    std::vector<bool> inObject;
    auto put = [&](VJSONValue&& inValue)
    {
        if (!inObject.empty() && inObject.back())
        {
            members.push_back({std::move(keys.back()), std::move(inValue)});
            keys.pop_back();
        }
        else
        {
            elements.push_back(std::move(inValue));
        }
    };
    for (const JSONTape::Event& event : inTape.fEvents)
    {
        switch (event.fKind)
        {
        case JSONTape::kNull:
            put(builder.Null());
            break;
        case JSONTape::kFalse:
            put(builder.Bool(false));
            break;
        case JSONTape::kTrue:
            put(builder.Bool(true));
            break;
        case JSONTape::kNumber:
            put(builder.Number(event.fNumber));
            break;
        case JSONTape::kString:
            put(builder.String(inTape.Text(event)));
            break;
        case JSONTape::kKey:
            keys.push_back(builder.Key(inTape.Text(event)));
            break;
        case JSONTape::kStartObject:
            inObject.push_back(true);
            break;
        case JSONTape::kStartArray:
            inObject.push_back(false);
            break;
        case JSONTape::kEndObject:
        {
            inObject.pop_back();
            VJSONValue object = builder.Object(event.fCount);
            size_t first = members.size() - event.fCount;
            object.GetObject()->AssignOwn(std::span(members).subspan(first));
            members.resize(first);
            put(std::move(object));
            break;
        }
        case JSONTape::kEndArray:
        {
            inObject.pop_back();
            VJSONValue array = builder.Array(event.fCount);
            size_t first = elements.size() - event.fCount;
            array.GetArray()->AssignValues(std::span(elements).subspan(first));
            elements.resize(first);
            put(std::move(array));
            break;
        }
        }
    }
    return elements.empty() ? VJSONValue() : std::move(elements.back());
}

} // namespace zorn::test
