// Shared pieces of the XML tests: a handler that records every call it receives, and the fields
// of the errors a parse pushed.
#pragma once

#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zorn::test
{

using CallLog = std::vector<std::string>;

// Logs "start NAME", "attr NAME=VALUE", "text TEXT", "end NAME" and the style-sheet calls; the
// children share the log. Elements named in the ignored set get no handler.
class RecordingHandler : public VObject, public IXMLHandler
{
public:
    RecordingHandler(std::shared_ptr<CallLog> inLog, std::set<std::string> inIgnored = {})
        : fLog(std::move(inLog)), fIgnored(std::move(inIgnored))
    {
    }
    IXMLHandler* StartElement(const VString& inName) override
    {
        if (fIgnored.count(to_string(inName)) != 0)
        {
            return nullptr;
        }
        fLog->push_back("start " + to_string(inName));
        return new RecordingHandler(fLog, fIgnored);
    }
    void EndElement(const VString& inName) override { fLog->push_back("end " + to_string(inName)); }
    void SetAttribute(const VString& inName, const VString& inValue) override
    {
        fLog->push_back("attr " + to_string(inName) + "=" + to_string(inValue));
    }
    void SetText(const VString& inText) override { fLog->push_back("text " + to_string(inText)); }
    void StartStyleSheet() override { fLog->push_back("sheet"); }
    void SetStyleSheetAttribute(const VString& inName, const VString& inValue) override
    {
        fLog->push_back("sheet " + to_string(inName) + "=" + to_string(inValue));
    }
    void EndStyleSheet() override { fLog->push_back("sheet end"); }

private:
    std::shared_ptr<CallLog> fLog;
    std::set<std::string> fIgnored;
};

inline std::string ErrorString(const VErrorBase* inError, const char* inName)
{
    VJSONValue value = VJSONValue(inError->GetParameters()).GetProperty(VString(inName));
    VString text;
    value.GetString(text);
    return to_string(text);
}

inline double ErrorNumber(const VErrorBase* inError, const char* inName)
{
    return VJSONValue(inError->GetParameters()).GetProperty(VString(inName)).GetNumber();
}

// Runs the task manager and holds a use of the XML library for each test.
class XMLTest : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        VXMLParser::Init();
    }
    void TearDown() override
    {
        VXMLParser::DeInit();
        TaskManagerTest::TearDown();
    }
};

} // namespace zorn::test
