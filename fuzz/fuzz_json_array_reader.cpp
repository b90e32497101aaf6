// The JSON array reader on arbitrary input (valid UTF-8 as text, anything else two bytes a UTF-16
// unit). Oracles:
// - nothing breaks (the sanitizers watch), nothing is pushed on the error context, the result is
//   0 or 'zorn' 550, a failure leaves no element, and there are never more elements than units;
// - every conversion writes its count of elements and answers the reader's error;
// - round trip: the elements written back by the array writer as quoted strings read back as the
//   same elements.
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/VJSONArrayReader.h"
#include "toolbox/json/VJSONArrayWriter.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <cstdint>
#include <vector>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartTasks();
    const VString text = zorn::fuzz::TextOfInput(data, size);
    StErrorContextInstaller errors;
    VJSONArrayReader reader(text);
    VError error = VE_OK;
    const int32_t count = reader.GetCountOfElements(&error);
    Check(error == VE_OK || error == VE_JSON_MALFORMED);
    Check(error == VE_OK || count == 0);
    Check(count >= 0 && count <= text.GetLength());

    const size_t room = static_cast<size_t>(count);
    std::vector<int16_t> shorts(room);
    std::vector<int32_t> longs(room);
    std::vector<double> reals(room);
    std::vector<char> bools(room);
    Check(reader.ToArrayShort(shorts.data()) == error);
    Check(reader.ToArrayLong(longs.data()) == error);
    Check(reader.ToArrayReal(reals.data()) == error);
    Check(reader.ToArrayBool(bools.data()) == error);
    std::vector<VString> elements;
    reader.ToArrayString(elements, false);
    Check(elements.size() == room);

    VJSONArrayWriter writer;
    writer.AddStrings(elements, VJSONWriter::kQuoted);
    VString written;
    writer.GetArray(written, false);
    VJSONArrayReader again(written);
    VError againError = VE_OK;
    Check(again.GetCountOfElements(&againError) == count && againError == VE_OK);
    std::vector<VString> againElements;
    again.ToArrayString(againElements, false);
    for (size_t i = 0; i < room; ++i)
    {
        Check(againElements[i].EqualToStringRaw(elements[i]));
    }
    Check(errors.GetContext()->GetErrorList().empty());
    return 0;
}
