#include "toolbox/kernel/VError.h"

#include <atomic>

namespace zorn
{

namespace
{
std::atomic<detail::ErrorRaiser>& Raiser()
{
    static std::atomic<detail::ErrorRaiser> sRaiser{nullptr};
    return sRaiser;
}
} // namespace

detail::ErrorRaiser detail::SetErrorRaiser(ErrorRaiser inRaiser)
{
    return Raiser().exchange(inRaiser);
}

VError _ThrowError(VError inError, const VString* inP1, const VString* inP2, const VString* inP3)
{
    if (detail::ErrorRaiser raiser = Raiser().load(std::memory_order_acquire))
    {
        raiser(inError, inP1, inP2, inP3);
    }
    return inError;
}

} // namespace zorn
