// ILoggerBagKeys: the attribute names of log records, which every producer and every listener of
// the process logger uses. Each key's text is its own name; the typed key says the value class
// the attribute is stored as. "level" alone has a default: a record without it is level 4 (info).
//
// Each key is built on its first use (a function-local static), so code that runs before main or
// in another file's static initialiser may use them.
#pragma once

#include "toolbox/kernel/values/StPackedDictionaryKey.h"

namespace zorn
{

class VString;

struct ILoggerBagKeys
{
    // Each key is named as the attribute it stands for.
    // NOLINTBEGIN(readability-identifier-naming)
    static const StBagKey_VString& message();
    static const StBagKeyWithDefault_EMessageLevel& level();
    static const StBagKey_VString& source();
    static const StBagKey_VString& task_name();
    static const StBagKey_VString& file_name();
    static const StBagKey_VString& stack_crawl();
    static const StBagKey_int& line_number();
    static const StBagKey_uint& component_signature();
    static const StBagKey_int& elapsed_milliseconds();
    static const StBagKey_int& count_bytes_sent();
    static const StBagKey_int& count_bytes_received();
    static const StBagKey_VUUID& base_context_uuid();
    static const StBagKey_uint64& error_code();
    static const StBagKey_int& count_bytes_asked();
    static const StBagKey_int64& socket();
    static const StBagKey_bool& is_blocking();
    static const StBagKey_bool& is_ssl();
    static const StBagKey_bool& is_select_io();
    static const StBagKey_cstring& payload();
    static const StBagKey_int& ms_timeout();
    static const StBagKey_int& ms_spent();
    static const StBagKey_int& dump_offset();
    static const StBagKey_VString& dump_buffer();
    static const StBagKey_VString& local_addr();
    static const StBagKey_VString& peer_addr();
    static const StBagKey_int& local_port();
    static const StBagKey_int& peer_port();
    static const StBagKey_int& task_id();
    static const StBagKey_bool& exchange_id();
    static const StBagKey_int64& debug_context();
    static const StBagKey_VString& jobId();
    static const StBagKey_int& jobState();
    static const StBagKey_VString& pipe();
    static const StBagKey_VString& user_id();
    static const StBagKey_VString& stream_id();
    static const StBagKey_VString& system_username();
    static const StBagKey_VString& hostname();
    static const StBagKey_int64& sequence();
    static const StBagKey_VTime& time();
    // NOLINTEND(readability-identifier-naming)

    // All 39 keys, in the order above.
    static constexpr int kCount = 39;
};

// The one-line form of a stack crawl that records carry: in each line the first "(...)" (the
// argument list), every "zorn::" and "non-virtual thunk to " and a final " const" are removed;
// the non-empty lines are joined by " <- ", innermost frame first.
void CondenseStackCrawl(const VString& inCrawl, VString& outLine);

} // namespace zorn
