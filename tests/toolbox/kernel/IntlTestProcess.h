// A stand-in process for tests of collated string operations: while it exists, the process's
// international manager (what VIntlMgr::GetCurrent() finds) is one made for the given dialect.
#pragma once

#include "tests/StringTestSupport.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/locale/VIntlMgr.h"

#include <gtest/gtest.h>

#include <string>

namespace zorn::test
{

class StIntlTestProcess final : public IProcessServices
{
public:
    explicit StIntlTestProcess(uint32_t inDialect, uint32_t inCollationDialect = 0)
        : fManager(VIntlMgr::Create(inDialect, inCollationDialect == 0 ? inDialect : inCollationDialect))
    {
        EXPECT_NE(fManager, nullptr);
        fPrevious = IProcessServices::Set(this);
    }
    ~StIntlTestProcess() override
    {
        IProcessServices::Set(fPrevious);
        if (fManager != nullptr)
        {
            fManager->Release();
        }
    }
    StIntlTestProcess(const StIntlTestProcess&) = delete;
    StIntlTestProcess& operator=(const StIntlTestProcess&) = delete;

    VIntlMgr* GetIntlMgr() const override { return fManager; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }

private:
    VIntlMgr* fManager;
    IProcessServices* fPrevious = nullptr;
};

// A string from a UTF-16 literal, and back, for tables and failure messages.
inline VString U(const char16_t* inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText));
}

// UTF-8 for failure messages.
inline std::string Utf8(const VString& inString)
{
    std::string out;
    const UniChar* units = inString.GetCPointer();
    for (int32_t i = 0; i < inString.GetLength(); ++i)
    {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < inString.GetLength())
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (c < 0x80)
        {
            out += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace zorn::test
