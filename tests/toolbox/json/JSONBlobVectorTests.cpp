#include "tests/toolbox/json/JSONClassTestSupport.h"
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONBinaryImporter.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONBlob.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONVector.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Bytes = std::vector<uint8_t>;

// The classes are built once per process, in the process store: the store is installed for the
// whole program, before the first blob or vector.
class BlobVector : public TaskManagerTest
{
protected:
    static void SetUpTestSuite()
    {
        if (VJSONClassStore::GetProcessStore() == nullptr)
        {
            VJSONClassStore* store = new VJSONClassStore(Str("zq"));
            VJSONClassStore::SetProcessStore(store);
            store->AddRootClasses();
            store->Release();
        }
    }

    static VRefPtr<VJSONObject> MakeBlob(const Bytes& inBytes)
    {
        return VRefPtr<VJSONObject>(VJSONBlob::Create(inBytes.data(), inBytes.size()), true);
    }
    static Bytes BytesOf(const VJSONObject* inBlob)
    {
        const VJSONBlob* blob = VJSONBlob::CastJSONObject(inBlob);
        return blob == nullptr || blob->GetSize() == 0
                   ? Bytes()
                   : Bytes(blob->GetData(), blob->GetData() + blob->GetSize());
    }
    static VRefPtr<VJSONObject> MakeVector(std::vector<double> inValues)
    {
        return VRefPtr<VJSONObject>(VJSONVector::Create(std::move(inValues)), true);
    }
    static std::vector<double> ValuesOf(const VJSONObject* inVector)
    {
        const VJSONVector* vector = VJSONVector::CastJSONObject(inVector);
        return vector == nullptr ? std::vector<double>{} : vector->GetData().GetValues();
    }
    static std::u16string NamesOfImplementation(const VJSONObject* inObject)
    {
        std::vector<VString> names;
        inObject->GetImplementation()->IJSON_GetPropertyNames(names);
        std::u16string joined;
        for (const VString& name : names)
        {
            joined += (joined.empty() ? u"" : u",") + Text(name);
        }
        return joined;
    }
    static std::u16string Description(const VJSONObject* inObject)
    {
        VString text;
        inObject->GetDescription(text, false);
        return Text(text);
    }
    // Calls a member function of the object's class.
    static VJSONValue Call(VJSONObject* inThis, const char* inName, std::vector<VJSONValue> inParams,
                           EJSONStatus* outStatus = nullptr, VError* outError = nullptr)
    {
        StErrorContextInstaller errors(true, true);
        VJSONValue function = inThis->GetProperty(Str(inName));
        EXPECT_TRUE(function.IsObject()) << inName;
        VJSONValue result = CallFunction(function.GetObject(), inThis, std::move(inParams), outStatus);
        if (outError != nullptr)
        {
            *outError = errors.GetLastError();
        }
        return result;
    }
    static Bytes Write(const VJSONValue& inValue)
    {
        VJSONBinaryWriter::Buffer buffer;
        VJSONBinaryWriter writer;
        EXPECT_EQ(writer.StreamValue(inValue, buffer), VE_OK);
        const uint8_t* data = static_cast<const uint8_t*>(buffer.GetDataPtr());
        return Bytes(data, data + buffer.GetDataSize());
    }
    static VError Read(const Bytes& inBytes, VJSONValue& outValue)
    {
        StErrorContextInstaller errors(false, true);
        VJSONBinaryImporter importer(inBytes.data(), inBytes.size());
        return importer.GetValue(outValue);
    }
};

