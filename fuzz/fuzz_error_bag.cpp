// Saved error contexts read back from their stored JSON form, on arbitrary input (valid UTF-8 as
// text, anything else two bytes a UTF-16 unit). Oracles:
// - nothing breaks (the sanitizers watch), and a task pushes the errors a context reads, up to
//   the first element refused;
// - round trip: the errors read are saved and loaded again, and come back with the same codes
//   and tasks in the same order, and, from the second round on, the same parameters. (The JSON text between
//   is the bag reader's own contract, fuzzed by fuzz_json_to_bag: it reads ten-unit dates out of strings.)
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

bool SameError(const VErrorBase& inOne, const VErrorBase& inOther, bool inWithParameters)
{
    VString oneName;
    VString otherName;
    int32_t oneID = 0;
    int32_t otherID = 0;
    inOne.GetTaskName(oneName, &oneID);
    inOther.GetTaskName(otherName, &otherID);
    VString oneParameters;
    VString otherParameters;
    VJSONValue(inOne.GetParameters()).Stringify(oneParameters);
    VJSONValue(inOther.GetParameters()).Stringify(otherParameters);
    return inOne.GetError() == inOther.GetError() && oneID == otherID &&
           oneName.EqualToStringRaw(otherName) &&
           (!inWithParameters || oneParameters.EqualToStringRaw(otherParameters));
}

VRefPtr<VErrorContext> SavedAndLoaded(const VErrorContext& inContext)
{
    VRefPtr<VValueBag> saved(new VValueBag(), true);
    inContext.SaveToBag(*saved);
    VRefPtr<VErrorContext> loaded(new VErrorContext(), true);
    Check(loaded->LoadFromBag(*saved) == VE_OK);
    return loaded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartTasks();
    const VString text = zorn::fuzz::TextOfInput(data, size);
    StErrorContextInstaller errors(false);
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    if (bag->FromJSONString(text) != VE_OK)
    {
        return 0;
    }
    VRefPtr<VErrorContext> loaded(new VErrorContext(), true);
    loaded->LoadFromBag(*bag);

    // A task pushes the same errors up to the first refused element.
    {
        StErrorContextInstaller scope;
        VError err = VTask::GetCurrent()->GetErrorContext(true)->PushErrorsFromBag(*bag);
        const auto& pushed = scope.GetContext()->GetErrorList();
        // A refused field pushes one error; the JSON layer's refusals may push more.
        if (err == VE_OK || err == VE_ERROR_BAG_INVALID)
        {
            const size_t read = pushed.size() - (err != VE_OK ? 1 : 0);
            Check(read <= loaded->GetErrorList().size());
            for (size_t i = 0; i < read; ++i)
            {
                Check(SameError(*pushed[i], *loaded->GetErrorList()[i], true));
            }
        }
    }

    // Codes, tasks and order survive a save and load; the parameters too, once a null a bag read
    // from outside may hold has become "" (a bag's new attribute cannot be null).
    VRefPtr<VErrorContext> again = SavedAndLoaded(*loaded);
    VRefPtr<VErrorContext> third = SavedAndLoaded(*again);
    Check(again->GetErrorList().size() == loaded->GetErrorList().size());
    Check(third->GetErrorList().size() == loaded->GetErrorList().size());
    for (size_t i = 0; i < again->GetErrorList().size(); ++i)
    {
        Check(SameError(*again->GetErrorList()[i], *loaded->GetErrorList()[i], false));
        Check(SameError(*third->GetErrorList()[i], *again->GetErrorList()[i], true));
    }
    return 0;
}
