// ProgressBagKeys: the attribute and element names of the progress exchange forms, shared by the
// writers and the readers: the session record ("VProgressIndicatorInfo"), the remote picture of an
// indicator's sessions ("DistantSessionInfo"), the indicator's own bag and its remote identity
// ("VProgressIndicator"). The typed keys say the value class each attribute is stored as; unsigned
// 32-bit fields travel as VLong with their bits kept.
//
// Each key is built on its first use (a function-local static).
#pragma once

#include "toolbox/kernel/values/StPackedDictionaryKey.h"

namespace zorn
{

struct ProgressBagKeys
{
    // Session record.
    static const StBagKey_uint& UpdateFlags();         // "fUpdateFlags"
    static const StBagKey_VString& Message();          // "fMessage"
    static const StBagKey_int64& Value();              // "fValue"
    static const StBagKey_int64& Max();                // "fMax"
    static const StBagKey_uint& StartTime();           // "fStartTime"
    static const StBagKey_bool& CanInterrupt();        // "fCanInterrupt" (the picture's too)
    static const StBagKey_uint& ExtraInfoBagVersion(); // "fExtraInfoBagVersion"
    static const StPackedDictionaryKey& ExtraInfo();   // element "ExtraInfo"

    // Remote picture.
    static const StBagKey_uint& Flags();                // "fFlags"
    static const StBagKey_int& SessionCount();          // "fSessionCount"
    static const StBagKey_uint& ChangesVersion();       // "fChangesVersion"
    static const StBagKey_uint& SessionVersion();       // "fSessionVersion"
    static const StBagKey_uint& MasterSessionVersion(); // "fMasterSessionVersion"
    static const StBagKey_bool& UserAbort();            // "fUserAbort"
    static const StPackedDictionaryKey& Current();      // element "fCurrent"
    static const StPackedDictionaryKey& SessionStack(); // element "fSessionStack"

    // The indicator's bag and its remote identity.
    static const StBagKey_VString& UserInfo();          // "UserInfo"
    static const StBagKey_int& IndicatorSessionCount(); // "SessionCount"
    static const StBagKey_VString& Title();             // "Title"
    static const StBagKey_bool& DefaultCanInterrupt();  // "CanInterrupt"
    static const StPackedDictionaryKey& SessionInfo();  // element "SessionInfo"
    static const StBagKey_uint& Version();              // "version" (the identity's session version)
};

} // namespace zorn