TEST_F(BlobVector, BlobPropertiesIndexesAndDescription)
{
    VRefPtr<VJSONObject> blob = MakeBlob({1, 2, 255});
    EXPECT_EQ(ClassNameOf(blob.Get()), u"Blob");
    EXPECT_EQ(VJSONClassStore::GetProcessStore()->GetVisibleClassObject(Str("Blob")).Get(),
              blob->GetClassObject())
        << "registered visible in the process store";
    EXPECT_EQ(blob->GetProperty(Str("size")).GetNumber(), 3);
    EXPECT_EQ(NamesOfImplementation(blob.Get()), u"size");
    EXPECT_EQ(Description(blob.Get()), u"3 bytes");
    EXPECT_EQ(blob->GetCountPropertiesByIndex(nullptr), 3u);
    EXPECT_EQ(blob->GetPropertyByIndex(2, nullptr).GetNumber(), 255);

    StErrorContextInstaller errors(true, true);
    EJSONStatus status = eJSONStatusDone;
    EXPECT_TRUE(blob->GetPropertyByIndex(3, &status).IsUndefined());
    EXPECT_EQ(status, eJSONStatusFailed);
    EXPECT_EQ(errors.GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);
    EXPECT_FALSE(blob->SetProperty(Str("size"), VJSONValue(9.0)));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);
    EXPECT_EQ(blob->GetProperty(Str("size")).GetNumber(), 3);

    VRefPtr<VJSONObject> empty(VJSONBlob::do_instantiate(nullptr, nullptr), true);
    EXPECT_EQ(Description(empty.Get()), u"0 bytes");
    EXPECT_EQ(VJSONBlob::CastJSONObject(empty.Get())->GetData(), nullptr) << "no buffer";

    // Sharable without a locker; a clone is the blob itself.
    EXPECT_TRUE(blob->IsShared());
    VJSONCloner cloner;
    VJSONValue clone;
    ASSERT_EQ(cloner.CloneObject(blob.Get(), clone), VE_OK);
    EXPECT_EQ(clone.GetObject(), blob.Get());
}

TEST_F(BlobVector, SlicesShareTheBufferWithinBounds)
{
    VRefPtr<VJSONObject> blob = MakeBlob({10, 11, 12, 13, 14});
    const uint8_t* base = VJSONBlob::CastJSONObject(blob.Get())->GetData();
    struct Row
    {
        const char* fWhat;
        std::vector<VJSONValue> fParams;
        Bytes fExpected;
        ptrdiff_t fOffset; // of the slice's bytes in the source's buffer; -1 for no buffer
    };
    const Row rows[] = {
        {"no parameter: the same bytes", {}, {10, 11, 12, 13, 14}, 0},
        {"negative start counts from the end", {VJSONValue(-2.0)}, {13, 14}, 3},
        {"start and end", {VJSONValue(1.0), VJSONValue(3.0)}, {11, 12}, 1},
        {"fractions are truncated", {VJSONValue(1.9), VJSONValue(3.7)}, {11, 12}, 1},
        {"end before start: empty", {VJSONValue(3.0), VJSONValue(1.0)}, {}, -1},
        {"start past the end: empty", {VJSONValue(9.0)}, {}, -1},
        {"end past the end: to the end", {VJSONValue(4.0), VJSONValue(1e300)}, {14}, 4},
        {"start far before the start: from 0", {VJSONValue(-1e300), VJSONValue(-4.0)}, {10}, 0},
        {"negative end", {VJSONValue(0.0), VJSONValue(-1.0)}, {10, 11, 12, 13}, 0},
    };
    for (const Row& row : rows)
    {
        EJSONStatus status = eJSONStatusFailed;
        VJSONValue slice = Call(blob.Get(), "slice", row.fParams, &status);
        EXPECT_EQ(status, eJSONStatusDone) << row.fWhat;
        ASSERT_TRUE(slice.IsObject()) << row.fWhat;
        EXPECT_EQ(BytesOf(slice.GetObject()), row.fExpected) << row.fWhat;
        const uint8_t* data = VJSONBlob::CastJSONObject(slice.GetObject())->GetData();
        EXPECT_EQ(data, row.fOffset < 0 ? nullptr : base + row.fOffset) << row.fWhat;
    }

    // A slice of a slice stays within its source's view, and outlives it.
    VRefPtr<VJSONObject> inner;
    {
        VRefPtr<VJSONObject> middle(VJSONBlob::CastJSONObject(blob.Get())->CreateSlice(1, 4), true);
        inner.Adopt(VJSONBlob::CastJSONObject(middle.Get())->CreateSlice(-2, 100));
    }
    blob = nullptr;
    EXPECT_EQ(BytesOf(inner.Get()), (Bytes{12, 13}));
}

