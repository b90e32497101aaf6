#include "toolbox/process/VLog4jMsgFileLogger.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VLogRecord.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VSplitableLogFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace zorn
{

namespace
{

// What is printed before an attribute's value; empty: the attribute is not printed.
// Keyed by the attribute names' bytes, as the bag stores them.
const std::unordered_map<std::string_view, const char*>& AttributePrefixes()
{
    static const std::unordered_map<std::string_view, const char*> sPrefixes = {
        {"message", ""},
        {"error_code", ""},
        {"level", ""},
        {"source", ""},
        {"component_signature", ""},
        {"task_id", "task="},
        {"task_name", "taskName="},
        {"socket", "socket="},
        {"local_addr", "localAddr="},
        {"local_port", "localPort="},
        {"peer_addr", "peerAddr="},
        {"peer_port", "peerPort="},
        {"exchange_id", "exchangeEndpointId="},
        {"is_blocking", "blocking="},
        {"is_ssl", "SSL="},
        {"is_select_io", "selectIO="},
        {"ms_timeout", "timeout="},
        {"count_bytes_asked", "asked="},
        {"count_bytes_sent", "sent="},
        {"count_bytes_received", "received="},
        {"ms_spent", "executionTime="},
        {"dump_offset", "offset="},
        {"dump_buffer", "data="},
        {"file_name", "fileName="},
        {"line_number", "lineNumber="},
        {"stack_crawl", "stackCrawl="},
        {"user_id", "UUID="},
    };
    return sPrefixes;
}

// Writes the text's UTF-8 form at outBytes, which has room for three bytes a unit; the end.
char* PutUTF8(char* outBytes, const VString& inText)
{
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    // Log text is mostly ASCII: narrow every unit while noting whether any was not ASCII (a loop
    // the compiler vectorises), and convert properly only then.
    UniChar seen = 0;
    for (int32_t i = 0; i < length; ++i)
    {
        seen |= units[i];
        outBytes[i] = static_cast<char>(units[i]);
    }
    if (seen < 0x80)
    {
        return outBytes + length;
    }
    size_t produced = 0;
    VTextConverters::Get()->ConvertFromVString(inText, nullptr, outBytes, 3 * static_cast<size_t>(length),
                                               &produced, CharSet::VTC_UTF_8);
    return outBytes + produced;
}

char* PutText(char* outBytes, const char* inText, size_t inLength)
{
    std::memcpy(outBytes, inText, inLength);
    return outBytes + inLength;
}

template <size_t N>
char* PutLiteral(char* outBytes, const char (&inText)[N])
{
    return PutText(outBytes, inText, N - 1);
}

// GetMessageLevelName with its length.
std::string_view LevelName(int32_t inLevel)
{
    static constexpr std::string_view sNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG",
                                                  "INFO", "WARN",  "ERROR",  "FATAL"};
    return inLevel >= 0 && inLevel <= 7 ? sNames[inLevel] : sNames[EML_Information];
}

// The room a line needs beyond its source and message.
constexpr size_t kLineFixedBytes = 24 + 64 + 64;

VString ProcessLogSource()
{
    IProcessServices* process = IProcessServices::Get();
    return process != nullptr ? process->GetLogSourceIdentifier() : VString();
}

} // namespace

// ---- Life ----

VLog4jMsgFileLogger::VLog4jMsgFileLogger(VFolder* inLogFolder, const VString& inLogName)
    : fLogFolder(inLogFolder), fLogName(inLogName)
{
    if (fLogFolder != nullptr)
    {
        fLogFolder->Retain();
    }
}

VLog4jMsgFileLogger::~VLog4jMsgFileLogger()
{
    // Not the virtual one: a subclass is gone by now.
    VLog4jMsgFileLogger::Stop();
    if (fLogger != nullptr)
    {
        fLogger->Release();
    }
    if (fLogFolder != nullptr)
    {
        fLogFolder->Release();
    }
}

void VLog4jMsgFileLogger::Start()
{
    if (fLogFolder == nullptr || fLogName.IsEmpty())
    {
        return;
    }
    int32_t next = 1;
    VString name;
    for (;; ++next)
    {
        BuildLogFileName(fLogName, next, name);
        VFilePath path = fLogFolder->GetPath();
        if (!path.ToSubFile(name) || !VFile(path).Exists())
        {
            break;
        }
    }
    Start(next >= 2 ? next - 1 : 1);
}

