#include "toolbox/kernel/values/VLogRecord.h"

#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <chrono>
#include <utility>

namespace zorn
{

VLogRecord::~VLogRecord()
{
    if (fBag != nullptr)
    {
        fBag->Release();
    }
}

void VLogRecord::SetFields(EMessageLevel inLevel, const VString& inSource, const VString& inMessage,
                           int64_t inTimeMilliseconds, int64_t inSequence)
{
    if (fBag != nullptr)
    {
        fBag->Release();
        fBag = nullptr;
    }
    fLevel = inLevel;
    fSource.FromString(inSource);
    fMessage.FromString(inMessage);
    fTime = inTimeMilliseconds;
    fSequence = inSequence;
    fHasFields = true;
}

void VLogRecord::SetBag(VValueBag* inRecord)
{
    inRecord->Retain();
    Clear();
    fBag = inRecord;
}

void VLogRecord::Clear()
{
    if (fBag != nullptr)
    {
        fBag->Release();
        fBag = nullptr;
    }
    if (fHasFields)
    {
        fSource.Clear();
        fMessage.Clear();
        fHasFields = false;
    }
}

void VLogRecord::Swap(VLogRecord& ioOther) noexcept
{
    std::swap(fBag, ioOther.fBag);
    fSource.Swap(ioOther.fSource);
    fMessage.Swap(ioOther.fMessage);
    std::swap(fTime, ioOther.fTime);
    std::swap(fSequence, ioOther.fSequence);
    std::swap(fLevel, ioOther.fLevel);
    std::swap(fHasFields, ioOther.fHasFields);
}

const VValueBag* VLogRecord::GetBag() const
{
    if (fBag == nullptr && fHasFields)
    {
        auto* bag = new VValueBag();
        bag->SetString(ILoggerBagKeys::source(), fSource);
        if (fLevel != ILoggerBagKeys::level().Get_Default())
        {
            bag->SetLong(ILoggerBagKeys::level(), fLevel);
        }
        bag->SetString(ILoggerBagKeys::message(), fMessage);
        VTime time;
        time.FromMilliseconds(fTime);
        bag->SetTime(ILoggerBagKeys::time(), time);
        bag->SetLong8(ILoggerBagKeys::sequence(), fSequence);
        fBag = bag;
    }
    return fBag;
}

int64_t VLogRecord::NowMilliseconds()
{
    // VTime counts milliseconds from its own origin; the Unix epoch's place on that scale is fixed.
    static const int64_t sEpoch = []
    {
        VTime epoch;
        epoch.FromUTCTime(1970, 1, 1, 0, 0, 0, 0);
        return epoch.GetMilliseconds();
    }();
    using namespace std::chrono;
    return sEpoch + duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- The listener's default delivery ----

void ILogListener::PutRecords(const std::vector<const VLogRecord*>& inRecords)
{
    std::vector<const VValueBag*> bags;
    bags.reserve(inRecords.size());
    for (const VLogRecord* record : inRecords)
    {
        if (const VValueBag* bag = record->GetBag())
        {
            bags.push_back(bag);
        }
    }
    Put(bags);
}

} // namespace zorn