TEST_F(BlobVector, BlobConstructorAndParameters)
{
    VRefPtr<VJSONObject> source = MakeBlob({7, 8});
    VJSONObject* blobClass = VJSONBlob::GetClass();
    // The instance made from another blob copies its bytes.
    std::vector<VJSONValue> params = {VJSONValue(source.Get())};
    {
        VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
        VRefPtr<VJSONObject> made(VJSONBlob::do_instantiate(blobClass, &context), true);
        EXPECT_EQ(BytesOf(made.Get()), (Bytes{7, 8}));
        EXPECT_NE(VJSONBlob::CastJSONObject(made.Get())->GetData(),
                  VJSONBlob::CastJSONObject(source.Get())->GetData());
        VJSONBlobView view = context.GetBlobParam(1, false);
        EXPECT_EQ(view.fFound, 1u);
        EXPECT_EQ(view.fSize, 2u);
        EXPECT_EQ(view.fBytes, VJSONBlob::CastJSONObject(source.Get())->GetData());
    }
    struct Row
    {
        const char* fWhat;
        std::vector<VJSONValue> fParams;
        VError fError;
        bool fMade;
    };
    const Row rows[] = {
        {"not a blob: an empty blob", {VJSONValue(1.0)}, VE_JSON_OBJECT_PARAM_EXPECTED, true},
        {"a vector is not a blob", {VJSONValue(MakeVector({1}).Get())}, VE_JSON_OBJECT_PARAM_EXPECTED, true},
        {"two parameters",
         {VJSONValue(source.Get()), VJSONValue(source.Get())},
         VE_JSON_TOO_MANY_PARAMETERS,
         false},
    };
    for (const Row& row : rows)
    {
        std::vector<VJSONValue> rowParams = row.fParams;
        StErrorContextInstaller errors(true, true);
        VJSONFunctionContext context(nullptr, nullptr, &rowParams, nullptr, nullptr);
        VRefPtr<VJSONObject> made(VJSONBlob::do_instantiate(blobClass, &context), true);
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        EXPECT_EQ(made.Get() != nullptr, row.fMade) << row.fWhat;
        if (made)
        {
            EXPECT_EQ(BytesOf(made.Get()), Bytes()) << row.fWhat;
        }
        // Optional: no error for a missing or wrong parameter.
        StErrorContextInstaller quiet(true, true);
        EXPECT_EQ(context.GetBlobParam(3, true).fFound, 0u);
        EXPECT_EQ(quiet.GetLastError(), VE_OK);
    }
}

TEST_F(BlobVector, ValueBlobsTravelAsBlobObjects)
{
    const Bytes bytes = {0, 1, 2, 0xFE};
    VBlobWithPtr value(bytes.data(), bytes.size());
    VJSONValue json;
    ASSERT_EQ(value.GetJSONValue(json), VE_OK);
    ASSERT_TRUE(json.IsObject()) << "a blob no longer vanishes";
    EXPECT_EQ(ClassNameOf(json.GetObject()), u"Blob");
    EXPECT_EQ(BytesOf(json.GetObject()), bytes);

    VBlobWithPtr back;
    ASSERT_EQ(back.FromJSONValue(json), VE_OK);
    EXPECT_FALSE(back.IsNull());
    EXPECT_TRUE(back.EqualToSameKind(&value));

    // Through a bag's attribute, and an empty blob stays an empty (not null) blob.
    VValueBag bag;
    const VValueBag::StKey key("data");
    bag.SetValue(key, back);
    VBlobWithPtr stored;
    ASSERT_TRUE(bag.GetValue(key, stored));
    VJSONValue fromBag;
    stored.GetJSONValue(fromBag);
    EXPECT_EQ(BytesOf(fromBag.GetObject()), bytes);

    VBlobWithPtr emptyValue;
    VJSONValue emptyJSON;
    emptyValue.GetJSONValue(emptyJSON);
    VBlobWithPtr emptyBack(bytes.data(), bytes.size());
    emptyBack.FromJSONValue(emptyJSON);
    EXPECT_FALSE(emptyBack.IsNull());
    EXPECT_EQ(emptyBack.GetSize(), 0u);

    // What is no blob object makes a null blob.
    VBlobWithPtr fromNumber(bytes.data(), bytes.size());
    fromNumber.FromJSONValue(VJSONValue(3.0));
    EXPECT_TRUE(fromNumber.IsNull());
}

// The bytes of the bag's attribute when it is a blob.
std::optional<Bytes> BlobAttribute(const VValueBag& inBag, const char* inName)
{
    VString name;
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (name.EqualToUSASCIICString(inName) && value != nullptr && value->GetValueKind() == VK_BLOB)
        {
            const VBlob* blob = static_cast<const VBlob*>(value);
            const uint8_t* data = static_cast<const uint8_t*>(blob->GetDataPtr());
            return blob->GetSize() == 0 ? Bytes() : Bytes(data, data + blob->GetSize());
        }
    }
    return std::nullopt;
}

