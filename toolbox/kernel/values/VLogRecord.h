// VLogRecord: one log record as the process logger keeps it between filing and delivery. A record
// filed as a value bag (ILogger::LogBag) holds that bag; a record made from a message
// (ILogger::LogMessage) holds its fields (level, source, message, time, sequence) and makes the
// equivalent bag only when a listener asks for one, so that a writer which reads the fields never
// pays for building the bag and reading it back.
//
// Choices made where several were possible:
// - The bag made from the fields has the attributes LogMessage gives a record, in that order:
//   "source", "level" (only when not the key's default, info), "message", "time", "sequence". It
//   is made once, on the first GetBag, and shared by every listener of the batch.
// - The time is kept as VTime milliseconds (VTime::GetMilliseconds of the UTC time).
// - Texts are VString copies, which share the caller's counted buffer rather than copying it.
// - Not for two tasks at once: GetBag fills the record's bag on a const record. The logger hands a
//   batch to one listener at a time.
#pragma once

#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>

namespace zorn
{

class VValueBag;

class VLogRecord
{
public:
    VLogRecord() = default;
    ~VLogRecord();
    VLogRecord(const VLogRecord&) = delete;
    VLogRecord& operator=(const VLogRecord&) = delete;

    // The record of a message; any earlier content goes.
    void SetFields(EMessageLevel inLevel, const VString& inSource, const VString& inMessage,
                   int64_t inTimeMilliseconds, int64_t inSequence);
    // The record of a bag, retained; any earlier content goes.
    void SetBag(VValueBag* inRecord);
    // Empties the record (releasing its bag).
    void Clear();
    // Exchanges the contents of two records.
    void Swap(VLogRecord& ioOther) noexcept;

    bool IsEmpty() const { return !fHasFields && fBag == nullptr; }
    // Whether the record holds fields (else it holds a bag, or nothing).
    bool HasFields() const { return fHasFields; }
    EMessageLevel GetLevel() const { return fLevel; }
    const VString& GetSource() const { return fSource; }
    const VString& GetMessage() const { return fMessage; }
    int64_t GetTimeMilliseconds() const { return fTime; }
    int64_t GetSequence() const { return fSequence; }

    // The record's bag: the one it was filed with, or the one made from its fields on the first
    // call. Null for an empty record. The record keeps its reference.
    const VValueBag* GetBag() const;

    // The current UTC time in VTime milliseconds, as VTime(eInitWithCurrentTime) gives it.
    static int64_t NowMilliseconds();

private:
    mutable VValueBag* fBag = nullptr; // one reference
    VString fSource;
    VString fMessage;
    int64_t fTime = 0;
    int64_t fSequence = 0;
    EMessageLevel fLevel = EML_Information;
    bool fHasFields = false;
};

} // namespace zorn
