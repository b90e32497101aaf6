#include "toolbox/process/VBootLogListener.h"

#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

VBootLogListener::~VBootLogListener()
{
    for (const VValueBag* record : fRecords)
    {
        record->Release();
    }
}

void VBootLogListener::Put(const std::vector<const VValueBag*>& inRecords)
{
    for (const VValueBag* record : inRecords)
    {
        if (record == nullptr)
        {
            continue;
        }
        if (fRecords.size() >= kMaxRecords)
        {
            ++fDropped;
            continue;
        }
        record->Retain();
        fRecords.push_back(record);
    }
}

} // namespace zorn