const VValueBag* OnlyElement(const VValueBag& inBag, const char* inName, int32_t inIndex = 1)
{
    const VBagArray* list = inBag.GetElements(VValueBag::StKey(inName));
    return list == nullptr || list->GetCount() < inIndex ? nullptr : list->GetNth(inIndex);
}

std::string JSONOf(const VValueBag& inBag, uint32_t inOptions = 0)
{
    VString text;
    inBag.GetJSONString(text, inOptions);
    return to_string(text);
}

// A bag with blobs in every place a value can stand: attributes (one empty), a child's attribute
// and an array element.
VRefPtr<VValueBag> BagWithBlobs()
{
    const Bytes data = {0, 1, 2, 0xFE};
    const Bytes inner = {9};
    const Bytes element = {7, 7};
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    bag->SetValue(VValueBag::StKey("data"), VBlobWithPtr(data.data(), data.size()));
    bag->SetValue(VValueBag::StKey("empty"), VBlobWithPtr());
    bag->SetLong(VValueBag::StKey("n"), 3);
    VRefPtr<VValueBag> child(new VValueBag(), true);
    child->SetBool(VValueBag::StKey("____objectunic"), true);
    child->SetValue(VValueBag::StKey("inner"), VBlobWithPtr(inner.data(), inner.size()));
    bag->AddElement(VValueBag::StKey("child"), child.Get());
    for (int i = 0; i < 2; ++i)
    {
        VRefPtr<VValueBag> item(new VValueBag(), true);
        if (i == 0)
        {
            item->SetValue(VValueBag::StKey("____FakeArrayElement"),
                           VBlobWithPtr(element.data(), element.size()));
        }
        else
        {
            item->SetLong(VValueBag::StKey("____FakeArrayElement"), 5);
        }
        bag->AddElement(VValueBag::StKey("list"), item.Get());
    }
    return bag;
}

// Every blob of BagWithBlobs is in the bag, as a blob.
void ExpectBlobsOfBagWithBlobs(const VValueBag& inBag, const char* inWhat)
{
    SCOPED_TRACE(inWhat);
    EXPECT_EQ(BlobAttribute(inBag, "data"), (Bytes{0, 1, 2, 0xFE}));
    EXPECT_EQ(BlobAttribute(inBag, "empty"), Bytes());
    const VValueBag* child = OnlyElement(inBag, "child");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(BlobAttribute(*child, "inner"), Bytes{9});
    const VValueBag* first = OnlyElement(inBag, "list");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(BlobAttribute(*first, "____FakeArrayElement"), (Bytes{7, 7}));
}

TEST_F(BlobVector, BlobAttributesTravelThroughTheBagsJSONTextAndValues)
{
    VRefPtr<VValueBag> bag = BagWithBlobs();
    ExpectBlobsOfBagWithBlobs(*bag, "the bag as built");
    const std::string text = JSONOf(*bag);

    // The text is JSON whose blobs read back as "Blob" objects, compact and pretty alike.
    for (uint32_t options : {0u, VValueBag::kJSONPretty})
    {
        VJSONValue parsed;
        ASSERT_EQ(parsed.ParseFromString(VString(JSONOf(*bag, options).c_str())), VE_OK)
            << JSONOf(*bag, options);
        EXPECT_EQ(BytesOf(parsed.GetProperty(Str("data")).GetObject()), (Bytes{0, 1, 2, 0xFE}));
        EXPECT_EQ(ClassNameOf(parsed.GetProperty(Str("empty")).GetObject()), u"Blob");
        EXPECT_EQ(BytesOf(parsed.GetProperty(Str("child")).GetProperty(Str("inner")).GetObject()), Bytes{9});
        EXPECT_EQ(BytesOf(parsed.GetProperty(Str("list")).GetArray()->GetAt(0).GetObject()), (Bytes{7, 7}));

        VRefPtr<VValueBag> back(new VValueBag(), true);
        ASSERT_EQ(back->FromJSONString(VString(JSONOf(*bag, options).c_str())), VE_OK);
        ExpectBlobsOfBagWithBlobs(*back, options == 0 ? "text" : "pretty text");
        EXPECT_EQ(JSONOf(*back), text);
    }

    // Through the bag's JSON value and back.
    VJSONValue value;
    ASSERT_EQ(bag->GetJSONValue(value), VE_OK);
    EXPECT_EQ(BytesOf(value.GetProperty(Str("data")).GetObject()), (Bytes{0, 1, 2, 0xFE}));
    VRefPtr<VValueBag> fromValue(new VValueBag(), true);
    ASSERT_EQ(fromValue->FromJSONValue(value), VE_OK);
    ExpectBlobsOfBagWithBlobs(*fromValue, "FromJSONValue");
    EXPECT_EQ(JSONOf(*fromValue), text);
    EXPECT_EQ(ClassNameOf(value.GetProperty(Str("data")).GetObject()), u"Blob")
        << "the value is left as it was";

    // Through the direct walks between objects and bags (error parameters use them).
    const detail::VBagJSONAccess* access = detail::BagJSON();
    ASSERT_NE(access, nullptr);
    VError error = VE_OK;
    VRefPtr<VJSONObject> object(access->fBagToObject(*bag, error), true);
    ASSERT_EQ(error, VE_OK);
    ASSERT_NE(object.Get(), nullptr);
    EXPECT_EQ(BytesOf(object->GetProperty(Str("data")).GetObject()), (Bytes{0, 1, 2, 0xFE}));
    VRefPtr<VValueBag> walked(new VValueBag(), true);
    ASSERT_EQ(access->fObjectToBag(object.Get(), *walked), VE_OK);
    ExpectBlobsOfBagWithBlobs(*walked, "ObjectToBag");
    EXPECT_EQ(JSONOf(*walked), text);
}

