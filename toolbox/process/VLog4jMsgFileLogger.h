// VLog4jMsgFileLogger: writes the process logger's records into rolling text files
// (VSplitableLogFile, "<name>_<n>.txt" in the log folder), one log4j-style line per record:
//   "<sequence> <local time> [<source>] <LEVEL> - <message> (<attributes>)\n"
// The local time is "YYYY-MM-DDThh:mm:ss.mmm" without a zone. Its embedded listener is registered
// with the process logger while the file logger is started; the "Logger" task calls it with
// batches of records.
//
// Choices made where several were possible:
// - Start and Stop register and withdraw the listener outside the file logger's lock: the
//   "Logger" task delivers under the process logger's listener lock and then takes this lock, so
//   taking them the other way round could deadlock. Stop withdraws the listener first (which
//   delivers the pending records into the file) and closes the file after.
// - The lines of a batch are made into a reusable UTF-8 buffer of the delivering thread before the
//   lock is taken; the lock covers only their appending to the file. The local time uses the zone offset that
//   VSystem keeps for the current moment; a record more than a minute away from now is converted
//   through the time zone at its own date (now and its offset are read once per batch). The text of the last
//   second written is kept, so that the records of one second only add their milliseconds to it.
// - A record made from a message (VLogRecord with fields) is written from its fields, giving the
//   line its bag would give; a record filed as a bag is read from the bag.
// - A line is appended by its length, not as a C string: a zero unit in a text is written like
//   any other character and never cuts the line short of its line feed.
// - Records that arrive while not started or paused are dropped, not queued.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorn
{

class VFilePath;
class VFolder;
class VLogRecord;
class VSplitableLogFile;
class VValueBag;

class VLog4jMsgFileLogger : public VObject
{
public:
    // The listener the process logger calls; it lives and dies with its file logger.
    class VLog4jLogListener : public VObject, public ILogListener
    {
    public:
        explicit VLog4jLogListener(VLog4jMsgFileLogger* inOwner) : fOwner(inOwner) {}
        // Writes the batch under the file logger's lock when it is started, then flushes once.
        void Put(const std::vector<const VValueBag*>& inRecords) override;
        // The same, writing records made from messages straight from their fields.
        void PutRecords(const std::vector<const VLogRecord*>& inRecords) override;
        // Writes one line (the caller holds the file logger's lock).
        void Put(const VValueBag* inRecord);

    protected:
        // Embedded in its file logger: the last release frees nothing.
        void DoOnRefCountZero() override {}

    private:
        VLog4jMsgFileLogger* fOwner;
    };

    // Retains the folder (which may be null) and copies the name; not started.
    VLog4jMsgFileLogger(VFolder* inLogFolder, const VString& inLogName);
    ~VLog4jMsgFileLogger() override;
    VLog4jMsgFileLogger(const VLog4jMsgFileLogger&) = delete;
    VLog4jMsgFileLogger& operator=(const VLog4jMsgFileLogger&) = delete;

    // Appends to the highest piece of the unbroken series "<name>_1.txt", "_2", ... (1 when there
    // is none).
    virtual void Start();
    // Opens piece inNumber for appending and registers the listener; nothing when started, or
    // without folder or name. A piece that cannot be opened leaves the logger not started.
    void Start(int32_t inNumber);
    // Withdraws the listener (the pending records reach the file first), then closes the file.
    virtual void Stop();
    virtual bool IsStarted() const;
    void Flush();
    void Pause() { fPaused.store(true, std::memory_order_relaxed); }
    void Resume() { fPaused.store(false, std::memory_order_relaxed); }
    bool IsPaused() const { return fPaused.load(std::memory_order_relaxed); }
    // Only while started; 0 when not started.
    void SetLogMaxNumberToKeep(int32_t inCount);
    int32_t GetLogMaxNumberToKeep();
    void GetLogFolderPath(VFilePath& outPath) const;
    void GetLogName(VString& outName) const { outName.FromString(fLogName); }
    bool ShouldLog(EMessageLevel inLevel);
    // When the file was opened (the zero time while not started).
    VTime GetStartTime();
    ILogListener* GetListener() { return &fListener; }

    // "DUMP" ... "FATAL" for levels 0 to 7; "INFO" for any other.
    static const char* GetMessageLevelName(int32_t inLevel);
    // "<name>_<n>.txt".
    static void BuildLogFileName(const VString& inName, int32_t inNumber, VString& outName);
    // The record's source (with "." and the component's four characters), level and message (with
    // the "[code] " prefix and the attribute list " (...)").
    static void GetLogInfosFromBag(const VValueBag* inRecord, VString& outSource, EMessageLevel& outLevel,
                                   VString& outMessage);
    // The local time text of a record's line.
    static void FormatLocalTime(const VTime& inTime, char (&outText)[64]);

private:
    // The text up to the milliseconds ("YYYY-MM-DDThh:mm:ss.") of one second, near now.
    struct SecondText
    {
        int64_t fSecond = INT64_MIN; // UTC milliseconds / 1000, rounded down
        int64_t fOffset = 0;         // the zone offset it was made with, in milliseconds
        size_t fLength = 0;
        char fText[48] = {};
    };
    // Now (VTime milliseconds) and the zone offset for now, read once per batch.
    struct Clock
    {
        int64_t fNow;
        int64_t fOffset;
        static Clock Now();
    };

    // The lines of one batch, made on the delivering thread (each thread keeps its own) before
    // the lock is taken, with what making them reuses.
    struct Lines
    {
        std::unique_ptr<char[]> fBytes;
        size_t fCapacity = 0;
        size_t fSize = 0;
        std::vector<size_t> fEnds; // the end of each line
        VString fSource;
        VString fMessage;
        SecondText fSecondText;

        void Clear();
        // Room for inBytes more bytes after the lines made so far.
        char* Room(size_t inBytes);
        // Ends the line being made at inEnd.
        void EndLine(const char* inEnd);
    };

    // The local time text of a time given in VTime milliseconds (and as a VTime when the caller
    // has one), reusing and updating ioCache (when given) for times within a minute of inNow;
    // the text's length.
    static size_t _FormatLocalTime(int64_t inMilliseconds, const VTime* inTime, const Clock& inNow,
                                   char* outText, SecondText* ioCache);
    // The calling thread's lines, emptied.
    static Lines& _ThreadLines();
    // Make one record's line into ioLines, unless its level is off or the logger is paused.
    void _MakeRecordLine(const VValueBag* inRecord, const Clock& inNow, Lines& ioLines);
    void _MakeFieldsLine(const VLogRecord& inRecord, const Clock& inNow, Lines& ioLines);
    // Appends the lines to the file; the lock is held and the file open.
    void _AppendLines(const Lines& inLines);
    // Whether the file is open (IsStarted without the virtual call).
    bool _HasFile();
    // Appends the lines under the lock when started, then flushes once.
    void _WriteBatch(const Lines& inLines);
    void _PutBatch(const std::vector<const VValueBag*>& inRecords);
    void _PutRecords(const std::vector<const VLogRecord*>& inRecords);

    VCriticalSection fLock;
    VTime fStartTime;
    VFolder* fLogFolder;
    VString fLogName;
    std::unique_ptr<VSplitableLogFile> fLogFile;
    std::atomic<bool> fPaused{false};
    uint32_t fLevelMask = 0xF0;
    VLog4jLogListener fListener{this};
    ILogger* fLogger = nullptr; // retained; the process logger found by the first Start
};

} // namespace zorn