void VLog4jMsgFileLogger::Start(int32_t inNumber)
{
    ILogger* logger = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        if (fLogFile != nullptr || fLogFolder == nullptr || fLogName.IsEmpty())
        {
            return;
        }
        auto file = std::make_unique<VSplitableLogFile>(fLogFolder, fLogName, inNumber, false);
        if (!file->Open(false, false))
        {
            return; // the file object closes and goes
        }
        fLogFile = std::move(file);
        fStartTime = VTime(eInitWithCurrentTime);
        if (fLogger == nullptr)
        {
            IProcessServices* process = IProcessServices::Get();
            fLogger = process != nullptr ? process->GetLogger() : nullptr;
            if (fLogger != nullptr)
            {
                fLogger->Retain();
            }
        }
        logger = fLogger;
    }
    // Outside the lock: the "Logger" task takes the process logger's listener lock, then this one.
    if (logger != nullptr)
    {
        logger->AddLogListener(&fListener);
    }
}

void VLog4jMsgFileLogger::Stop()
{
    ILogger* logger = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        logger = fLogger;
    }
    // Withdrawn even when not started, in case a Start that raced with an earlier Stop registered
    // it after that Stop: the process logger must never keep a listener that is going away. The
    // removal delivers the pending records, so they reach the file before it closes.
    if (logger != nullptr)
    {
        logger->RemoveLogListener(&fListener);
    }
    StLocker<VCriticalSection> lock(&fLock);
    if (fLogFile != nullptr)
    {
        fLogFile->Close();
        fLogFile.reset();
        fStartTime = VTime();
    }
}

bool VLog4jMsgFileLogger::IsStarted() const
{
    StLocker<VCriticalSection> lock(const_cast<VCriticalSection*>(&fLock));
    return fLogFile != nullptr;
}

void VLog4jMsgFileLogger::Flush()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fLogFile != nullptr)
    {
        fLogFile->Flush();
    }
}

// ---- Settings ----

void VLog4jMsgFileLogger::SetLogMaxNumberToKeep(int32_t inCount)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fLogFile != nullptr)
    {
        fLogFile->SetMaxLogsToKeep(inCount);
    }
}

int32_t VLog4jMsgFileLogger::GetLogMaxNumberToKeep()
{
    StLocker<VCriticalSection> lock(&fLock);
    return fLogFile != nullptr ? fLogFile->GetMaxLogsToKeep() : 0;
}

void VLog4jMsgFileLogger::GetLogFolderPath(VFilePath& outPath) const
{
    if (fLogFolder != nullptr)
    {
        outPath = fLogFolder->GetPath();
    }
    else
    {
        outPath.Clear();
    }
}

bool VLog4jMsgFileLogger::ShouldLog(EMessageLevel inLevel)
{
    StLocker<VCriticalSection> lock(&fLock);
    return fLogFile != nullptr && ((fLevelMask >> (static_cast<uint32_t>(inLevel) % 32)) & 1u) != 0;
}

VTime VLog4jMsgFileLogger::GetStartTime()
{
    StLocker<VCriticalSection> lock(&fLock);
    return fStartTime;
}

// ---- Names ----

const char* VLog4jMsgFileLogger::GetMessageLevelName(int32_t inLevel)
{
    return LevelName(inLevel).data(); // the names are literals, terminated
}

void VLog4jMsgFileLogger::BuildLogFileName(const VString& inName, int32_t inNumber, VString& outName)
{
    VSplitableLogFile::BuildLogFileName(inName, inNumber, outName);
}

// ---- Lines ----

