// The text builders: the array writer and the flat object writer (exact texts), and the array
// reader (elements, errors, conversions). Numbers here have the same text in every number form.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONArrayReader.h"
#include "toolbox/json/VJSONArrayWriter.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONSingleObjectWriter.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Conversions of the reader compare by the task's collation, so these run on the main task.
class JSONTextBuilders : public TaskManagerTest
{
};

constexpr uint32_t kQuoted = VJSONWriter::kQuoted;

// A value whose JSON text fails.
class FailingValue : public VLong
{
public:
    VError GetJSONString(VString&, JSONStringOptions) const override { return VE_UNIMPLEMENTED; }
};

std::string Written(const std::function<void(VJSONArrayWriter&)>& inWrite)
{
    VJSONArrayWriter writer;
    inWrite(writer);
    VString text;
    writer.GetArray(text, false);
    return Ascii(text);
}

TEST_F(JSONTextBuilders, ArrayWriterTexts)
{
    const int32_t longs[] = {1, -2, 3};
    const int16_t words[] = {7, -8};
    const char bools[] = {1, 0, 2};
    const double reals[] = {0.5, -1.25};
    struct Row
    {
        const char* fWhat;
        std::function<void(VJSONArrayWriter&)> fWrite;
        const char* fText;
    };
    const Row rows[] = {
        {"nothing added", [](VJSONArrayWriter&) {}, "[]"},
        {"a number and a boolean",
         [](VJSONArrayWriter& w)
         {
             w.AddLong(1);
             w.AddBool(false);
         },
         "[1,false]"},
        {"reals in the number form",
         [](VJSONArrayWriter& w)
         {
             w.AddReal(0.5);
             w.AddReal(-1.25);
             w.AddReal(3);
         },
         "[0.5,-1.25,3]"},
        {"NaN and the infinities are null, as JSON has no other",
         [](VJSONArrayWriter& w)
         {
             w.AddReal(std::numeric_limits<double>::quiet_NaN());
             w.AddReal(std::numeric_limits<double>::infinity());
             w.AddReal(-std::numeric_limits<double>::infinity());
         },
         "[null,null,null]"},
        {"quoted strings are escaped", [](VJSONArrayWriter& w) { w.AddString(Str("a\"b\\c\td\n"), kQuoted); },
         R"(["a\"b\\c\td\n"])"},
        {"without option 1 a string goes bare", [](VJSONArrayWriter& w) { w.AddString(Str("x y"), 0); },
         "[x y]"},
        {"option 0x400 escapes & and '",
         [](VJSONArrayWriter& w) { w.AddString("&'", kQuoted | VJSONWriter::kEscapeAmpersandApostrophe); },
         R"(["\u0026\u0027"])"},
        {"an empty string", [](VJSONArrayWriter& w) { w.AddString("", kQuoted); }, R"([""])"},
        {"a null C string adds nothing",
         [](VJSONArrayWriter& w) { w.AddString(static_cast<const char*>(nullptr), 1); }, "[]"},
        {"runs of each kind",
         [&](VJSONArrayWriter& w)
         {
             w.AddLongs(longs, 3);
             w.AddWords(words, 2);
             w.AddBools(bools, 3);
             w.AddReals(reals, 2);
         },
         "[1,-2,3,7,-8,true,false,true,0.5,-1.25]"},
        {"runs with no element or no pointer add nothing",
         [&](VJSONArrayWriter& w)
         {
             w.AddLongs(longs, 0);
             w.AddWords(nullptr, 2);
             w.AddBools(bools, -1);
             w.AddReals(nullptr, 1);
         },
         "[]"},
        {"strings of a vector",
         [](VJSONArrayWriter& w) {
             w.AddStrings({Str("a"), Str("")}, kQuoted);
         },
         R"(["a",""])"},
        {"values by their own JSON text",
         [](VJSONArrayWriter& w)
         {
             w.Add(VLong(7), 0);
             w.Add(VBoolean(true), 0);
             w.Add(VReal(0.5), 0);
             w.Add(VString("s"), kQuoted);
         },
         R"([7,true,0.5,"s"])"},
        {"a value whose text fails adds nothing",
         [](VJSONArrayWriter& w)
         {
             w.Add(FailingValue(), 0);
             w.AddLong(2);
         },
         "[2]"},
        {"nested arrays, an empty one too",
         [](VJSONArrayWriter& w)
         {
             VJSONArrayWriter inner;
             inner.AddLong(1);
             VJSONArrayWriter innermost;
             innermost.AddBool(true);
             inner.AddJSONArray(innermost);
             VJSONArrayWriter empty;
             w.AddJSONArray(inner);
             w.AddJSONArray(empty);
         },
         "[[1,[true]],[]]"},
        {"adding after the text was read keeps the elements apart",
         [](VJSONArrayWriter& w)
         {
             VString text;
             w.AddLong(1);
             w.GetArray(text, true);
             w.AddLong(2);
             w.Close();
             w.AddLong(3);
         },
         "[1,2,3]"},
        {"closing twice closes once",
         [](VJSONArrayWriter& w)
         {
             w.AddLong(1);
             w.Close();
             w.Close();
         },
         "[1]"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fText, Written(row.fWrite)) << row.fWhat;
    }
}