TEST_F(BlobVector, BlobObjectsOfJSONValuesBecomeBlobAttributes)
{
    const Bytes bytes = {1, 2, 3};
    VRefPtr<VJSONObject> blob = MakeBlob(bytes);
    VJSONValue value = MakeObject(
        {{"blob", VJSONValue(blob.Get())},
         {"nested", MakeObject({{"b", VJSONValue(blob.Get())}, {"d", VJSONValue(Str("2020-01-02"))}})},
         {"list",
          MakeArray({VJSONValue(blob.Get()), VJSONValue(1.0), MakeArray({VJSONValue(blob.Get())})})}});
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    ASSERT_EQ(bag->FromJSONValue(value), VE_OK);
    EXPECT_EQ(BlobAttribute(*bag, "blob"), bytes);
    ASSERT_NE(OnlyElement(*bag, "nested"), nullptr);
    EXPECT_EQ(BlobAttribute(*OnlyElement(*bag, "nested"), "b"), bytes);
    ASSERT_NE(OnlyElement(*bag, "list"), nullptr);
    EXPECT_EQ(BlobAttribute(*OnlyElement(*bag, "list"), "____FakeArrayElement"), bytes);
    // The rest reads as the value's text always did: a date-like text is a date, an array in the
    // array a marked child.
    VTime date;
    EXPECT_TRUE(OnlyElement(*bag, "nested")->GetTime(VValueBag::StKey("d"), date));
    const VValueBag* inArray = OnlyElement(*bag, "list", 3);
    ASSERT_NE(inArray, nullptr);
    ASSERT_NE(OnlyElement(*inArray, "list"), nullptr);
    EXPECT_EQ(BlobAttribute(*OnlyElement(*inArray, "list"), "____FakeArrayElement"), bytes);
    EXPECT_EQ(value.GetProperty(Str("blob")).GetObject(), blob.Get()) << "the value is left as it was";

    // The blob's own text: an object carrying it, which reads back into a bag as the blob under
    // that member's name, and as the blob one level down.
    VString blobText;
    ASSERT_EQ(VBlobWithPtr(bytes.data(), bytes.size()).GetJSONString(blobText), VE_OK);
    VRefPtr<VValueBag> outer(new VValueBag(), true);
    ASSERT_EQ(outer->FromJSONString(blobText), VE_OK);
    EXPECT_EQ(BlobAttribute(*outer, "__PRIVATE_BINARY_OBJECT"), bytes);
    VRefPtr<VValueBag> again(new VValueBag(), true);
    ASSERT_EQ(again->FromJSONString(VString(JSONOf(*outer).c_str())), VE_OK);
    EXPECT_EQ(JSONOf(*again), JSONOf(*outer));
    // A member of that name holding the carrying object stays an object holding the blob, as
    // JSON values read it.
    VRefPtr<VValueBag> deeper(new VValueBag(), true);
    ASSERT_EQ(
        deeper->FromJSONString(VString(R"({"a":{"__PRIVATE_BINARY_OBJECT":)") + blobText + VString("}}")),
        VE_OK);
    ASSERT_NE(OnlyElement(*deeper, "a"), nullptr);
    EXPECT_EQ(BlobAttribute(*OnlyElement(*deeper, "a"), "__PRIVATE_BINARY_OBJECT"), bytes);
}