void VLog4jMsgFileLogger::GetLogInfosFromBag(const VValueBag* inRecord, VString& outSource,
                                             EMessageLevel& outLevel, VString& outMessage)
{
    outMessage.Clear();
    inRecord->GetString(ILoggerBagKeys::message(), outMessage);
    int64_t code = 0;
    inRecord->GetLong8(ILoggerBagKeys::error_code(), code);
    int32_t level = EML_Information;
    inRecord->GetLong(ILoggerBagKeys::level(), level);
    outLevel = static_cast<EMessageLevel>(level);
    if (!inRecord->GetString(ILoggerBagKeys::source(), outSource))
    {
        outSource = ProcessLogSource();
    }

    uint32_t component = 0;
    if (int32_t signature = 0; inRecord->GetLong(ILoggerBagKeys::component_signature(), signature))
    {
        component = static_cast<uint32_t>(signature);
    }
    else
    {
        component = static_cast<uint32_t>(static_cast<uint64_t>(code) >> 32);
    }
    if (component != 0)
    {
        if (!outSource.IsEmpty())
        {
            outSource.AppendUniChar('.');
        }
        outSource.AppendOsType(component);
    }
    if (code != 0)
    {
        char prefix[16];
        std::snprintf(prefix, sizeof(prefix), "[%d] ", static_cast<int32_t>(static_cast<uint32_t>(code)));
        VString text(prefix);
        text.AppendString(outMessage);
        outMessage.FromString(text);
    }

    outMessage.AppendCString(" (");
    const auto& prefixes = AttributePrefixes();
    bool printed = false;
    VString name;
    VString value;
    // The names are read as the bag stores them, so that the attributes that are not printed are
    // passed over without making their values.
    const VPackedDictionary_with_backstore& attributes = inRecord->GetAttributesDictionary();
    const size_t count = attributes.GetCount();
    for (size_t i = 0; i < count; ++i)
    {
        size_t length = 0;
        const char* bytes = attributes.GetKeyAt(i, &length);
        const std::string_view key(bytes, length);
        if (key == "sequence" || key == "time")
        {
            continue;
        }
        auto found = prefixes.find(key);
        if (found != prefixes.end() && found->second[0] == 0)
        {
            continue;
        }
        const VValueSingle* single =
            inRecord->GetNthAttribute(static_cast<int32_t>(i + 1), found == prefixes.end() ? &name : nullptr);
        if (single == nullptr)
        {
            continue;
        }
        if (printed)
        {
            outMessage.AppendCString(", ");
        }
        if (found != prefixes.end())
        {
            outMessage.AppendCString(found->second);
        }
        else
        {
            outMessage.AppendString(name);
            outMessage.AppendUniChar('=');
        }
        single->GetString(value);
        const UniChar* units16 = value.GetCPointer();
        int32_t from = 0;
        for (int32_t at = 0; at < value.GetLength(); ++at)
        {
            if (units16[at] == '\n')
            {
                outMessage.AppendUniChars(units16 + from, at - from);
                outMessage.AppendCString(" ; ");
                from = at + 1;
            }
        }
        outMessage.AppendUniChars(units16 + from, value.GetLength() - from);
        printed = true;
    }
    outMessage.AppendUniChar(')');
}

void VLog4jMsgFileLogger::FormatLocalTime(const VTime& inTime, char (&outText)[64])
{
    _FormatLocalTime(inTime.GetMilliseconds(), &inTime, Clock::Now(), outText, nullptr);
}

VLog4jMsgFileLogger::Clock VLog4jMsgFileLogger::Clock::Now()
{
    return {VLogRecord::NowMilliseconds(), int64_t{VSystem::GetGMTOffset(true)} * 1000};
}

