#include "toolbox/intl/VUTIManager.h"

#include "toolbox/intl/VXMLParser.h"

#include <atomic>
#include <mutex>

namespace zorn
{

namespace
{

std::atomic<VUTIManager*> sSingleton{nullptr};

std::mutex& SingletonMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

} // namespace

const VString& VUTIManager::GetExtensionTagClass()
{
    static const VString sTagClass("public.filename-extension");
    return sTagClass;
}

const VString& VUTIManager::GetMIMETypeTagClass()
{
    static const VString sTagClass("public.mime-type");
    return sTagClass;
}

const VString& VUTIManager::GetOSTypeTagClass()
{
    static const VString sTagClass("com.apple.ostype");
    return sTagClass;
}

VUTIManager::VUTIManager() : fParser(std::make_unique<VXMLParser>())
{
    VXMLParser::Init();
}

VUTIManager::~VUTIManager()
{
    fParser.reset();
    VXMLParser::DeInit();
    VUTIMap types;
    types.swap(fUTIs);
    for (const auto& [identifier, type] : types)
    {
        type->_Detach();
        type->Release();
    }
}

VUTIManager* VUTIManager::GetUTIManager()
{
    VUTIManager* manager = sSingleton.load(std::memory_order_acquire);
    if (manager == nullptr)
    {
        std::lock_guard<std::mutex> lock(SingletonMutex());
        manager = sSingleton.load(std::memory_order_relaxed);
        if (manager == nullptr)
        {
            manager = new VUTIManager();
            sSingleton.store(manager, std::memory_order_release);
        }
    }
    return manager;
}

bool VUTIManager::DeInit()
{
    VUTIManager* manager = nullptr;
    {
        std::lock_guard<std::mutex> lock(SingletonMutex());
        manager = sSingleton.exchange(nullptr, std::memory_order_acq_rel);
    }
    if (manager != nullptr)
    {
        manager->Release();
    }
    return true;
}

void VUTIManager::Delete()
{
    DeInit();
}

bool VUTIManager::AddNewUTI(VUTI* inType)
{
    if (inType == nullptr || inType->GetIdentifier().IsEmpty() || fUTIs.contains(inType->GetIdentifier()))
    {
        return false;
    }
    inType->Retain();
    fUTIs.emplace(inType->GetIdentifier(), inType);
    return true;
}

VUTI* VUTIManager::GetUTI(const VString& inIdentifier) const
{
    auto found = fUTIs.find(inIdentifier);
    return found == fUTIs.end() ? nullptr : found->second;
}

} // namespace zorn
