#include "toolbox/kernel/values/VReal.h"

#include <cmath>

namespace zorn
{

const VReal::VValueInfo_real& VReal::Info()
{
    static const VValueInfo_real sInfo;
    return sInfo;
}

CompareResult VReal::CompareData(double inA, double inB, double inEpsilon)
{
    bool aIsNaN = std::isnan(inA);
    bool bIsNaN = std::isnan(inB);
    if (aIsNaN || bIsNaN)
    {
        return aIsNaN ? (bIsNaN ? CR_EQUAL : CR_SMALLER) : CR_BIGGER;
    }
    // The first test also settles equal infinities, whose difference is NaN.
    if (inA == inB || std::fabs(inA - inB) < inEpsilon)
    {
        return CR_EQUAL;
    }
    return inA < inB ? CR_SMALLER : CR_BIGGER;
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                                          bool inDiacritical) const
{
    double a;
    double b;
    std::memcpy(&a, inPtr1, sizeof(a));
    std::memcpy(&b, inPtr2, sizeof(b));
    return CompareData(a, b, inDiacritical ? 0.0 : kDefaultEpsilon);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                                     const VCompareOptions& inOptions) const
{
    double a;
    double b;
    std::memcpy(&a, inPtr1, sizeof(a));
    std::memcpy(&b, inPtr2, sizeof(b));
    return CompareData(a, b, inOptions.IsDiacritical() ? 0.0 : inOptions.GetEpsilon());
}

} // namespace zorn
