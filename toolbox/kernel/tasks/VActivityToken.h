// VActivityToken: a named, reference-counted sign that work is going on (each running task holds
// one). While it exists it is registered with the running process, which can then tell whether
// the program is busy (VProcess::HasSomeActivityTokens).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

class VActivityToken : public VObject, public IRefCountable
{
public:
    // Count 1; registers with the process registered at this moment, if any.
    explicit VActivityToken(const VString& inName);
    VActivityToken(const VActivityToken&) = delete;
    VActivityToken& operator=(const VActivityToken&) = delete;

    const VString& GetName() const { return fName; }

protected:
    // Unregisters from the process registered at that moment, if any.
    ~VActivityToken() override;

private:
    VString fName;
};

} // namespace zorn