TEST_F(JSONTextBuilders, ArrayWriterHandsItsTextOver)
{
    VJSONArrayWriter writer;
    writer.AddLong(1);
    VString text;
    writer.GetArray(text, true);
    EXPECT_EQ("[1]", Ascii(text));
    writer.GetArray(text, false);
    EXPECT_EQ("[1]", Ascii(text)) << "kept text read again";
    writer.GetArray(text, false);
    EXPECT_EQ("[]", Ascii(text)) << "the writer was reset";

    // The other writer of AddJSONArray is left closed and empty.
    VJSONArrayWriter other;
    other.AddLong(5);
    writer.AddJSONArray(other);
    other.GetArray(text, true);
    EXPECT_EQ("[]", Ascii(text));
    other.AddLong(6);
    other.GetArray(text, true);
    EXPECT_EQ("[6]", Ascii(text));
    writer.GetArray(text, false);
    EXPECT_EQ("[[5]]", Ascii(text));
}

TEST_F(JSONTextBuilders, SingleObjectWriterTexts)
{
    struct Member
    {
        const char* fName;
        const VValueSingle* fValue;
        uint32_t fOptions;
        bool fAdded;
    };
    const VLong one(1);
    const VLong two(2);
    const VString x("x");
    const VReal half(0.5);
    const FailingValue failing;
    struct Row
    {
        const char* fWhat;
        std::vector<Member> fMembers;
        const char* fText;
        bool fStrictJSON = true; // whether the text is JSON to the letter
    };
    const Row rows[] = {
        {"no member", {}, "{}"},
        {"a number and a quoted string",
         {{"a", &one, 0, true}, {"b", &x, kQuoted, true}},
         R"({"a":1,"b":"x"})"},
        {"a string without option 1 goes bare", {{"b", &x, 0, true}}, R"({"b":x})", false},
        {"a real", {{"r", &half, 0, true}}, R"({"r":0.5})"},
        {"a name with a quote, a backslash and a tab is escaped",
         {{"a\"b\\\t", &one, 0, true}},
         R"({"a\"b\\\t":1})"},
        {"an empty name adds nothing", {{"", &one, 0, false}, {"a", &two, 0, true}}, R"({"a":2})"},
        {"a value whose text fails adds nothing", {{"f", &failing, 0, false}}, "{}"},
        {"repeated names are written as given",
         {{"a", &one, 0, true}, {"a", &two, 0, true}},
         R"({"a":1,"a":2})"},
    };
    for (const Row& row : rows)
    {
        VJSONSingleObjectWriter writer;
        for (const Member& member : row.fMembers)
        {
            EXPECT_EQ(member.fAdded, writer.AddMember(VString(member.fName), *member.fValue, member.fOptions))
                << row.fWhat << ": " << member.fName;
        }
        VString text;
        writer.GetObject(text);
        EXPECT_EQ(row.fText, Ascii(text)) << row.fWhat;
        VJSONValue read;
        StErrorContextInstaller errors(false);
        EXPECT_EQ(row.fStrictJSON, VJSONImporter::ParseString(
                                       text, read, VJSONImporter::kStrict | VJSONImporter::kQuiet) == VE_OK)
            << row.fWhat;
    }
}

TEST_F(JSONTextBuilders, SingleObjectWriterGoesOnAfterItsText)
{
    VJSONSingleObjectWriter writer;
    writer.AddMember(Str("a"), VLong(1), 0);
    VString text;
    writer.GetObject(text);
    writer.GetObject(text);
    EXPECT_EQ(R"({"a":1})", Ascii(text)) << "closed once";
    writer.AddMember(Str("b"), VLong(2), 0);
    writer.GetObject(text);
    EXPECT_EQ(R"({"a":1,"b":2})", Ascii(text));
}