size_t VLog4jMsgFileLogger::_FormatLocalTime(int64_t inMilliseconds, const VTime* inTime, const Clock& inNow,
                                             char* outText, SecondText* ioCache)
{
    constexpr size_t kTextSize = 64;
    const int64_t distance = inMilliseconds - inNow.fNow;
    if (distance > -60000 && distance < 60000)
    {
        const int64_t fraction = (inMilliseconds % 1000 + 1000) % 1000;
        const int64_t second = (inMilliseconds - fraction) / 1000;
        if (ioCache != nullptr && ioCache->fSecond == second && ioCache->fOffset == inNow.fOffset)
        {
            std::memcpy(outText, ioCache->fText, ioCache->fLength);
            char* digits = outText + ioCache->fLength;
            digits[0] = static_cast<char>('0' + fraction / 100);
            digits[1] = static_cast<char>('0' + fraction / 10 % 10);
            digits[2] = static_cast<char>('0' + fraction % 10);
            digits[3] = 0;
            return ioCache->fLength + 3;
        }
        VTime local;
        local.FromMilliseconds(inMilliseconds + inNow.fOffset);
        const int32_t ms = local.GetMillisecondsOfDay();
        int length = std::snprintf(outText, kTextSize, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.GetYear(),
                                   local.GetMonth(), local.GetDay(), ms / 3600000, ms / 60000 % 60,
                                   ms / 1000 % 60, ms % 1000);
        // The milliseconds are the last three characters; what comes before holds for the second
        // at that offset (zone offsets are whole seconds).
        if (ioCache != nullptr && length > 3 && static_cast<size_t>(length - 3) < sizeof(ioCache->fText))
        {
            ioCache->fLength = static_cast<size_t>(length - 3);
            std::memcpy(ioCache->fText, outText, ioCache->fLength);
            ioCache->fSecond = second;
            ioCache->fOffset = inNow.fOffset;
        }
        return length > 0 ? static_cast<size_t>(length) : 0;
    }
    VTime time;
    if (inTime == nullptr)
    {
        time.FromMilliseconds(inMilliseconds);
        inTime = &time;
    }
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t second = 0;
    int16_t millisecond = 0;
    inTime->GetLocalTime(year, month, day, hour, minute, second, millisecond);
    int length = std::snprintf(outText, kTextSize, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", year, month, day,
                               hour, minute, second, millisecond);
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void VLog4jMsgFileLogger::Lines::Clear()
{
    fSize = 0;
    fEnds.clear();
}

char* VLog4jMsgFileLogger::Lines::Room(size_t inBytes)
{
    if (fSize + inBytes > fCapacity)
    {
        const size_t capacity = std::max(fSize + inBytes, 2 * fCapacity);
        auto bytes = std::make_unique<char[]>(capacity);
        if (fSize > 0)
        {
            std::memcpy(bytes.get(), fBytes.get(), fSize);
        }
        fBytes = std::move(bytes);
        fCapacity = capacity;
    }
    return fBytes.get() + fSize;
}

void VLog4jMsgFileLogger::Lines::EndLine(const char* inEnd)
{
    fSize = static_cast<size_t>(inEnd - fBytes.get());
    fEnds.push_back(fSize);
}

VLog4jMsgFileLogger::Lines& VLog4jMsgFileLogger::_ThreadLines()
{
    thread_local Lines tLines;
    tLines.Clear();
    return tLines;
}

void VLog4jMsgFileLogger::_MakeRecordLine(const VValueBag* inRecord, const Clock& inNow, Lines& ioLines)
{
    int32_t level = EML_Information;
    inRecord->GetLong(ILoggerBagKeys::level(), level);
    if (((fLevelMask >> (static_cast<uint32_t>(level) % 32)) & 1u) == 0 || IsPaused())
    {
        return;
    }
    VTime time;
    if (!inRecord->GetTime(ILoggerBagKeys::time(), time))
    {
        time = VTime(eInitWithCurrentTime);
    }
    char timeText[64];
    const size_t timeLength =
        _FormatLocalTime(time.GetMilliseconds(), &time, inNow, timeText, &ioLines.fSecondText);
    int64_t sequence = 0;
    if (!inRecord->GetLong8(ILoggerBagKeys::sequence(), sequence))
    {
        sequence = ILogger::GetSequenceNumber();
    }
    EMessageLevel readLevel = EML_Information;
    VString& source = ioLines.fSource;
    VString& message = ioLines.fMessage;
    GetLogInfosFromBag(inRecord, source, readLevel, message);

    char* const line = ioLines.Room(kLineFixedBytes + 3 * static_cast<size_t>(source.GetLength()) +
                                    3 * static_cast<size_t>(message.GetLength()));
    char* out = std::to_chars(line, line + 24, static_cast<unsigned long long>(sequence)).ptr;
    *out++ = ' ';
    out = PutText(out, timeText, timeLength);
    out = PutLiteral(out, " [");
    out = PutUTF8(out, source);
    out = PutLiteral(out, "] ");
    const char* levelName = GetMessageLevelName(readLevel);
    out = PutText(out, levelName, std::strlen(levelName));
    out = PutLiteral(out, " - ");
    out = PutUTF8(out, message);
    *out++ = '\n';
    ioLines.EndLine(out);
}

void VLog4jMsgFileLogger::_MakeFieldsLine(const VLogRecord& inRecord, const Clock& inNow, Lines& ioLines)
{
    // The line GetLogInfosFromBag and _MakeRecordLine give the record's bag: its source has no
    // component, its message no code, and its attribute list is empty (" ()").
    const EMessageLevel level = inRecord.GetLevel();
    if (((fLevelMask >> (static_cast<uint32_t>(level) % 32)) & 1u) == 0 || IsPaused())
    {
        return;
    }
    const VString& source = inRecord.GetSource();
    const VString& message = inRecord.GetMessage();
    char* const line = ioLines.Room(kLineFixedBytes + 3 * static_cast<size_t>(source.GetLength()) +
                                    3 * static_cast<size_t>(message.GetLength()));
    char* out = std::to_chars(line, line + 24, static_cast<unsigned long long>(inRecord.GetSequence())).ptr;
    *out++ = ' ';
    // The time: most records fall in the second of the record before, whose text is kept.
    const int64_t time = inRecord.GetTimeMilliseconds();
    const int64_t fraction = (time % 1000 + 1000) % 1000;
    SecondText& cache = ioLines.fSecondText;
    if (cache.fSecond == (time - fraction) / 1000 && cache.fOffset == inNow.fOffset &&
        time - inNow.fNow > -60000 && time - inNow.fNow < 60000)
    {
        std::memcpy(out, cache.fText, sizeof(cache.fText)); // the line has room for it
        out += cache.fLength;
        out[0] = static_cast<char>('0' + fraction / 100);
        out[1] = static_cast<char>('0' + fraction / 10 % 10);
        out[2] = static_cast<char>('0' + fraction % 10);
        out += 3;
    }
    else
    {
        out += _FormatLocalTime(time, nullptr, inNow, out, &cache);
    }
    out = PutLiteral(out, " [");
    out = PutUTF8(out, source);
    out = PutLiteral(out, "] ");
    const std::string_view levelName = LevelName(level);
    out = PutText(out, levelName.data(), levelName.size());
    out = PutLiteral(out, " - ");
    out = PutUTF8(out, message);
    out = PutLiteral(out, " ()\n");
    ioLines.EndLine(out);
}

void VLog4jMsgFileLogger::_AppendLines(const Lines& inLines)
{
    size_t from = 0;
    for (size_t end : inLines.fEnds)
    {
        fLogFile->AppendBytes(inLines.fBytes.get() + from, end - from);
        from = end;
    }
}

bool VLog4jMsgFileLogger::_HasFile()
{
    StLocker<VCriticalSection> lock(&fLock);
    return fLogFile != nullptr;
}

void VLog4jMsgFileLogger::_WriteBatch(const Lines& inLines)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fLogFile == nullptr)
    {
        return;
    }
    _AppendLines(inLines);
    fLogFile->Flush();
}

