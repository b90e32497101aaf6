#include "toolbox/kernel/tasks/VActivityToken.h"

#include "toolbox/kernel/hooks/IProcessServices.h"

namespace zorn
{

VActivityToken::VActivityToken(const VString& inName) : fName(inName)
{
    if (IProcessServices* process = IProcessServices::Get())
    {
        process->RegisterActivityToken(this);
    }
}

VActivityToken::~VActivityToken()
{
    if (IProcessServices* process = IProcessServices::Get())
    {
        process->UnregisterActivityToken(this);
    }
}

} // namespace zorn