TEST_F(BlobVector, CompactFormCarriesBothPayloadsAndRefusesEveryTruncation)
{
    VJSONValue root = MakeObject({{"blob", VJSONValue(MakeBlob({1, 2, 3}).Get())},
                                  {"empty", VJSONValue(MakeBlob({}).Get())},
                                  {"vector", VJSONValue(MakeVector({0.5, -2, 1e300}).Get())},
                                  {"none", VJSONValue(MakeVector({}).Get())}});
    Bytes bytes = Write(root);
    VJSONValue read;
    ASSERT_EQ(Read(bytes, read), VE_OK);
    VJSONObject* blob = read.GetProperty(Str("blob")).GetObject();
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(ClassNameOf(blob), u"Blob");
    EXPECT_EQ(BytesOf(blob), (Bytes{1, 2, 3}));
    EXPECT_EQ(BytesOf(read.GetProperty(Str("empty")).GetObject()), Bytes());
    VJSONObject* vector = read.GetProperty(Str("vector")).GetObject();
    ASSERT_NE(vector, nullptr);
    EXPECT_EQ(ClassNameOf(vector), u"Vector");
    EXPECT_EQ(ValuesOf(vector), (std::vector<double>{0.5, -2, 1e300}));
    EXPECT_EQ(ValuesOf(read.GetProperty(Str("none")).GetObject()), std::vector<double>{});
    EXPECT_EQ(Write(read), bytes);

    // The blob's entry: trailer, 'JBlb', the u64 count, the bytes.
    const Bytes blobEntry = {0xFD, 0xFF, 0x62, 0x6C, 0x42, 0x4A, 3, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), blobEntry.begin(), blobEntry.end()), bytes.end());

    for (size_t size = 1; size < bytes.size(); ++size)
    {
        VJSONValue cut;
        EXPECT_EQ(Read(Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size)), cut),
                  VE_STREAM_EOF)
            << "cut after " << size << " bytes";
    }

    // A vector payload that is no whole number of doubles is refused.
    const Bytes odd = {0x05, 0xFD, 0xFF, 0x63, 0x65, 0x56, 0x4A, 5, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
    VJSONValue refused;
    EXPECT_EQ(Read(odd, refused), VE_INVALID_PARAMETER);

    // Text cannot carry them: the compact fallback does.
    VString text;
    ASSERT_EQ(root.Stringify(text, VJSONWriter::kQuoted | VJSONWriter::kBinaryFallback), VE_OK);
    VJSONValue parsed;
    ASSERT_EQ(parsed.ParseFromString(text), VE_OK);
    EXPECT_EQ(Write(parsed), bytes);
}