void VLog4jMsgFileLogger::_PutBatch(const std::vector<const VValueBag*>& inRecords)
{
    if (!_HasFile())
    {
        return; // nothing made, no sequence number taken
    }
    Lines& lines = _ThreadLines();
    const Clock now = Clock::Now();
    for (const VValueBag* record : inRecords)
    {
        _MakeRecordLine(record, now, lines);
    }
    _WriteBatch(lines);
}

void VLog4jMsgFileLogger::_PutRecords(const std::vector<const VLogRecord*>& inRecords)
{
    if (!_HasFile())
    {
        return; // nothing made, no sequence number taken
    }
    Lines& lines = _ThreadLines();
    const Clock now = Clock::Now();
    for (const VLogRecord* record : inRecords)
    {
        if (record->HasFields())
        {
            _MakeFieldsLine(*record, now, lines);
        }
        else if (const VValueBag* bag = record->GetBag())
        {
            _MakeRecordLine(bag, now, lines);
        }
    }
    _WriteBatch(lines);
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& inRecords)
{
    fOwner->_PutBatch(inRecords);
}

void VLog4jMsgFileLogger::VLog4jLogListener::PutRecords(const std::vector<const VLogRecord*>& inRecords)
{
    fOwner->_PutRecords(inRecords);
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const VValueBag* inRecord)
{
    if (fOwner->fLogFile == nullptr)
    {
        return;
    }
    Lines& lines = _ThreadLines();
    fOwner->_MakeRecordLine(inRecord, Clock::Now(), lines);
    fOwner->_AppendLines(lines);
}

} // namespace zorn
