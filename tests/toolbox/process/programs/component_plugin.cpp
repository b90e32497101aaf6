// A plug-in library for the component manager tests. It offers the types 'PlgA' and 'PlgB'
// (family 'Fam1'); COMPONENT_PLUGIN_INCOMPLETE builds a copy without "CreateComponent".
#include "toolbox/process/CComponent.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

constexpr uint32_t kTypeA = 0x506C6741;  // 'PlgA'
constexpr uint32_t kTypeB = 0x506C6742;  // 'PlgB'
constexpr uint32_t kFamily = 0x46616D31; // 'Fam1'

class PluginComponent : public zorn::CComponent
{
public:
    explicit PluginComponent(uint32_t inType) : fType(inType) {}
    uint32_t GetComponentType() const override { return fType; }
    uint32_t GetComponentFamily() const override { return kFamily; }
    std::vector<int32_t> GetRequirementBlock() const override
    {
        return {65536, 100, 0, 0, 0, 7, 0, 0, 0, 0, 0};
    }

private:
    uint32_t fType;
};

} // namespace

extern "C"
{
    __attribute__((visibility("default"))) int zorn_test_plugin_registrations = 0;
}

PLUGIN_EXPORT void Main(uint32_t inSelector, zorn::VLibrary*)
{
    if (inSelector == 0x72656773) // 'regs'
    {
        ++zorn_test_plugin_registrations;
    }
    else if (inSelector == 0x6C656176) // 'leav'
    {
        --zorn_test_plugin_registrations;
    }
}

PLUGIN_EXPORT bool GetNthComponentType(int32_t inIndex, uint32_t* outType)
{
    if (inIndex < 1 || inIndex > 2)
    {
        return false;
    }
    *outType = inIndex == 1 ? kTypeA : kTypeB;
    return true;
}

#ifndef COMPONENT_PLUGIN_INCOMPLETE
PLUGIN_EXPORT zorn::CComponent* CreateComponent(uint32_t inType, uint32_t)
{
    return inType == kTypeA || inType == kTypeB ? new PluginComponent(inType) : nullptr;
}
#endif
