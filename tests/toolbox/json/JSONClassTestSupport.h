// The fixture of the script-class tests: a process store "zq" with its root classes, installed for
// the test; and a call of a function object with a this object and parameters.
#pragma once

#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONClass.h"

#include <string>
#include <vector>

namespace zorn::test
{

class JSONClass : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        fStore = new VJSONClassStore(Str("zq"));
        VJSONClassStore::SetProcessStore(fStore);
        fStore->AddRootClasses();
    }
    void TearDown() override
    {
        VJSONClassStore::SetProcessStore(nullptr);
        fStore->Release();
        TaskManagerTest::TearDown();
    }

    VJSONClassStore* fStore = nullptr;
};

inline std::u16string ClassNameOf(const VJSONObject* inObject)
{
    VJSONClass* theClass = inObject->GetClass();
    return theClass == nullptr ? u"" : Text(theClass->GetName());
}

inline VJSONValue CallFunction(VJSONObject* inFunction, VJSONObject* inThis, std::vector<VJSONValue> inParams,
                               EJSONStatus* outStatus = nullptr)
{
    VJSONFunctionContext context(inThis, nullptr, &inParams, nullptr, nullptr);
    EJSONStatus status = inFunction->CallAsFunction(&context);
    if (outStatus != nullptr)
    {
        *outStatus = status;
    }
    VJSONValue result;
    context.GetResult(result);
    return result;
}

} // namespace zorn::test
