#include "toolbox/kernel/base/VObject.h"

#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

CharSet VObject::DebugDump(char* /*ioBuffer*/, int& ioSize) const
{
    ioSize = 0;
    return CharSet::VTC_UTF_8;
}

void VObject::DebugDump(VString& outString) const
{
    char buffer[1024];
    int size = sizeof(buffer);
    CharSet charSet = DebugDump(buffer, size);
    if (size < 0 || size > static_cast<int>(sizeof(buffer)))
    {
        size = 0;
    }
    outString.FromBlock(buffer, static_cast<size_t>(size), charSet);
}

void VObject::DebugGetClassName(VString& outName) const
{
    outName.Clear();
}

} // namespace zorn
