#include "tests/toolbox/json/JSONPointerTestSupport.h"
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBinaryImporter.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONObjectFactory.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Bytes = std::vector<uint8_t>;

// The bytes of a uint16 length and the units of an ASCII name, or of a uint32 length and units.
Bytes Name(const char* inName)
{
    Bytes bytes{static_cast<uint8_t>(std::strlen(inName)), 0};
    for (const char* c = inName; *c != 0; ++c)
    {
        bytes.insert(bytes.end(), {static_cast<uint8_t>(*c), 0});
    }
    return bytes;
}
Bytes Text32(const char* inText)
{
    Bytes bytes{static_cast<uint8_t>(std::strlen(inText)), 0, 0, 0};
    for (const char* c = inText; *c != 0; ++c)
    {
        bytes.insert(bytes.end(), {static_cast<uint8_t>(*c), 0});
    }
    return bytes;
}
Bytes Cat(std::initializer_list<Bytes> inParts)
{
    Bytes all;
    for (const Bytes& part : inParts)
    {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class JSONCompact : public TaskManagerTest
{
protected:
    struct Read
    {
        VError fError = VE_OK;
        VJSONValue fValue;
    };

    static Bytes Write(const VJSONValue& inValue, VError* outError = nullptr)
    {
        VJSONBinaryWriter::Buffer buffer;
        VJSONBinaryWriter writer;
        VError error = writer.StreamValue(inValue, buffer);
        if (outError != nullptr)
        {
            *outError = error;
        }
        else
        {
            EXPECT_EQ(error, VE_OK);
        }
        const uint8_t* data = static_cast<const uint8_t*>(buffer.GetDataPtr());
        return Bytes(data, data + buffer.GetDataSize());
    }
    static Read ReadBytes(const Bytes& inBytes)
    {
        StErrorContextInstaller errors(false, true);
        Read read;
        VJSONBinaryImporter importer(inBytes.data(), inBytes.size());
        read.fError = importer.GetValue(read.fValue);
        return read;
    }
};

TEST_F(JSONCompact, WrittenBytes)
{
    VJSONValue x(JSON_object);
    VJSONValue shared = MakeObject({{"a", x}, {"b", x}});
    EXPECT_EQ(Write(shared),
              Cat({{0x05}, Name("a"), {0x05, 0xFF, 0xFF}, Name("b"), {0xFF}, Text32("#/a"), {0xFF, 0xFF}}))
        << "a container met again is a reference to its first place";

    VJSONValue cycle(JSON_object);
    cycle.GetObject()->SetProperty(Str("self"), cycle);
    EXPECT_EQ(Write(cycle), Cat({{0x05}, Name("self"), {0xFF}, Text32("#"), {0xFF, 0xFF}}));
    VJSONBinaryWriter::Buffer buffer;
    VJSONBinaryWriter writer;
    ASSERT_EQ(writer.StreamObject(cycle.GetObject(), buffer), VE_OK)
        << "the starting container is '#' for StreamObject too";
    EXPECT_EQ(buffer.GetDataSize(), Write(cycle).size());
    cycle.GetObject()->RemoveProperty(Str("self"));

    VJSONValue escaped = MakeObject({{"a/b~", x}, {"r", x}});
    EXPECT_EQ(
        Write(escaped),
        Cat({{0x05}, Name("a/b~"), {0x05, 0xFF, 0xFF}, Name("r"), {0xFF}, Text32("#/a~1b~0"), {0xFF, 0xFF}}));

    VJSONValue inList = MakeArray({VJSONValue(JSON_null), x, x});
    EXPECT_EQ(Write(inList), Cat({{0x06, 3, 0, 0, 0, 0x00, 0x05, 0xFF, 0xFF, 0xFF}, Text32("#/1")}));

    EXPECT_EQ(Write(VJSONValue(JSON_object)), (Bytes{0x05, 0xFF, 0xFF}));
    EXPECT_EQ(Write(VJSONValue(JSON_array)), (Bytes{0x06, 0, 0, 0, 0}));
    EXPECT_EQ(Write(VJSONValue(VString("hi"))), Cat({{0x03}, Text32("hi")}));
    EXPECT_EQ(Write(VJSONValue(1.0)), (Bytes{0x04, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(Write(MakeArray(
                  {VJSONValue(JSON_true), VJSONValue(JSON_false), VJSONValue(), VJSONValue(JSON_null)})),
              (Bytes{0x06, 4, 0, 0, 0, 0x02, 0x01, 0x07, 0x00}));
    VJSONValue date;
    date.SetDate(1970, 1, 2);
    VTime time;
    date.GetTime(time);
    int64_t milliseconds = time.GetMilliseconds();
    Bytes dateBytes{0x08};
    dateBytes.insert(dateBytes.end(), reinterpret_cast<const uint8_t*>(&milliseconds),
                     reinterpret_cast<const uint8_t*>(&milliseconds) + 8);
    EXPECT_EQ(Write(date), dateBytes) << "the milliseconds of the day at 00:00 UTC";
}

TEST_F(JSONCompact, ReadBytesTable)
{
    struct Case
    {
        Bytes fBytes;
        VError fError;
        const char16_t* fValue; // JSON text of the result
        const char* fWhy;
    };
    const Case cases[] = {
        {{}, VE_OK, u"undefined", "no data"},
        {{0x09, 4, 0, 0, 0, 0x02}, VE_OK, u"true", "a reserved record is skipped"},
        {{0x80, 6, 0, 0, 0, 0xAA, 0xBB, 0x01}, VE_OK, u"false", "with its bytes"},
        {{0x09, 3, 0, 0, 0, 0x02}, VE_STREAM_EOF, u"undefined", "a reserved size below 4"},
        {{0x09, 9, 0, 0, 0, 0x02}, VE_STREAM_EOF, u"undefined", "a reserved record past the end"},
        {{0x04}, VE_OK, u"undefined", "a number cut short"},
        {{0x08, 1, 2}, VE_OK, u"undefined", "a date cut short"},
        {{0x03}, VE_STREAM_EOF, u"undefined", "a string without its length"},
        {{0x03, 2, 0, 0, 0, 'a', 0}, VE_STREAM_EOF, u"undefined", "a string cut short"},
        {{0x06, 0, 0, 0, 0x80, 0, 0, 0, 0, 0}, VE_STREAM_EOF, u"undefined", "2^31 elements over 5 bytes"},
        {{0x06, 0xFE, 0xFF, 0xFF, 0xFF}, VE_OK, u"undefined", "the undefined array count"},
        {{0x05, 0xFE, 0xFF}, VE_OK, u"undefined", "an object marked undefined"},
        {{0x05, 0x01}, VE_STREAM_EOF, u"{}", "a member header cut after one byte"},
        {{0x05, 0x02, 0x00, 'a', 0}, VE_STREAM_EOF, u"{}", "a name cut short"},
        {{0x05, 0x01, 0x00, 'a', 0, 0x02}, VE_STREAM_EOF, u"{\"a\":true}", "no trailer; the member stays"},
        {{0x05, 0x00, 0x80, 0xFC, 0xFF, 0xFF, 0xFF}, VE_OK, u"{}", "skipped markers"},
        {{0x05, 0x01, 0x00, 'a', 0, 0x02, 0xFE, 0xFF, 0xFF, 0xFF},
         VE_OK,
         u"{\"a\":true}",
         "0xFFFE after a member"},
        {{0x05, 0xFD, 0xFF, 1, 2, 3, 4, 9, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF},
         VE_STREAM_EOF,
         u"{}",
         "a payload past the end"},
        {{0x05, 0xFD, 0xFF, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0},
         VE_OK,
         u"{}",
         "an unknown signature reads as a plain object"},
        {{0x05, 0xFD, 0xFF, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         VE_STREAM_EOF,
         u"{}",
         "a 64-bit payload length"},
        {Cat({{0xFF}, Text32("#")}), VE_OK, u"undefined", "a reference with nothing before it"},
        {Cat({{0x06, 2, 0, 0, 0, 0x06, 0, 0, 0, 0, 0xFF}, Text32("#/9")}), VE_OK, u"[[],null]",
         "an unresolved reference is undefined"},
        {Cat({{0x06, 1, 0, 0, 0, 0xFF}, Text32("x.json#/0")}), VE_OK, u"[null]", "no other document"},
        {{0xFF, 9, 0, 0, 0, '#', 0}, VE_STREAM_EOF, u"undefined", "a reference cut short"},
    };
    for (const Case& c : cases)
    {
        Read read = ReadBytes(c.fBytes);
        EXPECT_EQ(read.fError, c.fError) << c.fWhy;
        EXPECT_EQ(Written(read.fValue), std::u16string(c.fValue)) << c.fWhy;
    }
}

TEST_F(JSONCompact, SharedAndCyclicContainersComeBackAsOne)
{
    Read shared = ReadBytes(Cat({{0x05},
                                 Name("a"),
                                 {0x05},
                                 Name("k"),
                                 {0x02, 0xFF, 0xFF},
                                 Name("b"),
                                 {0xFF},
                                 Text32("#/a"),
                                 {0xFF, 0xFF}}));
    ASSERT_EQ(shared.fError, VE_OK);
    EXPECT_EQ(shared.fValue.GetProperty(Str("a")).GetObject(),
              shared.fValue.GetProperty(Str("b")).GetObject());

    Read cycle = ReadBytes(Cat({{0x05}, Name("self"), {0xFF}, Text32("#"), {0xFF, 0xFF}}));
    ASSERT_EQ(cycle.fError, VE_OK);
    EXPECT_EQ(cycle.fValue.GetProperty(Str("self")).GetObject(), cycle.fValue.GetObject());
    cycle.fValue.GetObject()->RemoveProperty(Str("self"));
}

TEST_F(JSONCompact, MembersKeepTheirOrderAroundReferencesAndRemovals)
{
    struct Case
    {
        Bytes fBytes;
        const char16_t* fValue;
        const char* fWhy;
    };
    const Case cases[] = {
        {Cat({{0x05},
              Name("a"),
              {0x02},
              Name("b"),
              {0x06, 3, 0, 0, 0, 0x01, 0xFF},
              Text32("#/a"),
              {0x00},
              Name("c"),
              {0x00, 0xFF, 0xFF}}),
         u"{\"a\":true,\"b\":[false,true,null],\"c\":null}",
         "a reference inside open containers sees what came before; what follows keeps its place"},
        {Cat({{0x05},
              Name("a"),
              {0x02},
              Name("b"),
              {0x01},
              Name("a"),
              {0x07},
              Name("c"),
              {0x00, 0xFF, 0xFF}}),
         u"{\"b\":false,\"c\":null}", "undefined removes the earlier member of its name"},
        {Cat({{0x05}, Name("a"), {0x02}, Name("b"), {0x01}, Name("a"), {0x00, 0xFF, 0xFF}}),
         u"{\"a\":null,\"b\":false}", "a repeated name keeps its first place and its last value"},
        {Cat({{0x06, 3, 0, 0, 0, 0x05}, Name("k"), {0x02, 0xFF, 0xFF, 0xFF}, Text32("#/0"), {0x01}}),
         u"[{\"k\":true},{\"k\":true},false]", "an element met again, between gathered elements"},
    };
    for (const Case& c : cases)
    {
        Read read = ReadBytes(c.fBytes);
        EXPECT_EQ(read.fError, VE_OK) << c.fWhy;
        EXPECT_EQ(Written(read.fValue), std::u16string(c.fValue)) << c.fWhy;
    }
}

TEST_F(JSONCompact, WriterRefusals)
{
    VJSONValue longName(JSON_object);
    longName.GetObject()->SetProperty(VString(std::string(0x8000, 'n').c_str()), VJSONValue(1.0));
    VJSONBinaryWriter::Buffer buffer;
    buffer.AddData("kept", 4);
    VJSONBinaryWriter writer;
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(writer.StreamValue(longName, buffer), VE_INVALID_PARAMETER);
    }
    EXPECT_EQ(buffer.GetDataSize(), 4u) << "nothing of a refused value stays";
    VJSONValue fits(JSON_object);
    fits.GetObject()->SetProperty(VString(std::string(0x7FFF, 'n').c_str()), VJSONValue(1.0));
    EXPECT_EQ(Read(ReadBytes(Write(fits))).fValue.GetObject()->GetOwnCount(), 1u);

    // Deeper than the nesting bound: 108 on writing and on reading.
    VJSONValue deep(JSON_array);
    VJSONValue inner = deep;
    for (uint32_t i = 0; i < StJSONNestingGuard::kMaxDepth + 5; ++i)
    {
        VJSONValue next(JSON_array);
        inner.GetArray()->Push(next);
        inner = next;
    }
    VError error = VE_OK;
    {
        StErrorContextInstaller errors(false, true);
        Write(deep, &error);
    }
    EXPECT_EQ(error, VE_JSON_NESTING_TOO_DEEP);
    Bytes nested;
    for (uint32_t i = 0; i < StJSONNestingGuard::kMaxDepth + 5; ++i)
    {
        nested.insert(nested.end(), {0x06, 1, 0, 0, 0});
    }
    nested.push_back(0x00);
    EXPECT_EQ(ReadBytes(nested).fError, VE_JSON_NESTING_TOO_DEEP);
}

// A sample with every kind of record, shared containers and a cycle.
VJSONValue Sample()
{
    VJSONValue date;
    date.SetDate(2024, 2, 29);
    VJSONValue shared = MakeArray({VJSONValue(VString("s\u00e9")), VJSONValue(-0.5)});
    VJSONValue sample = MakeObject({{"n", VJSONValue(3.25)},
                                    {"t", VJSONValue(JSON_true)},
                                    {"z", VJSONValue(JSON_null)},
                                    {"d", date},
                                    {"list", MakeArray({shared, VJSONValue(), MakeObject({{"in", shared}})})},
                                    {"again", shared},
                                    {"", VJSONValue(VString(""))}});
    return sample;
}

TEST_F(JSONCompact, RoundTripAndEveryTruncation)
{
    VJSONValue sample = Sample();
    Bytes bytes = Write(sample);
    Read read = ReadBytes(bytes);
    ASSERT_EQ(read.fError, VE_OK);
    EXPECT_TRUE(read.fValue.DeepEqualTo(sample, VCompareOptions()));
    EXPECT_EQ(Write(read.fValue), bytes) << "read and written again, the same bytes";
    EXPECT_EQ(read.fValue.GetProperty(Str("again")).GetArray(),
              read.fValue.GetProperty(Str("list")).GetArray()->GetAt(0).GetArray());

    for (size_t size = 1; size < bytes.size(); ++size)
    {
        EXPECT_EQ(ReadBytes(Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size))).fError,
                  VE_STREAM_EOF)
            << "cut after " << size << " bytes";
    }
}

// A native implementation with a compact payload of its own.
class Payload : public IJSONObject
{
public:
    static constexpr uint32_t kSignature = 0x54737431; // 'Tst1'
    std::string fBytes;

    uint32_t IJSON_GetBinarySignature() override { return kSignature; }
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError*) override
    {
        uint64_t length = fBytes.size();
        ioBuffer.AddData(&length, 8);
        ioBuffer.AddData(fBytes.data(), fBytes.size());
        return eJSONStatusDone;
    }
    EJSONStatus IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject* inOther, bool* outEqual) override
    {
        auto* other = dynamic_cast<Payload*>(inOther->GetImplementation());
        *outEqual = other != nullptr && other->fBytes == fBytes;
        return eJSONStatusDone;
    }
    static IJSONObject* Create(VJSONObject*, uint32_t, const void* inPayload, size_t inSize,
                               VRefPtr<VJSONObject>&, VError*)
    {
        auto* made = new Payload();
        made->fBytes.assign(static_cast<const char*>(inPayload), inSize);
        return made;
    }
};

TEST_F(JSONCompact, NativeObjectsGoThroughTheFactory)
{
    VRefPtr<Payload> payload(new Payload(), true);
    payload->fBytes = "abc";
    VRefPtr<VJSONObject> native(new VJSONObject(payload.Get()), true);
    native->SetProperty(Str("m"), VJSONValue(1.0));
    VJSONValue value(native.Get());
    Bytes bytes = Write(value);
    EXPECT_EQ(bytes, Cat({{0x05},
                          Name("m"),
                          {0x04, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0xFD, 0xFF, 0x31, 0x74, 0x73, 0x54},
                          {3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}}));

    EXPECT_EQ(ReadBytes(bytes).fValue.GetObject()->GetImplementation(), nullptr) << "not registered: plain";
    VJSONObjectFactory& factory = VJSONObjectFactory::Get();
    factory.RegisterSignature(Payload::kSignature, &Payload::Create);
    EXPECT_TRUE(factory.IsSignatureSupported(Payload::kSignature));
    Read read = ReadBytes(bytes);
    ASSERT_EQ(read.fError, VE_OK);
    auto* readPayload = dynamic_cast<Payload*>(read.fValue.GetObject()->GetImplementation());
    ASSERT_NE(readPayload, nullptr);
    EXPECT_EQ(readPayload->fBytes, "abc");
    EXPECT_EQ(read.fValue.GetProperty(Str("m")).GetNumber(), 1);

    // Text cannot carry it: Stringify 0x800 sends the compact form, ParseFromString reads it back.
    VString text;
    ASSERT_EQ(value.Stringify(text, VJSONWriter::kQuoted | VJSONWriter::kBinaryFallback), VE_OK);
    EXPECT_EQ(Text(text).rfind(u"{\"__PRIVATE_BINARY_OBJECT\":\"", 0), 0u);
    VJSONValue parsed;
    ASSERT_EQ(parsed.ParseFromString(text), VE_OK);
    EXPECT_TRUE(parsed.DeepEqualTo(value, VCompareOptions()));
    EXPECT_TRUE(factory.UnRegisterSignature(Payload::kSignature));
    EXPECT_FALSE(factory.UnRegisterSignature(Payload::kSignature));
}

TEST_F(JSONCompact, ScriptClassesComeBackFromTheProcessStore)
{
    VJSONClassStore* store = new VJSONClassStore(Str("zq"));
    VJSONClassStore::SetProcessStore(store);
    store->AddRootClasses();
    VRefPtr<VJSONObject> thing(
        VJSONClass::Create(Str("Thing"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, Str("zq"), 0),
        true);
    store->AddClass(thing.Get(), 0);
    VRefPtr<VJSONObject> instance(
        VJSONClass::CastClassObject(thing.Get())->CreateInstance(thing.Get(), nullptr), true);
    instance->SetProperty(Str("a"), VJSONValue(JSON_true));

    Bytes bytes = Write(VJSONValue(instance.Get()));
    EXPECT_EQ(bytes, Cat({{0x05},
                          Name("a"),
                          {0x02, 0xFD, 0xFF, '*', '*', '*', '*', 18, 0, 0, 0, 0, 0, 0, 0},
                          Name("zq"),
                          Name("Thing")}));
    Read read = ReadBytes(bytes);
    ASSERT_EQ(read.fError, VE_OK);
    EXPECT_EQ(read.fValue.GetObject()->GetClass(), VJSONClass::CastClassObject(thing.Get()));
    EXPECT_EQ(Write(VJSONValue(JSON_object)), (Bytes{0x05, 0xFF, 0xFF})) << "the root Object class is plain";

    VJSONClassStore::SetProcessStore(nullptr);
    read.fValue.SetUndefined();
    Read unknown = ReadBytes(bytes);
    EXPECT_EQ(unknown.fError, VE_OK) << "without the store the instance reads as a plain object";
    EXPECT_EQ(Written(unknown.fValue), u"{\"a\":true}");
    store->Release();
}

TEST_F(JSONCompact, StringifyFallsBackOnlyWhenTextCannotCarryTheValue)
{
    VString text;
    ASSERT_EQ(MakeObject({{"a", VJSONValue(1.0)}})
                  .Stringify(text, VJSONWriter::kQuoted | VJSONWriter::kBinaryFallback),
              VE_OK);
    EXPECT_EQ(Text(text), u"{\"a\":1}");

    VJSONValue x(JSON_object);
    VJSONValue shared = MakeObject({{"a", x}, {"b", x}});
    ASSERT_EQ(shared.Stringify(text, VJSONWriter::kQuoted | VJSONWriter::kBinaryFallback), VE_OK);
    VJSONValue parsed;
    ASSERT_EQ(parsed.ParseFromString(text), VE_OK);
    EXPECT_EQ(parsed.GetProperty(Str("a")).GetObject(), parsed.GetProperty(Str("b")).GetObject())
        << "the repeat survives the text";
}

} // namespace
