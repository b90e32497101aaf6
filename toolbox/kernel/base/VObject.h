// VObject: root class of every toolbox class that has a virtual table. It offers a textual debug
// dump and holds the process-wide memory manager.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

namespace zorn
{

class VString;
class VCppMemMgr;

class VObject
{
public:
    VObject() = default;
    VObject(const VObject&) = default;
    VObject& operator=(const VObject&) = default;
    virtual ~VObject() = default;

    // Writes a textual dump into ioBuffer (ioSize bytes of room), sets ioSize to the bytes written
    // and returns the character set of those bytes. The default writes nothing (UTF-8, 0 bytes).
    virtual CharSet DebugDump(char* ioBuffer, int& ioSize) const;

    // The dump as a string, decoded from the character set the virtual dump reported.
    void DebugDump(VString& outString) const;

    // The default has no class name to give and clears outName.
    void DebugGetClassName(VString& outName) const;

    // The process-wide memory manager: built before main by a static initialiser, deleted at exit.
    // Null before it exists and after it is gone; code that allocates blocks must allow for that.
    static VCppMemMgr* sCppMemMgr;
    // A second manager a program may install for its own use; the toolbox does not read it. It is
    // cleared together with sCppMemMgr at exit.
    static VCppMemMgr* sAlternateCppMemMgr;
};

} // namespace zorn
