// VLogger: the process logger. Any task files records (reference-counted value bags keyed by
// ILoggerBagKeys) into a fixed ring under a short lock; the "Logger" task empties the ring every
// 100 ms and hands each batch, oldest first, to every listener, the newest listener first.
//
// Choices made where several were possible:
// - The ring holds 1000 records. A full ring drops its oldest record (producers never wait for a
//   listener); GetDroppedCount tells how many were lost so. Once the ring is three quarters full,
//   or wraps, the filing task wakes the "Logger" task, so a burst is delivered before it is lost
//   rather than up to 100 ms later.
// - The ring lock and the listener lock are never held together. A third lock, taken by Flush
//   alone around the take-out and the delivery, keeps batches taken by two flushing tasks in the
//   order they were taken.
// - The level mask and the started flag are read without a lock (atomics).
// - The ring's slots are records (VLogRecord) that keep their storage: LogMessage files the
//   message's fields, and the bag a listener may ask for is made only at delivery (and only when
//   a listener asks). LogBag files the bag itself. The record is made before the ring lock is
//   taken and swapped into its slot under it; a second ring of empty slots is swapped in at
//   take-out, so neither filing nor taking out allocates.
// - Records filed before Start, or after Stop once nobody flushes, are never delivered.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/values/VLogRecord.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace zorn
{

class VTask;
class VValueBag;

class VLogger : public VObject, public ILogger
{
public:
    static constexpr int32_t kRingSize = 1000;
    // The ring's count at which a filing task wakes the "Logger" task.
    static constexpr int32_t kWakeCount = kRingSize * 3 / 4;
    static constexpr uint32_t kDefaultLevelMask = 0xF0;
    static constexpr int kTaskStackSize = 64000;
    static constexpr int kFlushPeriodMs = 100;
    static constexpr int kStopWaitMs = 3000;

    VLogger();
    ~VLogger() override;
    VLogger(const VLogger&) = delete;
    VLogger& operator=(const VLogger&) = delete;

    void Start() override;
    void Stop() override;
    bool IsStarted() const override;
    bool ShouldLog(EMessageLevel inLevel) const override;
    void LogBag(VValueBag* ioRecord) override;
    void LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource) override;
    void Flush() override;
    bool WithTrace(bool inOn) override { return WithTag(EML_Trace, inOn); }
    bool WithDump(bool inOn) override { return WithTag(EML_Dump, inOn); }
    bool WithDebug(bool inOn) override { return WithTag(EML_Debug, inOn); }
    bool WithWarning(bool inOn) override { return WithTag(EML_Warning, inOn); }
    bool WithError(bool inOn) override { return WithTag(EML_Error, inOn); }
    bool WithFatal(bool inOn) override { return WithTag(EML_Fatal, inOn); }
    bool WithAssert(bool inOn) override { return WithTag(EML_Assert, inOn); }
    bool WithInfo(bool inOn) override { return WithTag(EML_Information, inOn); }
    bool AddLogListener(ILogListener* inListener) override;
    bool RemoveLogListener(ILogListener* inListener) override;

    // Sets or clears bit (inBit modulo 32) of the level mask; whether it was set.
    bool WithTag(uint32_t inBit, bool inOn);
    // Takes the pending records out as Flush does, without any lock; the caller owns one
    // reference to each. For a caller that keeps every producer and flusher away meanwhile.
    std::vector<const VValueBag*> Read();
    // Files the record in the ring (retained) without level test, added attributes or lock.
    void AddLogBag(VValueBag* inRecord);

    // Records dropped by a full ring since construction.
    uint64_t GetDroppedCount() const { return fDropped.load(std::memory_order_relaxed); }
    // The ring's next slot and wrapped flag (for tests).
    void GetRingState(int32_t& outCount, bool& outWrapped);

private:
    using Ring = std::array<VLogRecord, kRingSize>;

    // Stamps and files the record (which then holds the slot's old content, dropped); takes the
    // ring lock and wakes the "Logger" task when the ring fills.
    void _FileLocked(VLogRecord& ioRecord);
    // Swaps the record into the next slot; the ring lock is held by the caller when one is
    // needed. Whether the "Logger" task should be woken.
    bool _File(VLogRecord& ioRecord);
    // Swaps the ring for the empty spare one and lists the pending records, oldest first; the
    // ring lock is held by the caller when one is needed. The records stay in the spare ring
    // until _ClearTaken.
    void _TakePending(std::vector<const VLogRecord*>& ioRecords);
    // Empties the taken records, making the spare ring ready again.
    void _ClearTaken(const std::vector<const VLogRecord*>& inRecords);
    // The "Logger" task's body.
    void _Run();

    std::unique_ptr<Ring> fRing;
    std::unique_ptr<Ring> fSpare; // all empty between take-outs
    int32_t fCount = 0;
    bool fWrapped = false;
    VCriticalSection fRingLock;
    VCriticalSection fListenerLock;
    VCriticalSection fFlushLock;
    std::atomic<uint32_t> fLevelMask{kDefaultLevelMask};
    std::atomic<bool> fStarted{false};
    std::vector<ILogListener*> fListeners; // newest first, each retained
    std::atomic<VTask*> fTask{nullptr};    // one reference, made by the first AddLogListener
    std::atomic<uint64_t> fDropped{0};
};

} // namespace zorn