TEST_F(BlobVector, VectorPropertiesTextAndCollection)
{
    VRefPtr<VJSONObject> vector = MakeVector({1.5, 2, 3});
    EXPECT_EQ(ClassNameOf(vector.Get()), u"Vector");
    EXPECT_EQ(vector->GetProperty(Str("length")).GetNumber(), 3);
    EXPECT_EQ(NamesOfImplementation(vector.Get()), u"length");
    EXPECT_EQ(Description(vector.Get()), u"Vector, length: 3");
    EXPECT_EQ(vector->GetPropertyByIndex(0, nullptr).GetNumber(), 1.5);

    StErrorContextInstaller errors(true, true);
    EJSONStatus status = eJSONStatusDone;
    vector->GetPropertyByIndex(3, &status);
    EXPECT_EQ(status, eJSONStatusFailed);
    EXPECT_EQ(errors.GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);
    EXPECT_FALSE(vector->SetProperty(Str("length"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);

    VJSONValue holder = MakeObject({{"v", VJSONValue(vector.Get())}});
    VString text;
    ASSERT_EQ(holder.Stringify(text, VJSONWriter::kQuoted), VE_OK);
    EXPECT_EQ(Text(text), u"{\"v\":\"[object Vector]\"}");

    VJSONValue collection = Call(vector.Get(), "toCollection", {}, &status);
    EXPECT_EQ(status, eJSONStatusDone);
    ASSERT_TRUE(collection.IsArray());
    EXPECT_TRUE(collection.DeepEqualTo(MakeArray({VJSONValue(1.5), VJSONValue(2.0), VJSONValue(3.0)}),
                                       VCompareOptions()));

    // A clone shares the numbers and keeps the class (and so its functions).
    VJSONCloner cloner;
    VJSONValue clone;
    ASSERT_EQ(cloner.CloneObject(vector.Get(), clone), VE_OK);
    ASSERT_NE(clone.GetObject(), vector.Get());
    EXPECT_EQ(&VJSONVector::CastJSONObject(clone.GetObject())->GetData(),
              &VJSONVector::CastJSONObject(vector.Get())->GetData());
    EXPECT_EQ(ClassNameOf(clone.GetObject()), u"Vector");
    EXPECT_EQ(Call(clone.GetObject(), "dotSimilarity", {VJSONValue(vector.Get())}).GetNumber(), 15.25);

    // No value kind 21 is registered: no typed value.
    EXPECT_EQ(VJSONVector::CastJSONObject(vector.Get())->IJSON_CreateVValue(), nullptr);
}

TEST_F(BlobVector, VectorConstructorAndFunctionErrors)
{
    VJSONObject* vectorClass = VJSONVector::GetClass();
    struct Row
    {
        const char* fWhat;
        std::vector<VJSONValue> fParams;
        VError fError;
    };
    const Row constructors[] = {
        {"no parameter", {}, VE_INVALID_PARAMETER},
        {"not an array", {VJSONValue(1.0)}, VE_INVALID_PARAMETER},
        {"two arrays", {MakeArray({}), MakeArray({})}, VE_INVALID_PARAMETER},
        {"a string element",
         {MakeArray({VJSONValue(1.0), VJSONValue(Str("2"))})},
         VE_JSON_VECTOR_ELEMENT_NOT_NUMBER},
    };
    for (const Row& row : constructors)
    {
        std::vector<VJSONValue> params = row.fParams;
        StErrorContextInstaller errors(true, true);
        VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
        VRefPtr<VJSONObject> made(VJSONVector::do_instantiate(vectorClass, &context), true);
        EXPECT_EQ(made.Get(), nullptr) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
    }
    std::vector<VJSONValue> params = {MakeArray({VJSONValue(1.0), VJSONValue(2.0)})};
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    VRefPtr<VJSONObject> made(VJSONVector::do_instantiate(vectorClass, &context), true);
    EXPECT_EQ(ValuesOf(made.Get()), (std::vector<double>{1, 2}));

    VRefPtr<VJSONObject> a = MakeVector({1, 2});
    const Row calls[] = {
        {"no parameter", {}, VE_INVALID_PARAMETER},
        {"a blob", {VJSONValue(MakeBlob({1}).Get())}, VE_INVALID_PARAMETER},
        {"two vectors", {VJSONValue(a.Get()), VJSONValue(a.Get())}, VE_INVALID_PARAMETER},
        {"different lengths", {VJSONValue(MakeVector({1, 2, 3}).Get())}, VE_JSON_VECTOR_LENGTHS_DIFFER},
    };
    for (const char* function : {"euclideanDistance", "dotSimilarity", "cosineSimilarity"})
    {
        for (const Row& row : calls)
        {
            EJSONStatus status = eJSONStatusDone;
            VError error = VE_OK;
            VJSONValue result = Call(a.Get(), function, row.fParams, &status, &error);
            EXPECT_EQ(status, eJSONStatusFailed) << function << ": " << row.fWhat;
            EXPECT_EQ(error, row.fError) << function << ": " << row.fWhat;
            EXPECT_TRUE(result.IsUndefined()) << function << ": " << row.fWhat;
        }
    }
    EJSONStatus status = eJSONStatusDone;
    VError error = VE_OK;
    Call(a.Get(), "toCollection", {VJSONValue(1.0)}, &status, &error);
    EXPECT_EQ(status, eJSONStatusFailed);
    EXPECT_EQ(error, VE_INVALID_PARAMETER);
}

TEST_F(BlobVector, VectorMathEdgeCases)
{
    struct Row
    {
        const char* fWhat;
        std::vector<double> fA;
        std::vector<double> fB;
        double fDistance;
        double fDot;
        double fCosine;
    };
    const double inf = INFINITY;
    const Row rows[] = {
        {"empty vectors", {}, {}, 0, 0, 0},
        {"a zero vector has no direction", {1, 0}, {0, 0}, 1, 0, 0},
        {"equal vectors", {1, 2}, {1, 2}, 0, 5, 1},
        {"parallel", {1, 2}, {2, 4}, std::sqrt(5.0), 10, 1},
        {"opposite", {1, 2}, {-2, -4}, std::sqrt(45.0), -10, -1},
        {"orthogonal", {1, 0}, {0, 3}, std::sqrt(10.0), 0, 0},
        {"huge elements: the cosine does not overflow", {1e200, 1e200}, {1e200, 1e200}, 0, inf, 1},
        {"tiny elements: the cosine does not underflow", {1e-200, 0}, {2e-200, 0}, 1e-200, 0, 1},
        {"infinite elements: no direction", {inf, 1}, {inf, 1}, NAN, inf, 0},
    };
    for (const Row& row : rows)
    {
        VVectorData a{std::vector<double>(row.fA)};
        VVectorData b{std::vector<double>(row.fB)};
        double distance = -1, dot = -1, cosine = -1;
        ASSERT_TRUE(VVectorData::DoEuclideanDistance(a, b, distance)) << row.fWhat;
        ASSERT_TRUE(VVectorData::DoDotProduct(a, b, dot)) << row.fWhat;
        ASSERT_TRUE(VVectorData::DoCosineSimilarity(a, b, cosine)) << row.fWhat;
        if (std::isnan(row.fDistance))
        {
            EXPECT_TRUE(std::isnan(distance)) << row.fWhat;
        }
        else
        {
            EXPECT_DOUBLE_EQ(distance, row.fDistance) << row.fWhat;
        }
        EXPECT_DOUBLE_EQ(dot, row.fDot) << row.fWhat;
        EXPECT_DOUBLE_EQ(cosine, row.fCosine) << row.fWhat;
    }
    VVectorData a{std::vector<double>{1, 2}};
    VVectorData b{std::vector<double>{1}};
    double out = -1;
    EXPECT_FALSE(VVectorData::DoEuclideanDistance(a, b, out));
    EXPECT_EQ(out, 0);
    EXPECT_FALSE(VVectorData::DoDotProduct(a, b, out));
    EXPECT_FALSE(VVectorData::DoCosineSimilarity(a, b, out));
    EXPECT_EQ(out, 0);
}

TEST_F(BlobVector, VectorMathMatchesAnExtendedPrecisionReference)
{
    std::mt19937_64 random(42);
    std::normal_distribution<double> normal(0.0, 1.0);
    // Lengths around the vector steps, and the embedding size.
    for (size_t length : {1u, 3u, 4u, 7u, 8u, 15u, 16u, 17u, 33u, 1536u, 1537u})
    {
        for (int trial = 0; trial < 4; ++trial)
        {
            std::vector<double> x(length), y(length);
            for (size_t i = 0; i < length; ++i)
            {
                x[i] = normal(random);
                // Correlated with x, so that the cosine is well away from 0.
                y[i] = 0.5 * x[i] + normal(random);
            }
            long double squares = 0, dot = 0, xx = 0, yy = 0;
            for (size_t i = 0; i < length; ++i)
            {
                const long double d = static_cast<long double>(x[i]) - y[i];
                squares += d * d;
                dot += static_cast<long double>(x[i]) * y[i];
                xx += static_cast<long double>(x[i]) * x[i];
                yy += static_cast<long double>(y[i]) * y[i];
            }
            const double refDistance = static_cast<double>(std::sqrt(squares));
            const double refCosine = static_cast<double>(dot / std::sqrt(xx * yy));
            // A dot product may cancel: its error is bounded by the sum of the magnitudes.
            long double magnitudes = 0;
            for (size_t i = 0; i < length; ++i)
            {
                magnitudes += std::fabs(static_cast<long double>(x[i]) * y[i]);
            }
            VVectorData a{std::vector<double>(x)};
            VVectorData b{std::vector<double>(y)};
            double distance = 0, product = 0, cosine = 0;
            ASSERT_TRUE(VVectorData::DoEuclideanDistance(a, b, distance));
            ASSERT_TRUE(VVectorData::DoDotProduct(a, b, product));
            ASSERT_TRUE(VVectorData::DoCosineSimilarity(a, b, cosine));
            EXPECT_NEAR(distance, refDistance, 1e-12 * refDistance) << "length " << length;
            EXPECT_NEAR(product, static_cast<double>(dot), 1e-12 * static_cast<double>(magnitudes))
                << "length " << length;
            EXPECT_NEAR(cosine, refCosine, 1e-12) << "length " << length;
        }
    }
}

} // namespace
