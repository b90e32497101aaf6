#include "toolbox/kernel/values/ILoggerBagKeys.h"

#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

#define ZORN_LOGGER_KEY(type, name)                                                                          \
    const type& ILoggerBagKeys::name()                                                                       \
    {                                                                                                        \
        static const type sKey(#name);                                                                       \
        return sKey;                                                                                         \
    }

const StBagKeyWithDefault_EMessageLevel& ILoggerBagKeys::level()
{
    static const StBagKeyWithDefault_EMessageLevel sKey("level", EML_Information);
    return sKey;
}

ZORN_LOGGER_KEY(StBagKey_VString, message)
ZORN_LOGGER_KEY(StBagKey_VString, source)
ZORN_LOGGER_KEY(StBagKey_VString, task_name)
ZORN_LOGGER_KEY(StBagKey_VString, file_name)
ZORN_LOGGER_KEY(StBagKey_VString, stack_crawl)
ZORN_LOGGER_KEY(StBagKey_int, line_number)
ZORN_LOGGER_KEY(StBagKey_uint, component_signature)
ZORN_LOGGER_KEY(StBagKey_int, elapsed_milliseconds)
ZORN_LOGGER_KEY(StBagKey_int, count_bytes_sent)
ZORN_LOGGER_KEY(StBagKey_int, count_bytes_received)
ZORN_LOGGER_KEY(StBagKey_VUUID, base_context_uuid)
ZORN_LOGGER_KEY(StBagKey_uint64, error_code)
ZORN_LOGGER_KEY(StBagKey_int, count_bytes_asked)
ZORN_LOGGER_KEY(StBagKey_int64, socket)
ZORN_LOGGER_KEY(StBagKey_bool, is_blocking)
ZORN_LOGGER_KEY(StBagKey_bool, is_ssl)
ZORN_LOGGER_KEY(StBagKey_bool, is_select_io)
ZORN_LOGGER_KEY(StBagKey_cstring, payload)
ZORN_LOGGER_KEY(StBagKey_int, ms_timeout)
ZORN_LOGGER_KEY(StBagKey_int, ms_spent)
ZORN_LOGGER_KEY(StBagKey_int, dump_offset)
ZORN_LOGGER_KEY(StBagKey_VString, dump_buffer)
ZORN_LOGGER_KEY(StBagKey_VString, local_addr)
ZORN_LOGGER_KEY(StBagKey_VString, peer_addr)
ZORN_LOGGER_KEY(StBagKey_int, local_port)
ZORN_LOGGER_KEY(StBagKey_int, peer_port)
ZORN_LOGGER_KEY(StBagKey_int, task_id)
ZORN_LOGGER_KEY(StBagKey_bool, exchange_id)
ZORN_LOGGER_KEY(StBagKey_int64, debug_context)
ZORN_LOGGER_KEY(StBagKey_VString, jobId)
ZORN_LOGGER_KEY(StBagKey_int, jobState)
ZORN_LOGGER_KEY(StBagKey_VString, pipe)
ZORN_LOGGER_KEY(StBagKey_VString, user_id)
ZORN_LOGGER_KEY(StBagKey_VString, stream_id)
ZORN_LOGGER_KEY(StBagKey_VString, system_username)
ZORN_LOGGER_KEY(StBagKey_VString, hostname)
ZORN_LOGGER_KEY(StBagKey_int64, sequence)
ZORN_LOGGER_KEY(StBagKey_VTime, time)

#undef ZORN_LOGGER_KEY

} // namespace zorn
