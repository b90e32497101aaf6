// A test fixture that runs in a given time zone and restores the one in force afterwards.
#pragma once

#include "toolbox/kernel/system/VSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace zorn::test
{

// Runs a test in a given time zone, restoring the one in force afterwards.
class TimeZoneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        fHadTZ = tz != nullptr;
        fPreviousTZ = tz != nullptr ? tz : "";
    }
    void TearDown() override
    {
        if (fHadTZ)
        {
            setenv("TZ", fPreviousTZ.c_str(), 1);
        }
        else
        {
            unsetenv("TZ");
        }
        tzset();
        VSystem::SystemDateTimeChanged();
    }
    static void UseZone(const char* inZone)
    {
        setenv("TZ", inZone, 1);
        tzset();
        VSystem::SystemDateTimeChanged();
    }

    bool fHadTZ = false;
    std::string fPreviousTZ;
};

} // namespace zorn::test
