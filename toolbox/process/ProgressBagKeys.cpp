#include "toolbox/process/ProgressBagKeys.h"

namespace zorn
{

#define ZORN_PROGRESS_KEY(type, function, text)                                                              \
    const type& ProgressBagKeys::function()                                                                  \
    {                                                                                                        \
        static const type sKey(text);                                                                        \
        return sKey;                                                                                         \
    }

ZORN_PROGRESS_KEY(StBagKey_uint, UpdateFlags, "fUpdateFlags")
ZORN_PROGRESS_KEY(StBagKey_VString, Message, "fMessage")
ZORN_PROGRESS_KEY(StBagKey_int64, Value, "fValue")
ZORN_PROGRESS_KEY(StBagKey_int64, Max, "fMax")
ZORN_PROGRESS_KEY(StBagKey_uint, StartTime, "fStartTime")
ZORN_PROGRESS_KEY(StBagKey_bool, CanInterrupt, "fCanInterrupt")
ZORN_PROGRESS_KEY(StBagKey_uint, ExtraInfoBagVersion, "fExtraInfoBagVersion")
ZORN_PROGRESS_KEY(StPackedDictionaryKey, ExtraInfo, "ExtraInfo")

ZORN_PROGRESS_KEY(StBagKey_uint, Flags, "fFlags")
ZORN_PROGRESS_KEY(StBagKey_int, SessionCount, "fSessionCount")
ZORN_PROGRESS_KEY(StBagKey_uint, ChangesVersion, "fChangesVersion")
ZORN_PROGRESS_KEY(StBagKey_uint, SessionVersion, "fSessionVersion")
ZORN_PROGRESS_KEY(StBagKey_uint, MasterSessionVersion, "fMasterSessionVersion")
ZORN_PROGRESS_KEY(StBagKey_bool, UserAbort, "fUserAbort")
ZORN_PROGRESS_KEY(StPackedDictionaryKey, Current, "fCurrent")
ZORN_PROGRESS_KEY(StPackedDictionaryKey, SessionStack, "fSessionStack")

ZORN_PROGRESS_KEY(StBagKey_VString, UserInfo, "UserInfo")
ZORN_PROGRESS_KEY(StBagKey_int, IndicatorSessionCount, "SessionCount")
ZORN_PROGRESS_KEY(StBagKey_VString, Title, "Title")
ZORN_PROGRESS_KEY(StBagKey_bool, DefaultCanInterrupt, "CanInterrupt")
ZORN_PROGRESS_KEY(StPackedDictionaryKey, SessionInfo, "SessionInfo")
ZORN_PROGRESS_KEY(StBagKey_uint, Version, "version")

#undef ZORN_PROGRESS_KEY

} // namespace zorn