TEST_F(JSONTextBuilders, ArrayReaderElementsAndErrors)
{
    struct Row
    {
        const char* fWhat;
        const char* fText;
        VError fError;
        std::vector<std::string> fElements;
    };
    const Row rows[] = {
        {"scalars, a nested array skipped", R"([1,"a",[2,3],true])", VE_OK, {"1", "a", "true"}},
        {"an object gives its names and values", R"([1,{"k":2}])", VE_OK, {"1", "k", "2"}},
        {"quoted strings unescaped, bare words as written",
         R"([ "q\"r\u0041", null, -1.5e3 ])",
         VE_OK,
         {"q\"rA", "null", "-1.5e3"}},
        {"nested arrays deep inside", "[[[1],[2,[3]]],4]", VE_OK, {"4"}},
        {"text before the array is passed over, and after it", "x = [1] tail [2]", VE_OK, {"1"}},
        {"empty array", "[]", VE_OK, {}},
        {"the written form reads back", "[1,false,\"a,b\",0.5]", VE_OK, {"1", "false", "a,b", "0.5"}},
        {"unclosed", "[1,2", VE_JSON_MALFORMED, {}},
        {"an unclosed nested array", "[1,[2,3]", VE_JSON_MALFORMED, {}},
        {"no array at all", R"({"a":1})", VE_JSON_MALFORMED, {}},
        {"empty text", "", VE_JSON_MALFORMED, {}},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        VJSONArrayReader reader(VString(row.fText));
        VError error = 1;
        EXPECT_EQ(static_cast<int32_t>(row.fElements.size()), reader.GetCountOfElements(&error)) << row.fWhat;
        EXPECT_EQ(row.fError, error) << row.fWhat;
        std::vector<VString> texts{Str("kept")};
        reader.ToArrayString(texts, false);
        std::vector<std::string> elements;
        for (const VString& text : texts)
        {
            elements.push_back(Ascii(text));
        }
        EXPECT_EQ(row.fElements, elements) << row.fWhat;
        EXPECT_EQ(VE_OK, errors.GetLastError()) << row.fWhat << ": the reader pushes nothing";
    }

    // A null text is refused as an empty one; FromJSONString starts over.
    VJSONArrayReader reader(VString(true));
    EXPECT_EQ(0, reader.GetCountOfElements(nullptr));
    int32_t longs[1] = {9};
    EXPECT_EQ(VE_JSON_MALFORMED, reader.ToArrayLong(longs));
    EXPECT_EQ(9, longs[0]) << "nothing written on an error";
    reader.FromJSONString(Str("[4]"));
    VError error = 1;
    EXPECT_EQ(1, reader.GetCountOfElements(&error));
    EXPECT_EQ(VE_OK, error);
    std::vector<VString> texts{Str("kept")};
    reader.ToArrayString(texts, true);
    EXPECT_EQ(2u, texts.size());
    EXPECT_EQ("4", Ascii(texts[1]));
}

TEST_F(JSONTextBuilders, ArrayReaderConvertsWhateverTheElementsAre)
{
    // Booleans compare as the process's collation does: English, case not counting.
    StIntlTestProcess process(1033);
    VJSONArrayReader reader(Str(R"(["x", 2.5, true, 70000, "TRUE", -3, null])"));
    ASSERT_EQ(7, reader.GetCountOfElements(nullptr));
    struct Row
    {
        const char* fWhat;
        std::function<VError(std::vector<double>&)> fConvert;
        std::vector<double> fValues;
    };
    const Row rows[] = {
        {"shorts: 0 for words, no number or too big; the integer part of 2.5",
         [&](std::vector<double>& out)
         {
             int16_t values[7] = {};
             VError error = reader.ToArrayShort(values);
             out.assign(values, values + 7);
             return error;
         },
         {0, 2, 0, 0, 0, -3, 0}},
        {"longs",
         [&](std::vector<double>& out)
         {
             int32_t values[7] = {};
             VError error = reader.ToArrayLong(values);
             out.assign(values, values + 7);
             return error;
         },
         {0, 2, 0, 70000, 0, -3, 0}},
        {"reals",
         [&](std::vector<double>& out)
         {
             double values[7] = {};
             VError error = reader.ToArrayReal(values);
             out.assign(values, values + 7);
             return error;
         },
         {0, 2.5, 0, 70000, 0, -3, 0}},
        {"booleans: true in any case, everything else false",
         [&](std::vector<double>& out)
         {
             char values[7] = {};
             VError error = reader.ToArrayBool(values);
             out.assign(values, values + 7);
             return error;
         },
         {0, 0, 1, 0, 1, 0, 0}},
    };
    for (const Row& row : rows)
    {
        std::vector<double> values;
        EXPECT_EQ(VE_OK, row.fConvert(values)) << row.fWhat;
        EXPECT_EQ(row.fValues, values) << row.fWhat;
    }
    EXPECT_EQ(VE_OK, reader.ToArrayReal(nullptr)) << "a null destination writes nothing";
}

} // namespace
